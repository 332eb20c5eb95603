#include "transfersplit.h"

#include "piecepicker.h"

#include <algorithm>
#include <limits>

namespace quorrin::engine {
namespace {

using namespace std::chrono_literals;

// A connection added to a file that writes nothing within this long brought nothing.
std::chrono::milliseconds patienceFor(const Split &split)
{
    return std::max(split.window * 10, std::chrono::milliseconds(1000));
}

Connection *find(Job &job, int id)
{
    for (const auto &connection : job.connections)
        if (connection->id == id)
            return connection.get();
    return nullptr;
}

int activeCount(const Job &job)
{
    return int(std::count_if(job.connections.begin(), job.connections.end(),
                             [](const auto &connection) { return connection->active; }));
}

// Takes the verdicts of the round's connections whose windows are over; true once every one
// of them has one.
bool judgeRound(Job &job, Clock::time_point now)
{
    Split &split = job.split;
    std::erase_if(split.round, [&](int id) {
        const Connection *connection = find(job, id);
        if (!connection)
            return true;
        if (connection->firstWrite && now - *connection->firstWrite >= split.window) {
            split.brought.push_back(connection->windowBytes);
            return true;
        }
        // Its range was over within its window: it brought all it could.
        if (!connection->active && !connection->assigned) {
            split.brought.push_back(std::max(connection->windowBytes, split.reference));
            return true;
        }
        if (!connection->firstWrite && now - connection->started >= patienceFor(split)) {
            split.brought.push_back(0);
            return true;
        }
        return false;
    });
    return split.round.empty();
}

// Whether the round still being judged has already helped: what a connection brings within
// its window only grows.
bool helpedAlready(Job &job)
{
    std::vector<qint64> brought = job.split.brought;
    for (const int id : job.split.round) {
        const Connection *connection = find(job, id);
        if (!connection || !connection->firstWrite)
            return false;
        brought.push_back(connection->windowBytes);
    }
    return roundHelped(job.split.reference, brought);
}

} // namespace

bool assignPiece(Job &job, Connection &connection, qint64 minimumPiece)
{
    if (!job.file || job.total <= 0)
        return false;
    std::vector<ByteRange> underway;
    std::vector<Connection *> owners;
    for (const auto &other : job.connections)
        if (other.get() != &connection && other->remaining() > 0) {
            underway.push_back({other->position, other->end});
            owners.push_back(other.get());
        }
    const qint64 minimum = job.split.allowed ? minimumPiece : std::numeric_limits<qint64>::max();
    const std::optional<Piece> piece = nextPiece(job.total, job.file->held(), underway, minimum);
    if (!piece)
        return false;
    if (piece->shortened)
        owners[*piece->shortened]->end = piece->range.begin;
    connection.position = piece->range.begin;
    connection.end = piece->range.end;
    connection.assigned = true;
    return true;
}

void goIdle(Connection &connection, Clock::time_point now)
{
    connection.idleRate = connection.pace.bytesPerSecond();
    if (!connection.idleRate && connection.firstWrite && now - *connection.firstWrite > 100ms)
        connection.idleRate = double(connection.brought) /
                              std::chrono::duration<double>(now - *connection.firstWrite).count();
    // Its pace starts again when it does: waiting is not slowness.
    connection.pace = PaceMeter();
}

std::vector<Connection *> grow(Job &job, Clock::time_point now, int room, Clock::duration waited)
{
    Split &split = job.split;
    if (!split.allowed || !split.possible || split.settled)
        return {};
    const auto engineHadRoom = [&] {
        return !engineRoomJudged() || hasRoom(waited - split.waitedBefore, now - *split.roundSince);
    };
    if (split.reference < 0) {
        // The first connection, alone, over its window.
        if (activeCount(job) != 1 || job.connections.size() != 1)
            return {};
        const Connection &first = *job.connections.front();
        if (!first.firstWrite)
            return {};
        if (!split.roundSince) {
            split.roundSince = now;
            split.waitedBefore = waited;
        }
        // The engine's room is judged over a window too.
        if (now - *first.firstWrite < split.window || now - *split.roundSince < split.window)
            return {};
        split.reference = first.windowBytes;
        if (!engineHadRoom()) {
            split.settled = true;
            return {};
        }
    } else {
        // A round is judged once its connections' windows are over, or as soon as they have
        // brought enough.
        const bool over = judgeRound(job, now);
        if (!over && !helpedAlready(job))
            return {};
        if (over && !split.brought.empty()) {
            const bool helped = roundHelped(split.reference, split.brought) && engineHadRoom();
            if (!helped) {
                split.settled = true;
                return {};
            }
        }
        split.round.clear();
        split.brought.clear();
    }
    std::vector<Connection *> added;
    const int size = std::min(activeCount(job) * (GrowthFactor - 1), room);
    for (int i = 0; i < size; ++i) {
        Connection &connection = job.addConnection();
        if (!assignPiece(job, connection, NewConnectionPiece)) {
            job.connections.pop_back();
            break;
        }
        connection.started = now;
        split.round.push_back(connection.id);
        added.push_back(&connection);
    }
    // No range is left large enough for a new connection: none will be.
    if (added.empty() && size > 0)
        split.settled = true;
    if (!added.empty()) {
        split.roundSince = now;
        split.waitedBefore = waited;
    }
    return added;
}

void leaveRound(Job &job, const Connection &connection, std::optional<qint64> brought)
{
    Split &split = job.split;
    const auto found = std::find(split.round.begin(), split.round.end(), connection.id);
    if (found == split.round.end())
        return;
    split.round.erase(found);
    if (brought)
        split.brought.push_back(*brought);
}

std::vector<Connection *> quietToTakeOver(Job &job, Clock::time_point now)
{
    if (!job.split.allowed)
        return {};
    const auto waiting =
        std::count_if(job.connections.begin(), job.connections.end(),
                      [](const auto &connection) { return connection->waiting(); });
    std::vector<Connection *> quiet;
    for (const auto &connection : job.connections) {
        const Clock::time_point last = connection->lastWrite.value_or(connection->started);
        if (connection->active && connection->remaining() > 0 &&
            connection->remaining() < 2 * FinishedConnectionPiece && now - last >= job.split.window)
            quiet.push_back(connection.get());
    }
    std::sort(quiet.begin(), quiet.end(), [](const Connection *a, const Connection *b) {
        return a->remaining() > b->remaining();
    });
    if (std::ptrdiff_t(quiet.size()) > waiting)
        quiet.resize(std::size_t(waiting));
    return quiet;
}

bool hasWaitingConnection(const Job &job)
{
    return std::any_of(job.connections.begin(), job.connections.end(),
                       [](const auto &connection) { return connection->waiting(); });
}

Connection *toRelieve(Job &job, Clock::time_point now)
{
    if (!job.split.allowed)
        return nullptr;
    std::vector<ConnectionPace> paces;
    std::vector<Connection *> who;
    for (const auto &connection : job.connections) {
        std::optional<double> rate;
        if (connection->active) {
            connection->pace.sample(now, connection->brought);
            rate = connection->pace.bytesPerSecond();
        } else {
            rate = connection->idleRate;
        }
        if (!rate)
            continue;
        paces.push_back({*rate, connection->active ? connection->remaining() : 0});
        who.push_back(connection.get());
    }
    const std::optional<std::size_t> chosen = connectionToRelieve(paces);
    return chosen && who[*chosen]->active ? who[*chosen] : nullptr;
}

} // namespace quorrin::engine
