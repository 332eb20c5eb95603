#pragma once

#include <QByteArray>
#include <QList>

namespace quorrin::test {

// The value of a header of a raw HTTP request; `name` in lower case.
inline QByteArray headerOf(const QByteArray &request, const QByteArray &name)
{
    for (const QByteArray &line : request.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace quorrin::test
