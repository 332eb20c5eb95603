#include "bodymarkup.h"

namespace quorrin::updater {
namespace {

bool isTagSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\f');
}

// The position of the first tag `name` (e.g. "<body") at or after `from`, whose name ends
// there; -1 when there is none.
qsizetype findTag(QStringView document, QLatin1String name, qsizetype from)
{
    for (qsizetype at = document.indexOf(name, from, Qt::CaseInsensitive); at >= 0;
         at = document.indexOf(name, at + 1, Qt::CaseInsensitive)) {
        const qsizetype next = at + name.size();
        if (next == document.size())
            return at;
        const QChar c = document.at(next);
        if (c == QLatin1Char('>') || c == QLatin1Char('/') || isTagSpace(c))
            return at;
    }
    return -1;
}

// The position just after the ">" that closes the tag whose attributes start at `from`,
// skipping quoted attribute values; the document's size when the tag never closes.
qsizetype endOfStartTag(QStringView document, qsizetype from)
{
    qsizetype at = from;
    while (at < document.size()) {
        const QChar c = document.at(at++);
        if (c == QLatin1Char('>'))
            return at;
        if (c != QLatin1Char('='))
            continue;
        while (at < document.size() && isTagSpace(document.at(at)))
            ++at;
        if (at < document.size() &&
            (document.at(at) == QLatin1Char('"') || document.at(at) == QLatin1Char('\''))) {
            const qsizetype close = document.indexOf(document.at(at), at + 1);
            at = close < 0 ? document.size() : close + 1;
        }
    }
    return document.size();
}

} // namespace

QString bodyMarkup(const QString &document)
{
    const QStringView view(document);
    const QLatin1String startName("<body");
    const qsizetype start = findTag(view, startName, 0);
    if (start < 0)
        return document;
    const qsizetype inner = endOfStartTag(view, start + startName.size());
    const qsizetype end = findTag(view, QLatin1String("</body"), inner);
    return document.mid(inner, end < 0 ? -1 : end - inner);
}

} // namespace quorrin::updater
