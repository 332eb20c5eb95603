#include "resumablefile.h"

#include "requestheader.h"

namespace quorrin::test {

ScriptedServer::Reply ResumableFile::answer(const QByteArray &request)
{
    const QByteArray range = headerOf(request, "range");
    const QByteArray ifRange = headerOf(request, "if-range");
    rangesAsked << range;
    const bool unchanged =
        ignoresIfRange || ifRange.isEmpty() || ifRange == etag || ifRange == lastModified;
    qint64 first = 0;
    if (honoursRanges && unchanged && range.startsWith("bytes="))
        first = range.mid(6).split('-').value(0).toLongLong() / alignment * alignment;
    const qint64 total = content.size();
    QByteArray head = first > 0 ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    head += "Content-Length: " + QByteArray::number(total - first) + "\r\n";
    if (first > 0)
        head += "Content-Range: bytes " + QByteArray::number(first) + '-' +
                QByteArray::number(total - 1) + '/' + QByteArray::number(total) + "\r\n";
    if (!etag.isEmpty())
        head += "ETag: " + etag + "\r\n";
    if (!lastModified.isEmpty())
        head += "Last-Modified: " + lastModified + "\r\n";
    head += "Accept-Ranges: bytes\r\nConnection: close\r\n\r\n";
    QByteArray body = content.mid(first);
    if (cutAfter > 0 && rangesAsked.size() <= cutAnswers)
        body.truncate(cutAfter);
    bytesSent += body.size();
    return {head + body, ScriptedServer::Ending::Close};
}

} // namespace quorrin::test
