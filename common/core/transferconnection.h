#pragma once

// One connection of a job: its easy handle, the request under way, and what it brings.
// Internal to the transfer code.

#include "byteranges.h"
#include "downloadfailure.h"
#include "resumepolicy.h"
#include "splitpolicy.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <optional>

namespace quorrin::engine {

using Clock = std::chrono::steady_clock;

struct Job;

// A job starts with one connection; while its file is fetched in pieces, each piece goes over
// a connection of its own, and a connection that has finished its piece asks for another. The
// engine thread's own; its callbacks touch it with the job's lock held.
struct Connection {
    // How the request under way asks for the file.
    enum class Ask {
        Whole,  // the whole file, from its first byte
        Resume, // the bytes from `position` on, If-Range: the whole file when they changed
        Piece,  // exactly the bytes `asked` of the version held, If-Match: nothing else
    };

    Connection(Job &owner, int number)
        : job(owner)
        , id(number)
    {
    }

    Job &job;
    const int id; // in the order the job's connections were made
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy{nullptr, curl_easy_cleanup};
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers{nullptr,
                                                                        curl_slist_free_all};
    bool active = false;   // on the line
    bool assigned = false; // given a range for its next request: `position` to `end`

    // The request under way, and how its answer fits the file.
    Ask ask = Ask::Whole;
    bool askedRange = false;
    ByteRange asked;         // for a piece, exactly what was asked for
    qint64 position = 0;     // the next byte of the file it writes
    qint64 end = -1;         // where it stops; -1 while the file's size is unknown
    ResponseHead head;       // the answer under way
    bool fitted = false;     // the answer under way was checked against the bytes held
    qint64 skip = 0;         // bytes at the start of the answer that are already held
    bool reachedEnd = false; // it stopped on purpose at `end`, all of its range written
    std::optional<PieceFit> pieceFit;
    DownloadFailure abandoned = DownloadFailure::None;
    bool freshConnection = false; // the next request must not reuse a connection

    // How the request goes.
    Clock::time_point started;
    Clock::time_point answeredAt;
    Clock::time_point lastActivity;
    Clock::time_point speedSince; // the start of the span the lowest speed is checked over
    curl_off_t speedBytes = 0;    // what the request had received by then
    curl_off_t lastReceived = -1;
    std::optional<Clock::time_point> firstWrite; // of its first request
    std::optional<Clock::time_point> lastWrite;
    qint64 windowBytes = 0; // written within the growth window after its first write
    qint64 brought = 0;     // written by all its requests
    PaceMeter pace;
    std::optional<double> idleRate; // its rate when it last finished a range

    qint64 remaining() const { return end > position ? end - position : 0; }
    // Open, off the line and without a range: it may take one at once.
    bool waiting() const { return easy && !active && !assigned; }
};

} // namespace quorrin::engine
