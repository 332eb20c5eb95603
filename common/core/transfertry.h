#pragma once

// What one connection's requests do on its easy handle: the handle's options, each request
// and its deadline, and the judgement of a request that ended (another request, a piece given
// back, or the end of the job). The engine thread calls these; internal to the transfer code.

#include "transferjob.h"

#include <curl/curl.h>

namespace quorrin::engine {

// What an easy handle is set up for, beyond the job and the connection it serves: a handle
// that served one job serves the next of the same kind as it stands, its options unchanged.
struct HandleKind {
    TransferOptions::Protocols protocols;
    bool secure;
    bool ftp;
    QByteArray certificateAuthorities;
    QByteArray userAgent;
    qint64 maxSize;
    bool acceptEncoding;
    bool operator==(const HandleKind &) const = default;
};
HandleKind handleKind(const Job &job);

// Sets the options that hold for every request of a handle of `kind`, new or reset; `share`
// is the engine's share handle.
void setUpHandle(CURL *easy, const HandleKind &kind, CURLSH *share);
// Gives the connection's handle, set up for the job's kind, the job's address and the
// connection as the one it serves.
void attachHandle(Job &job, Connection &connection);

// Readies the handle for the connection's next request: the range the engine assigned it, or,
// for a try of the job itself, what part of the file it asks for; and the time left. False
// when the job was cancelled meanwhile: the request is then not to start.
bool setUpTry(Job &job, Connection &connection);

// What follows a request that ended.
enum class TryEnd {
    Done,     // its range is all written, the file is not complete: the connection may go on
    GiveBack, // it ended short: the rest of its range goes back, and the connection goes
    OneLeft,  // the server refused another connection: this one goes, and of the others only
              // the first stays on the line
    Restart,  // the file changed: every other connection goes, and the job tries again on this
              // one, from the first byte, at job.retryAt
    Later,    // the job tries again on this connection alone, at job.retryAt
    Over,     // the job has finished, or its complete file is on its way to its target
};

// Judges the request of `connection` that ended with `code`, with the job's lock held.
TryEnd endTry(Job &job, Connection &connection, CURLcode code);

} // namespace quorrin::engine
