#include "startupnotification.h"

#include <charconv>

namespace quorrin::downloader {

std::uint32_t startupIdTime(const QString &startupId)
{
    const qsizetype marker = startupId.lastIndexOf(QLatin1String("_TIME"));
    if (marker < 0)
        return 0;
    const QByteArray digits = startupId.mid(marker + 5).toLatin1();
    std::uint32_t time = 0;
    const auto [end, error] = std::from_chars(digits.cbegin(), digits.cend(), time);
    if (error != std::errc() || end == digits.cbegin())
        return 0;
    return time;
}

QByteArray startupRemoveMessage(const QString &startupId)
{
    const QByteArray id = startupId.toUtf8();
    if (!id.contains(' ') && !id.contains('"') && !id.contains('\\'))
        return "remove: ID=" + id;
    QByteArray quoted = "\"";
    for (const char c : id) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return "remove: ID=" + quoted + '"';
}

} // namespace quorrin::downloader
