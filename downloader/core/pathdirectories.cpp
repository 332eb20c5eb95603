#include "pathdirectories.h"

#include "pathexistence.h"

namespace quorrin::downloader {

QStringList directoryPrefixes(const QString &path)
{
    QStringList prefixes;
    for (qsizetype slash = path.indexOf(QLatin1Char('/')); slash >= 0;
         slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
        if (slash > 0)
            prefixes << path.left(slash);
    }
    return prefixes;
}

Result<> CreatePathDirectories(const QString &path)
{
    for (const QString &prefix : directoryPrefixes(path)) {
        const Existence existence = testExistence(prefix);
        if (existence.state == Existence::Failed)
            return Failure{existence.cause};
        if (existence.state == Existence::Absent) {
            if (Result<> made = makeDirectory(prefix); !made)
                return made;
        }
    }
    return {};
}

} // namespace quorrin::downloader
