#pragma once

#include <QString>

namespace quorrin::updater {

// The markup between the page's `<body ...>` start tag and its `</body>` end tag, as the
// server sent it. Tag names match in any case and the start tag may carry attributes (a
// quoted value may hold ">"); `<bodyx>` is not a body tag. A document without a body start
// tag is taken whole; a body without an end tag runs to the end of the document.
QString bodyMarkup(const QString &document);

} // namespace quorrin::updater
