#include "pathlimits.h"

#include "downloadtarget.h"

#include <QFile>
#include <QHash>

#include <climits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrin::downloader {
namespace {

long limitOf(QStringView directory, int name, long fallback)
{
    // A queue asks about the same directory for entry after entry: the last answer for each
    // kind of limit is at hand without a lock, or a copy of the directory's path.
    struct Known {
        int name = -1;
        QString directory;
        long limit = 0;
    };
    thread_local Known last[2];
    Known &mine = last[name == _PC_NAME_MAX];
    if (mine.name == name && mine.directory == directory)
        return mine.limit;
    const QString spelt = directory.toString();
    // A file system's limits do not change while it stays mounted.
    static std::mutex mutex;
    static QHash<std::pair<QString, int>, long> known;
    const std::lock_guard lock(mutex);
    long limit = known.value({spelt, name}, 0);
    if (limit == 0) {
        limit = ::pathconf(QFile::encodeName(spelt).constData(), name);
        if (limit <= 0)
            limit = fallback;
        if (known.size() > 256)
            known.clear();
        known.insert({spelt, name}, limit);
    }
    mine = {name, spelt, limit};
    return limit;
}

// The bytes of a name or path: a UTF-16 code unit is at most three bytes of UTF-8, so that
// most are known to fit without being encoded.
qsizetype encodedSize(QStringView text, long limit)
{
    return 3 * text.size() < limit ? text.size() : QFile::encodeName(text.toString()).size();
}

QStringView lastName(QStringView path)
{
    return path.sliced(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

Result<> checkPathLimits(const QString &path, bool holdingDirectoryExists)
{
    const bool absolute = path.startsWith(QLatin1Char('/'));
    QStringView ancestor = absolute ? u"/" : u".";
    // The limit counts the terminating zero byte.
    const long pathMax = limitOf(ancestor, _PC_PATH_MAX, PATH_MAX);
    if (const qsizetype size = encodedSize(path, pathMax); size >= pathMax)
        return Failure{QStringLiteral("Chemin trop long : %1 octets, le système en permet %2")
                           .arg(size)
                           .arg(pathMax - 1)};

    // A queue's entries mostly go into directories that are there: only their names count.
    const QStringList prefixes = holdingDirectoryExists ? QStringList() : directoryPrefixes(path);
    qsizetype missing = 0; // the first directory still to be made
    if (const QStringView holding = holdingDirectory(path);
        holdingDirectoryExists && !holding.isEmpty())
        ancestor = holding;
    // The nearest existing directory is found from the deepest up: most often the first.
    for (qsizetype i = prefixes.size(); i-- > missing;) {
        struct stat status;
        if (::stat(QFile::encodeName(prefixes.at(i)).constData(), &status) == 0) {
            ancestor = prefixes.at(i);
            missing = i + 1;
            break;
        }
    }
    const long nameMax = limitOf(ancestor, _PC_NAME_MAX, NAME_MAX);
    for (qsizetype i = missing; i < prefixes.size(); ++i) {
        const qsizetype size = encodedSize(lastName(prefixes.at(i)), nameMax);
        if (size > nameMax)
            return Failure{
                QStringLiteral(
                    "Nom de dossier trop long : %1 octets, le système de fichiers en permet %2")
                    .arg(size)
                    .arg(nameMax)};
    }
    const qsizetype size = encodedSize(lastName(path), nameMax);
    if (size > nameMax)
        return Failure{
            QStringLiteral(
                "Nom de fichier trop long : %1 octets, le système de fichiers en permet %2")
                .arg(size)
                .arg(nameMax)};
    return {};
}

} // namespace quorrin::downloader
