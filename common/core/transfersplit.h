#pragma once

// How the engine shares a job's file among connections: which range a connection fetches
// next, when connections are added, and which one gives its range back. On the engine's
// thread, with the job's lock held; the engine itself puts handles on the line and takes them
// off. Internal to the transfer code.

#include "transferjob.h"

#include <vector>

namespace quorrin::engine {

// Gives `connection` the range it is to fetch next: of a file fetched in pieces, a range that
// no connection fetches, whole, or the second half of another connection's range (that one
// then stops at its middle), never a half below `minimumPiece`; once the file may not be
// split, only a range that nobody fetches. False when there is nothing to give it.
bool assignPiece(Job &job, Connection &connection, qint64 minimumPiece);

// A connection that has finished its range and found nothing to take waits, with its pace,
// for a range that another gives back.
void goIdle(Connection &connection, Clock::time_point now);

// The connections to add to the job now, each with its range assigned (none yet on the line),
// at most `room`. The first connection alone sets the reference of what one connection
// brings; then each round multiplies the connections on the line (see GrowthFactor), once
// the round before was found to help (see roundHelped) while the engine had room (see
// hasRoom), until one was not. `waited` is how long the engine has waited for the network
// in all.
std::vector<Connection *> grow(Job &job, Clock::time_point now, int room, Clock::duration waited);

// `connection` leaves the round being judged before its window was over: it counts as having
// brought `brought`, or, when nothing, not at all.
void leaveRound(Job &job, const Connection &connection, std::optional<qint64> brought);

// The connections on the line whose remainders the job's waiting connections take over
// whole, as many as there are waiting ones, the largest remainders first: remainders too small
// to split, on connections that have brought nothing for a growth window. A server that sends
// in bursts (one that holds each connection to a rate often sends a fraction of a second's
// worth at once) leaves such a connection waiting for its next burst, while a new request gets
// its first one at once.
std::vector<Connection *> quietToTakeOver(Job &job, Clock::time_point now);

// Whether a connection of the job waits for a range to take.
bool hasWaitingConnection(const Job &job);

// The connection on the line, if any, that is far slower than the others (see
// connectionToRelieve): what it has left is better fetched by them.
Connection *toRelieve(Job &job, Clock::time_point now);

} // namespace quorrin::engine
