#include "addresslist.h"

#include "entrynaming.h"
#include "systemerror.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <variant>

namespace quorrin::downloader {
namespace {

QString readCause(int error)
{
    switch (error) {
    case ENOENT:
        return QStringLiteral("fichier introuvable");
    case EISDIR:
        return QStringLiteral("c'est un dossier");
    case EACCES:
    case EPERM:
        return QStringLiteral("accès refusé");
    default:
        return systemErrorCause(error);
    }
}

Failure unreadable(const QString &fileName, const QString &cause)
{
    const QString shown = fileName == QLatin1String("-") ? QStringLiteral("l'entrée standard")
                                                         : QStringLiteral("« %1 »").arg(fileName);
    return Failure{QStringLiteral("impossible de lire %1 : %2").arg(shown, cause)};
}

// Everything `fd` gives until its end, or the errno that stopped it.
std::variant<QByteArray, int> readAll(int fd)
{
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0)
            return bytes;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (bytes.size() + count > MaxAddressListBytes)
            return EFBIG;
        bytes.append(buffer, count);
    }
}

} // namespace

Result<QStringList> readAddressList(const QString &fileName)
{
    const bool standardInput = fileName == QLatin1String("-");
    const int fd = standardInput ? STDIN_FILENO
                                 : ::open(QFile::encodeName(fileName).constData(),
                                          O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return unreadable(fileName, readCause(errno));
    const std::variant<QByteArray, int> read = readAll(fd);
    if (!standardInput)
        ::close(fd);
    if (const int *error = std::get_if<int>(&read)) {
        if (*error == EFBIG)
            return unreadable(fileName, QStringLiteral("plus de 64 Mio"));
        return unreadable(fileName, readCause(*error));
    }
    return addressLines(QString::fromUtf8(std::get<QByteArray>(read)));
}

Result<QStringList> addressesOf(const QList<StartArguments::Source> &sources)
{
    QStringList addresses;
    for (const StartArguments::Source &source : sources) {
        if (!source.isFile) {
            addresses << addressLines(source.text);
            continue;
        }
        const Result<QStringList> listed = readAddressList(source.text);
        if (!listed)
            return Failure{listed.cause()};
        addresses << listed.value();
    }
    return addresses;
}

} // namespace quorrin::downloader
