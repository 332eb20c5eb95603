#include "directorynames.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <dirent.h>
namespace quorrin::downloader {
namespace {

std::size_t hashOf(QStringView name)
{
    return qHash(name);
}

// The hashes of the names in `directory`, sorted; false when it cannot be read.
bool readNames(const QString &directory, std::vector<std::size_t> &names)
{
    struct Closer {
        void operator()(DIR *dir) const { ::closedir(dir); }
    };
    const std::unique_ptr<DIR, Closer> dir(::opendir(QFile::encodeName(directory).constData()));
    if (!dir)
        return false;
    while (const dirent *entry = ::readdir(dir.get()))
        names.push_back(hashOf(QFile::decodeName(entry->d_name)));
    std::sort(names.begin(), names.end());
    return true;
}

} // namespace

// The directory that holds `path`, read the first time; none when it cannot be read, which is
// tried again next time (it may be made meanwhile).
DirectoryNames::Directory *DirectoryNames::directoryOf(const QString &path, QStringView &name)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || slash == path.size() - 1)
        return nullptr;
    name = QStringView(path).sliced(slash + 1);
    // A queue's entries mostly share their directory: the last one is at hand without a copy
    // of its spelling or a lookup.
    const QStringView spelt = QStringView(path).first(std::max<qsizetype>(slash, 1));
    if (m_last && spelt == m_lastSpelling)
        return m_last;
    const QString spelling = spelt.toString();
    if (const auto found = m_bySpelling.constFind(spelling); found != m_bySpelling.cend())
        return remember(spelling, found.value().get());
    const QString clean = QDir::cleanPath(spelling);
    std::shared_ptr<Directory> &directory = m_byCleanPath[clean];
    if (!directory) {
        auto read = std::make_shared<Directory>();
        if (!readNames(clean, read->found)) {
            m_byCleanPath.remove(clean);
            return nullptr;
        }
        directory = std::move(read);
    }
    m_bySpelling.insert(spelling, directory);
    return remember(spelling, directory.get());
}

DirectoryNames::Directory *DirectoryNames::remember(const QString &spelling, Directory *directory)
{
    m_lastSpelling = spelling;
    m_last = directory;
    return directory;
}

bool DirectoryNames::mayExist(const QString &path)
{
    QStringView name;
    const Directory *directory = directoryOf(path, name);
    if (!directory)
        return true;
    const std::size_t hash = hashOf(name);
    return std::binary_search(directory->found.begin(), directory->found.end(), hash) ||
           directory->taken.contains(hash);
}

void DirectoryNames::take(const QString &path)
{
    QStringView name;
    if (Directory *directory = directoryOf(path, name))
        directory->taken.insert(hashOf(name));
}

} // namespace quorrin::downloader
