#pragma once

// What one connection's requests do on its easy handle: the handle's options, each request
// and its deadline, and the judgement of a request that ended (another request, a piece given
// back, or the end of the job). The engine thread calls these; internal to the transfer code.

#include "transferjob.h"

#include <curl/curl.h>

namespace quorrin::engine {

// Sets the options that hold for every request of `connection` on its new easy handle;
// `share` is the engine's share handle.
void setUpHandle(Job &job, Connection &connection, CURLSH *share);

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
