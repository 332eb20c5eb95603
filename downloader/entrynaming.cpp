#include "entrynaming.h"

namespace quorrin {

std::optional<QString> fileNameFromAddress(const QString &address)
{
    const qsizetype slash = address.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return std::nullopt;
    return address.mid(slash + 1);
}

std::optional<QString> pathInSameDirectory(const QString &path, const QString &name)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return std::nullopt;
    return path.left(slash + 1) + name;
}

} // namespace quorrin
