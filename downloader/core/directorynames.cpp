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
    const QString spelling = path.first(std::max<qsizetype>(slash, 1));
    if (const auto found = m_bySpelling.constFind(spelling); found != m_bySpelling.cend())
        return found.value().get();
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
    return directory.get();
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
