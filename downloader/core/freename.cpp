#include "freename.h"

namespace quorrin::downloader {

QString numberedPath(const QString &path, int number)
{
    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < nameStart)
        dot = path.size();
    return path.left(dot) + QLatin1Char('_') + QString::number(number) + path.mid(dot);
}

FreeName findFreeName(const QString &path, const ExistenceTest &exists)
{
    for (int number = 1;; ++number) {
        const QString candidate = numberedPath(path, number);
        const Existence existence = exists(candidate);
        if (existence.state == Existence::Absent)
            return {candidate, {}};
        if (existence.state == Existence::Failed)
            return {candidate, existence.cause};
    }
}

} // namespace quorrin::downloader
