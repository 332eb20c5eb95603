#pragma once

// What a transfer that was interrupted may do next: whether to try again, how long to wait,
// and whether the next answer continues the bytes already held or starts the file over.

#include "byteranges.h"
#include "downloadfailure.h"

#include <QByteArray>
#include <QByteArrayView>

#include <chrono>

namespace quorrin {

// The headers of one HTTP answer that matter for resuming.
struct ResponseHead {
    long status = 0;
    qint64 contentLength = -1;
    QByteArray etag;
    QByteArray lastModified;
    QByteArray contentRange;
    QByteArray retryAfter;
    bool acceptsRanges = false;      // Accept-Ranges: bytes
    bool conflictingLengths = false; // two Content-Length values that differ

    // Takes one header line as libcurl hands it over; a status line starts a new answer
    // (redirects and interim answers come before the last one).
    void addLine(QByteArrayView line);

private:
    void addContentLength(QByteArrayView value);
};

// What a later request may send as If-Range so that the server only continues the very file
// it sent before: a strong ETag, else the Last-Modified date; empty when there is none (a weak
// ETag promises nothing about the bytes).
QByteArray resumeValidator(const ResponseHead &head);

// How an answer fits the `held` bytes already on disk of a file of `knownTotal` bytes (-1
// when unknown), whose version the server named `validator` (empty when it named none).
// `askedRange` tells whether the request asked for the bytes from `held` on.
struct ResponseFit {
    enum Action {
        Continue,     // write the body after the bytes held, less `skip` bytes already there
        StartOver,    // the body is the whole file from byte 0: the bytes held go
        Refetch,      // the answer is of no use: ask again for the whole file
        Fail,         // not a file at all (a part that was not asked for, no content)
        Inconsistent, // contradicts the version it names: this try is of no use, the bytes stay
        Invalid,      // not a valid message
    };
    Action action = Continue;
    qint64 skip = 0;
    qint64 total = -1; // the size of the file being received, -1 when unknown
};
ResponseFit fitResponse(const ResponseHead &head, bool askedRange, qint64 held, qint64 knownTotal,
                        const QByteArray &validator);

// Whether the answer names the version of the file that `validator` names.
bool namesVersion(const ResponseHead &head, const QByteArray &validator);

// A version of a file as its server named it: its ETag and Last-Modified date (each empty when
// unknown), one of which is the validator its ranges are asked with, and its size.
struct FileVersion {
    QByteArray etag;
    QByteArray lastModified;
    QByteArray validator;
    qint64 total = -1;
};

// How the answer to a request for exactly the bytes `asked` of `version` (with If-Match or
// If-Unmodified-Since) fits: only a 206 of exactly those bytes that names the version is of
// use. One that names another ETag, Last-Modified date or size is of another version; any
// other answer (the whole file, a part that is not the one asked for, a part that does not
// say which version it is of) says that the server does not split this file.
enum class PieceFit { Fits, OtherVersion, Unsplittable };
PieceFit fitPiece(const ResponseHead &head, ByteRange asked, const FileVersion &version);

// Whether a try that ended this way is worth another one. `status` is the HTTP status for
// HttpError; a refused connection counts only after a first try reached the server.
bool isRetryable(DownloadFailure failure, long status, bool reachedServerBefore);

// The wait before the next try, after `fruitlessTries` (1 to 4) tries in a row that brought
// no new byte: `unit`, then twice, four and eight times as long. A server's Retry-After in
// seconds, up to a minute, is honoured instead.
std::chrono::milliseconds retryWait(int fruitlessTries, const QByteArray &retryAfter,
                                    std::chrono::milliseconds unit);

// How many tries in a row that bring no new byte make a transfer fail for good.
constexpr int MaxFruitlessTries = 5;

} // namespace quorrin
