#include "rangedfile.h"

#include "requestheader.h"

#include <QList>

#include <algorithm>

namespace quorrin::test {
namespace {

// A well-mixed 64-bit word from a counter (splitmix64): no shift of the pattern matches it.
quint64 mixed(quint64 x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

QByteArray etagOf(int version)
{
    return "\"v" + QByteArray::number(version) + '"';
}

QByteArray lastModifiedOf(int version)
{
    return "Tue, " + QByteArray::number(10 + version % 18) + " Nov 2026 10:00:00 GMT";
}

ScriptedServer::Reply status(const QByteArray &line, const QByteArray &extra = {})
{
    return {"HTTP/1.1 " + line + "\r\n" + extra + "Content-Length: 0\r\nConnection: close\r\n\r\n"};
}

} // namespace

RangedFileServer::RangedFileServer(qint64 size)
    : m_size(size)
    , m_server([this](const QByteArray &request, int index) { return answer(request, index); },
               ScriptedServer::Serving::AllAtOnce)
{
    m_clock.start();
}

QByteArray RangedFileServer::bytes(int version, qint64 offset, qint64 length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (qint64 i = 0; i < length;) {
        const qint64 at = offset + i;
        const quint64 word = mixed(quint64(at / 8) ^ (quint64(version) << 56));
        for (int b = int(at % 8); b < 8 && i < length; ++b, ++i)
            data[i] = char(word >> (8 * b));
    }
    return data;
}

qint64 RangedFileServer::size() const
{
    const std::lock_guard lock(m_mutex);
    return m_size;
}

void RangedFileServer::setPace(int bytes, int ms)
{
    const std::lock_guard lock(m_mutex);
    m_paceBytes = bytes;
    m_paceMs = ms;
}

void RangedFileServer::setVersion(int version, qint64 size)
{
    const std::lock_guard lock(m_mutex);
    m_version = version;
    if (size > 0)
        m_size = size;
}

void RangedFileServer::setNames(bool etag, bool lastModified)
{
    const std::lock_guard lock(m_mutex);
    m_etag = etag;
    m_lastModified = lastModified;
}

void RangedFileServer::setAcceptsRanges(bool accepts)
{
    const std::lock_guard lock(m_mutex);
    m_acceptsRanges = accepts;
}

void RangedFileServer::setIgnoresConditions(bool ignores)
{
    const std::lock_guard lock(m_mutex);
    m_ignoresConditions = ignores;
}

void RangedFileServer::setFault(Fault fault)
{
    const std::lock_guard lock(m_mutex);
    m_fault = std::move(fault);
}

std::vector<RangedFileServer::Request> RangedFileServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

int RangedFileServer::sending() const
{
    const std::lock_guard lock(m_mutex);
    return m_sending;
}

int RangedFileServer::mostSending() const
{
    const std::lock_guard lock(m_mutex);
    return m_mostSending;
}

void RangedFileServer::countMostSendingAgain()
{
    const std::lock_guard lock(m_mutex);
    m_mostSending = m_sending;
}

ScriptedServer::Reply RangedFileServer::answer(const QByteArray &text, int index)
{
    Request request;
    request.index = index;
    request.range = headerOf(text, "range");
    request.ifMatch = headerOf(text, "if-match");
    request.ifRange = headerOf(text, "if-range");
    request.ifUnmodifiedSince = headerOf(text, "if-unmodified-since");
    Fault fault;
    {
        const std::lock_guard lock(m_mutex);
        request.version = m_version;
        request.at = m_clock.elapsed();
        m_requests.push_back(request);
        fault = m_fault;
    }
    if (fault)
        if (std::optional<ScriptedServer::Reply> reply = fault(request))
            return *reply;
    return fileAnswer(request);
}

ScriptedServer::Reply RangedFileServer::fileAnswer(const Request &request)
{
    const std::lock_guard lock(m_mutex);
    const int version = m_version;
    const qint64 total = m_size;
    const QByteArray etag = m_etag ? etagOf(version) : QByteArray();
    const QByteArray modified = m_lastModified ? lastModifiedOf(version) : QByteArray();
    if (!m_ignoresConditions &&
        ((!request.ifMatch.isEmpty() && request.ifMatch != etag) ||
         (!request.ifUnmodifiedSince.isEmpty() && request.ifUnmodifiedSince != modified)))
        return status("412 Precondition Failed");
    const bool unchanged = m_ignoresConditions || request.ifRange.isEmpty() ||
                           request.ifRange == etag || request.ifRange == modified;
    qint64 first = 0;
    qint64 last = total - 1;
    const bool ranged = m_acceptsRanges && unchanged && request.range.startsWith("bytes=");
    if (ranged) {
        const QList<QByteArray> bounds = request.range.mid(6).split('-');
        first = bounds.value(0).toLongLong();
        if (!bounds.value(1).isEmpty())
            last = std::min(last, bounds.value(1).toLongLong());
        if (first >= total || last < first)
            return status("416 Range Not Satisfiable",
                          "Content-Range: bytes */" + QByteArray::number(total) + "\r\n");
    }
    QByteArray head = ranged ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    if (ranged)
        head += "Content-Range: bytes " + QByteArray::number(first) + '-' +
                QByteArray::number(last) + '/' + QByteArray::number(total) + "\r\n";
    head += "Content-Length: " + QByteArray::number(last - first + 1) + "\r\n";
    if (!etag.isEmpty())
        head += "ETag: " + etag + "\r\n";
    if (!modified.isEmpty())
        head += "Last-Modified: " + modified + "\r\n";
    if (m_acceptsRanges)
        head += "Accept-Ranges: bytes\r\n";
    head += "Connection: close\r\n\r\n";
    m_mostSending = std::max(m_mostSending, ++m_sending);
    ScriptedServer::Reply reply{head, ScriptedServer::Ending::Close, m_paceMs, m_paceBytes};
    reply.body = [version, first](qint64 offset, qint64 length) {
        return bytes(version, first + offset, length);
    };
    reply.bodyLength = last - first + 1;
    reply.sent = [this](bool) {
        const std::lock_guard lock(m_mutex);
        --m_sending;
    };
    return reply;
}

} // namespace quorrin::test
