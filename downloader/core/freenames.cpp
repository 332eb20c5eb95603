#include "freenames.h"

namespace quorrin::downloader {

DownloadTarget FreeNames::find(const QString &path)
{
    int &taken = m_taken[path];
    for (int number = taken + 1;; ++number) {
        const QString candidate = numberedPath(path, number);
        const Result<bool> found = m_exists(candidate);
        if (found && found.value())
            continue;
        taken = number - 1;
        if (!found)
            return {candidate, {found.cause()}, true};
        return {candidate, {}, true};
    }
}

} // namespace quorrin::downloader
