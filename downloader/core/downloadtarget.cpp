#include "downloadtarget.h"

#include "pathlimits.h"
#include "systemerror.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace quorrin::downloader {
namespace {

// The parent of `path` exists: CreatePathDirectories walks down from the top.
Result<> makeDirectory(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return {};
    const int error = errno;
    return Failure{QStringLiteral("Impossible de créer le dossier « %1 » : %2")
                       .arg(path, systemErrorCause(error))};
}

// A refusal is the entry's last word: nothing is made or sent for it.
void refuseOverLimits(DownloadTarget &target, bool holdingDirectoryExists)
{
    if (const Result<> limits = checkPathLimits(target.path, holdingDirectoryExists); !limits) {
        target.causes << limits.cause();
        target.usable = false;
    }
}

} // namespace

Result<bool> testExistence(const QString &path)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
        return true;
    const int error = errno;
    // A path under a plain file cannot exist; that is an answer, not a failure.
    if (error == ENOENT || error == ENOTDIR)
        return false;
    return Failure{
        QStringLiteral("Impossible de vérifier « %1 » : %2").arg(path, systemErrorCause(error))};
}

// A path ending in "/" names a directory, which is then among its own prefixes.
QStringList directoryPrefixes(const QString &path)
{
    QStringList prefixes;
    for (qsizetype slash = path.indexOf(QLatin1Char('/')); slash >= 0;
         slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
        if (slash > 0) // the root always exists
            prefixes << path.left(slash);
    }
    return prefixes;
}

QStringView holdingDirectory(QStringView path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash > 0 ? path.first(slash) : QStringView();
}

Result<> CreatePathDirectories(const QString &path)
{
    const QStringList prefixes = directoryPrefixes(path);
    // Where the deepest is found, so are all the others: one look is enough.
    if (const Result<bool> found =
            prefixes.isEmpty() ? Result<bool>(true) : testExistence(prefixes.last());
        found && found.value())
        return {};
    for (const QString &prefix : prefixes) {
        const Result<bool> exists = testExistence(prefix);
        if (!exists)
            return Failure{exists.cause()};
        if (!exists.value()) {
            if (Result<> made = makeDirectory(prefix); !made)
                return made;
        }
    }
    return {};
}

// A dot in a directory's name is no extension: "my.dir/readme" → "my.dir/readme_1".
QString numberedPath(const QString &path, int number)
{
    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < nameStart)
        dot = path.size();
    return path.left(dot) + QLatin1Char('_') + QString::number(number) + path.mid(dot);
}

DownloadTarget findFreeName(const QString &path, const ExistenceTest &exists)
{
    for (int number = 1;; ++number) {
        const QString candidate = numberedPath(path, number);
        const Result<bool> taken = exists(candidate);
        if (!taken)
            return {candidate, {taken.cause()}, true};
        if (!taken.value())
            return {candidate, {}, true};
    }
}

// A failure to make a directory or to test a name is reported and the entry still gets its
// transfer; only the limits refuse one.
DownloadTarget prepareTarget(const QString &storedPath, const ExistenceTest &exists,
                             const FreeNameSearch &freeName)
{
    DownloadTarget target{storedPath, {}, true};
    // Where the deepest directory is found, so are all the others: nothing to make.
    const QString deepest = holdingDirectory(storedPath).toString();
    const Result<bool> holding = deepest.isEmpty() ? Result<bool>(true) : exists(deepest);
    const bool found = holding && holding.value();
    // A name the file system cannot hold is refused before anything is made or sent.
    refuseOverLimits(target, found);
    if (!target.usable)
        return target;
    if (!found) {
        if (const Result<> made = CreatePathDirectories(target.path); !made)
            target.causes << made.cause();
    }
    // Nothing that stands at the path is replaced, nor what may stand at a path that could not
    // be tested: a numbered name is chosen instead.
    const Result<bool> taken = exists(target.path);
    if (!taken)
        target.causes << taken.cause();
    if (!taken || taken.value()) {
        const DownloadTarget free =
            freeName ? freeName(target.path) : findFreeName(target.path, exists);
        target.causes << free.causes;
        target.path = free.path;
        refuseOverLimits(target, found); // a number makes the name longer
    }
    return target;
}

QString nextFreePath(const QString &storedPath)
{
    return findFreeName(storedPath).path;
}

bool holdingDirectoryExists(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return false;
    struct stat status;
    const QString directory = slash == 0 ? QStringLiteral("/") : path.left(slash);
    return ::stat(QFile::encodeName(directory).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode);
}

} // namespace quorrin::downloader
