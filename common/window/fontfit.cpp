#include "fontfit.h"

#include <QFontMetrics>

#include <algorithm>

namespace quorrin {

QFont fontFitting(QFont font, int pixelSize, const QList<std::pair<QString, int>> &textsInWidths)
{
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    int stretch = 100;
    for (const auto &[text, width] : textsInWidths) {
        const int needed = metrics.horizontalAdvance(text);
        if (needed > width)
            stretch = std::min(stretch, 100 * width / needed);
    }
    font.setStretch(stretch);
    return font;
}

} // namespace quorrin
