#include "resumerecord.h"

#include <QFile>
#include <QList>

#include <sys/xattr.h>

namespace quorrin {
namespace {

constexpr char UrlName[] = "user.quorrin.url";
constexpr char ValidatorName[] = "user.quorrin.validator";
constexpr char TotalName[] = "user.quorrin.total";
constexpr char HeldName[] = "user.quorrin.held";
constexpr char WrittenName[] = "user.quorrin.written";

// Tells one start of the system from the next: what only the page cache held is gone after it.
// Never destroyed: the disk threads still keep part files while the process's statics go.
const QByteArray &bootId()
{
    static const QByteArray *const id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return new QByteArray(file.open(QIODevice::ReadOnly) ? file.readAll().trimmed()
                                                             : QByteArray());
    }();
    return *id;
}

// "<boot id> <bytes>", for this start of the system only.
qint64 writtenSinceBoot(const QByteArray &value)
{
    const QList<QByteArray> parts = value.split(' ');
    bool ok = false;
    const qint64 bytes = parts.value(1).toLongLong(&ok);
    return parts.size() == 2 && ok && bytes > 0 && !bootId().isEmpty() && parts.at(0) == bootId()
               ? bytes
               : 0;
}

std::optional<QByteArray> attribute(int fd, const char *name)
{
    QByteArray value(4096, '\0');
    const ssize_t size = ::fgetxattr(fd, name, value.data(), size_t(value.size()));
    if (size < 0)
        return std::nullopt;
    value.truncate(size);
    return value;
}

bool setAttribute(int fd, const char *name, const QByteArray &value)
{
    return ::fsetxattr(fd, name, value.constData(), size_t(value.size()), 0) == 0;
}

} // namespace

std::optional<ResumeRecord> ResumeRecord::read(int fd)
{
    const std::optional<QByteArray> url = attribute(fd, UrlName);
    if (!url || url->isEmpty())
        return std::nullopt;
    ResumeRecord record;
    record.url = *url;
    record.validator = attribute(fd, ValidatorName).value_or(QByteArray());
    bool ok = false;
    record.total = attribute(fd, TotalName).value_or("-1").toLongLong(&ok);
    if (!ok)
        record.total = -1;
    record.held = attribute(fd, HeldName).value_or("0").toLongLong(&ok);
    if (!ok || record.held < 0)
        record.held = 0;
    record.written = writtenSinceBoot(attribute(fd, WrittenName).value_or(QByteArray()));
    return record;
}

bool ResumeRecord::write(int fd) const
{
    // The address goes last: it is what marks the file as one of ours, with a whole record.
    if (!setAttribute(fd, ValidatorName, validator) ||
        !setAttribute(fd, TotalName, QByteArray::number(total)) ||
        !setAttribute(fd, HeldName, QByteArray::number(held)))
        return false;
    writeWritten(fd, written);
    return setAttribute(fd, UrlName, url);
}

void ResumeRecord::writeHeld(int fd, qint64 held)
{
    setAttribute(fd, HeldName, QByteArray::number(held));
}

void ResumeRecord::writeWritten(int fd, qint64 written)
{
    if (!bootId().isEmpty())
        setAttribute(fd, WrittenName, bootId() + ' ' + QByteArray::number(written));
}

void ResumeRecord::erase(int fd)
{
    for (const char *name : {UrlName, ValidatorName, TotalName, HeldName, WrittenName})
        ::fremovexattr(fd, name);
}

} // namespace quorrin
