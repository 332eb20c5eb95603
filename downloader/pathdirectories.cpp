#include "pathdirectories.h"

#include "pathexistence.h"

namespace quorrin {

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

QString CreatePathDirectories(const QString &path)
{
    for (const QString &prefix : directoryPrefixes(path)) {
        const Existence existence = testExistence(prefix);
        if (existence.state == Existence::Failed)
            return existence.cause;
        if (existence.state == Existence::Absent) {
            if (QString failure = makeDirectory(prefix); !failure.isEmpty())
                return failure;
        }
    }
    return {};
}

} // namespace quorrin
