#pragma once

#include <QFont>
#include <QList>
#include <QString>

#include <utility>

namespace quorrin {

// `font` at `pixelSize`, narrowed just as far as needed for every text to fit its width in
// pixels. The windows' layouts were drawn for a small system font; desktop fonts are wider.
QFont fontFitting(QFont font, int pixelSize, const QList<std::pair<QString, int>> &textsInWidths);

} // namespace quorrin
