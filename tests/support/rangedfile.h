#pragma once

#include "scriptedserver.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace quorrin::test {

// A large file served to several connections at once as a server that takes ranges serves
// it: each answer held to a pace, the file's bytes a pattern of their offsets and of the
// file's version, so that a file of many megabytes costs no memory and a byte out of its
// place shows. A range asked with If-Range, If-Match or If-Unmodified-Since is answered as
// HTTP says: 206, or the whole file, or 412. Settings may change while it serves; faults on
// request.
class RangedFileServer {
public:
    // One request, as the server saw it.
    struct Request {
        int index = 0;
        QByteArray range; // the Range header's value, empty when none
        QByteArray ifMatch;
        QByteArray ifRange;
        QByteArray ifUnmodifiedSince;
        int version = 0; // the file's version when it came
        qint64 at = 0;   // milliseconds since the server started
    };
    // Answers a request instead of the file when it says so.
    using Fault = std::function<std::optional<ScriptedServer::Reply>(const Request &)>;

    explicit RangedFileServer(qint64 size);

    QString url() const { return m_server.url(QStringLiteral("/file.bin")); }
    // The bytes [offset, offset + length) of the file in `version`.
    static QByteArray bytes(int version, qint64 offset, qint64 length);
    qint64 size() const;
    int openConnections() const { return m_server.openConnections(); }

    // Each answer's body goes out `bytes` at a time, `ms` apart; 0 for no pace.
    void setPace(int bytes, int ms);
    // Another version of the file from now on: other bytes, another ETag and date, and
    // `size` bytes (the same size when 0).
    void setVersion(int version, qint64 size = 0);
    // Which of the version's names its answers give, and whether it says it takes ranges.
    void setNames(bool etag, bool lastModified);
    void setAcceptsRanges(bool accepts);
    // A server (or a cache before it) that answers a range whatever version was asked for.
    void setIgnoresConditions(bool ignores);
    void setFault(Fault fault);

    std::vector<Request> requests() const;
    // Answers being sent now, and the most there were at once (since the last count began).
    int sending() const;
    int mostSending() const;
    void countMostSendingAgain();
    // What the server answers `request` when no fault says otherwise: for a fault that
    // changes it.
    ScriptedServer::Reply fileAnswer(const Request &request);

private:
    ScriptedServer::Reply answer(const QByteArray &request, int index);

    mutable std::mutex m_mutex; // guards what follows
    QElapsedTimer m_clock;
    qint64 m_size;
    int m_version = 1;
    bool m_etag = true;
    bool m_lastModified = true;
    bool m_acceptsRanges = true;
    bool m_ignoresConditions = false;
    int m_paceBytes = 0;
    int m_paceMs = 0;
    Fault m_fault;
    std::vector<Request> m_requests;
    int m_sending = 0;
    int m_mostSending = 0;
    ScriptedServer m_server; // last: it goes first, while what it calls is still there
};

} // namespace quorrin::test
