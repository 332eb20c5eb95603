#include "downloadtarget.h"

#include "freename.h"
#include "pathdirectories.h"
#include "pathexistence.h"
#include "pathlimits.h"

namespace quorrin::downloader {

DownloadTarget prepareTarget(const QString &storedPath)
{
    DownloadTarget target{storedPath, {}, true};
    const auto refuseOverLimits = [&target] {
        if (const Result<> limits = checkPathLimits(target.path); !limits) {
            target.causes << limits.cause();
            target.usable = false;
        }
    };
    // A name the file system cannot hold is refused before anything is made or sent.
    refuseOverLimits();
    if (!target.usable)
        return target;
    if (const Result<> made = CreatePathDirectories(target.path); !made)
        target.causes << made.cause();
    // Nothing that stands at the path is replaced: a numbered name is chosen instead.
    const Existence existence = testExistence(target.path);
    if (existence.state == Existence::Failed)
        target.causes << existence.cause;
    if (existence.state != Existence::Absent) {
        const FreeName freeName = findFreeName(target.path);
        if (!freeName.failure.isEmpty())
            target.causes << freeName.failure;
        target.path = freeName.path;
    }
    refuseOverLimits();
    return target;
}

QString nextFreePath(const QString &storedPath)
{
    return findFreeName(storedPath).path;
}

} // namespace quorrin::downloader
