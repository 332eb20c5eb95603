#include "transferjob.h"

#include "urlencoding.h"

#include <algorithm>

namespace quorrin::engine {

DownloadResult failed(DownloadFailure failure, long detail)
{
    return {false, failureCause(failure, detail), failure, {}};
}

void Job::startOver()
{
    if (file)
        file->restart();
    body.clear();
    total = -1;
    reserved = false;
    validator.clear();
    etag.clear();
    lastModified.clear();
}

bool Job::isHttp(const Connection &connection) const
{
    // Before its first answer, a transfer speaks the scheme of its address.
    const char *scheme = nullptr;
    if (connection.easy)
        curl_easy_getinfo(connection.easy.get(), CURLINFO_SCHEME, &scheme);
    return scheme ? qstrnicmp(scheme, "http", 4) == 0 : url.startsWith("http");
}

Connection &Job::addConnection()
{
    connections.push_back(std::make_unique<Connection>(*this, madeConnections++));
    return *connections.back();
}

bool Job::othersActive(const Connection &connection) const
{
    return std::any_of(connections.begin(), connections.end(), [&](const auto &other) {
        return other.get() != &connection && other->active;
    });
}

bool Job::openFile()
{
    PartFile::Defer defer = [disk = disk](std::function<void()> task) {
        disk->post(std::move(task));
    };
    const auto use =
        options.freePath ? PartFile::Target::NeverReplace : PartFile::Target::MayReplace;
    const auto earlier =
        options.noEarlierPart ? PartFile::Earlier::NoneThere : PartFile::Earlier::MayBeThere;
    auto part = options.keepPartial
                    ? std::make_unique<PartFile>(path, url, std::move(defer), use, earlier)
                    : std::make_unique<PartFile>(path, std::move(defer), use);
    const std::lock_guard lock(mutex);
    file = std::move(part);
    if (stage != Stage::Opening) {
        // Cancelled meanwhile, maybe before this turn on the queue: it is let go after it.
        dispose();
        return false;
    }
    if (!file->isOpen()) {
        finish(failed(file->failure()));
        return false;
    }
    // What an earlier run left is continued as bytes of this transfer's first try.
    validator = file->record().validator;
    (validator.startsWith('"') ? etag : lastModified) = validator;
    total = file->record().total;
    best = file->size();
    stage = Stage::Transferring;
    return true;
}

bool Job::awaited() const
{
    const TransferLine *line = options.line.get();
    return !line || options.order <= line->due.load(std::memory_order_relaxed);
}

void Job::dispose()
{
    if (!disk)
        return;
    disk->post([job = shared_from_this()] {
        std::unique_ptr<PartFile> part;
        bool keep = false;
        {
            const std::lock_guard lock(job->mutex);
            part = std::move(job->file);
            keep = job->keepData;
        }
        if (part && keep)
            part->keep();
    }); // anything not kept is removed with the PartFile
}

void Job::settle()
{
    disk->post([job = shared_from_this()] { job->settleNow(); });
}

// What the owner's check of the data says of it; a disk that refused it is said as such.
DownloadFailure Job::checkData(PartFile &part) const
{
    if (!options.acceptData)
        return DownloadFailure::None;
    const QString written = part.temporaryPath();
    if (written.isEmpty())
        return part.failure();
    return options.acceptData(written) ? DownloadFailure::None : DownloadFailure::Rejected;
}

void Job::settleNow()
{
    PartFile *part = nullptr;
    bool check = false;
    {
        const std::lock_guard lock(mutex);
        if (stage != Stage::Complete || !file)
            return;
        part = file.get();
        check = !ready;
    }
    // Only this queue touches the file now; a cancel disposes of it after this task.
    if (check) {
        const DownloadFailure refusal = checkData(*part);
        if (refusal == DownloadFailure::None)
            part->startFlush(); // the flush at its landing then finds it written
        const std::lock_guard lock(mutex);
        if (stage != Stage::Complete)
            return;
        if (refusal != DownloadFailure::None) {
            finish(failed(refusal));
            return;
        }
        ready = true;
        if (!landAt) {
            if (observer)
                observer->arrived(multiplexed, awaited());
            return; // lands when its owner says where
        }
    }
    QString target;
    {
        const std::lock_guard lock(mutex);
        if (stage != Stage::Complete || !landAt)
            return;
        stage = Stage::Committing;
        target = *landAt;
    }
    const DownloadResult result = commit(target, true);
    announceLanding(result);
    committed(result);
}

DownloadResult Job::commit(const QString &target, bool syncDirectory)
{
    const bool replace = !options.freePath;
    const QByteArray origin = withoutUserInfo(url);
    QString at = target;
    file->retarget(at);
    for (int attempt = 0; !file->commit(origin, replace, syncDirectory); ++attempt) {
        if (file->failure() != DownloadFailure::TargetTaken || attempt >= 100)
            return failed(file->failure());
        at = options.freePath(at);
        file->retarget(at);
    }
    DownloadResult result{true, {}, DownloadFailure::None, {}};
    result.path = at;
    return result;
}

void Job::announceLanding(const DownloadResult &result)
{
    if (result.ok && options.landed)
        options.landed(result.path);
}

void Job::committed(const DownloadResult &result)
{
    const std::lock_guard lock(mutex);
    if (result.ok)
        file.reset(); // closed and at its target: nothing of it is left to the disk queue
    finish(result);
}

void Job::finish(const DownloadResult &result)
{
    DownloadResult told = result;
    if (!told.ok && tries > 1)
        told.cause += QStringLiteral(", après %1 essais").arg(tries);
    stage = Stage::Ended;
    landed = told.ok;
    if (Observer *listener = std::exchange(observer, nullptr))
        listener->finished(told, std::move(body), type);
    if (file)
        dispose();
}

size_t receiveHeader(char *data, size_t, size_t count, void *userData)
{
    static_cast<Connection *>(userData)->head.addLine(QByteArrayView(data, qsizetype(count)));
    return count;
}

namespace {

// FTP tells the size of what it sends from the offset asked for.
bool fitFtp(Job &job, Connection &connection)
{
    curl_off_t length = -1;
    curl_easy_getinfo(connection.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (connection.askedRange && (length < 0 || connection.position + length != job.total)) {
        job.refetch = true;
        return false;
    }
    if (!connection.askedRange)
        job.total = length >= 0 ? qint64(length) : -1;
    return true;
}

// The answer to a request for a piece is only of use when it is exactly that piece, of the
// version held.
bool fitPieceAnswer(Job &job, Connection &connection)
{
    connection.pieceFit = fitPiece(connection.head, connection.asked, job.version());
    if (*connection.pieceFit == PieceFit::Fits)
        return true;
    connection.abandoned = DownloadFailure::UnexpectedAnswer;
    return false;
}

// Checks an answer to a try of the job: it continues the bytes held, or replaces them.
bool fitTry(Job &job, Connection &connection)
{
    const ResponseHead &head = connection.head;
    const ResponseFit fitting =
        fitResponse(head, connection.askedRange, connection.position, job.total, job.validator);
    switch (fitting.action) {
    case ResponseFit::Fail:
        connection.abandoned = DownloadFailure::UnexpectedAnswer;
        return false;
    case ResponseFit::Invalid:
        connection.abandoned = DownloadFailure::InvalidAnswer;
        return false;
    case ResponseFit::Inconsistent:
        connection.abandoned = DownloadFailure::InconsistentAnswer;
        return false;
    case ResponseFit::Refetch:
        job.refetch = true;
        return false;
    case ResponseFit::StartOver:
        // The whole file: nothing held before stays, and no connection shares it.
        job.startOver();
        job.split.allowed = false;
        connection.position = 0;
        connection.end = -1;
        break;
    case ResponseFit::Continue:
        break;
    }
    connection.skip = fitting.skip;
    job.total = fitting.total;
    if (head.status != 206) {
        job.validator = resumeValidator(head);
        job.etag = head.etag;
        job.lastModified = head.lastModified;
        if (job.file)
            job.file->recordVersion(job.validator, job.total);
    } else {
        // It named the version held: what else it tells of it is the version's too.
        if (job.etag.isEmpty())
            job.etag = head.etag;
        if (job.lastModified.isEmpty())
            job.lastModified = head.lastModified;
    }
    if (connection.end < 0 && job.file && !job.options.acceptEncoding)
        connection.end = job.total;
    job.split.possible = job.split.allowed && job.file && job.total > 0 &&
                         !job.validator.isEmpty() && !job.options.acceptEncoding &&
                         (head.status == 206 || head.acceptsRanges);
    return true;
}

} // namespace

// Checks, before the first byte of an answer is written, that it continues the bytes held or
// replaces them, or is exactly the piece asked for; false when it is of no use. A large file of
// known size gets its room on the disk first.
bool fit(Job &job, Connection &connection)
{
    connection.fitted = true;
    connection.answeredAt = Clock::now();
    job.reachedServer = true;
    const bool http = job.isHttp(connection);
    if (connection.ask == Connection::Ask::Piece)
        return fitPieceAnswer(job, connection);
    if (!(http ? fitTry(job, connection) : fitFtp(job, connection)))
        return false;
    if (!http && connection.end < 0)
        connection.end = job.total;
    if (job.file && job.total >= SmallFile && !job.reserved && !job.options.acceptEncoding) {
        if (!job.file->reserve(job.total))
            return false; // its failure tells why
        job.reserved = true;
    }
    return true;
}

namespace {

// Notes the bytes of a connection's first write, and of its window: what it brings in its
// first moments tells whether more connections help.
void noteWritten(Job &job, Connection &connection, qint64 bytes)
{
    const Clock::time_point now = Clock::now();
    if (!connection.firstWrite) {
        connection.firstWrite = now;
        // The job's first bytes: its window, and the engine's room over it, start here.
        if (job.split.window.count() == 0) {
            job.split.window = growthWindow(std::chrono::ceil<std::chrono::milliseconds>(
                connection.answeredAt - connection.started));
            job.split.roundSince = now;
            job.split.waitedBefore = waitedOnThisThread();
        }
    }
    if (now - *connection.firstWrite < job.split.window)
        connection.windowBytes += bytes;
    connection.lastWrite = now;
    connection.brought += bytes;
}

} // namespace

size_t receive(char *data, size_t, size_t count, void *userData)
{
    auto &connection = *static_cast<Connection *>(userData);
    Job &job = connection.job;
    const std::lock_guard lock(job.mutex);
    if (!job.observer)
        return 0; // cancelled: 0 makes libcurl stop the transfer
    if (!connection.fitted && !fit(job, connection))
        return 0;
    const size_t skipped = size_t(std::min<qint64>(connection.skip, qint64(count)));
    connection.skip -= qint64(skipped);
    data += skipped;
    count -= skipped;
    if (count == 0)
        return skipped;
    // What lies past the connection's range is another connection's, or none of the file's:
    // it stops there.
    size_t wanted = count;
    if (connection.end >= 0)
        wanted = size_t(std::clamp<qint64>(connection.end - connection.position, 0, qint64(count)));
    const qint64 maxSize = job.options.maxSize;
    if (maxSize > 0 && job.received() + qint64(wanted) > maxSize) {
        connection.abandoned = DownloadFailure::TooLarge;
        return 0;
    }
    if (!job.file)
        job.body.append(data, qsizetype(wanted));
    else if (wanted > 0 && !job.file->write(connection.position, data, wanted))
        return 0;
    connection.position += qint64(wanted);
    if (wanted > 0)
        noteWritten(job, connection, qint64(wanted));
    if (wanted < count) {
        connection.reachedEnd = true;
        return skipped + wanted;
    }
    return skipped + count;
}

namespace {

// Whether the try has stayed under the lowest speed over the last span: bytes that drip in
// keep a stall limit from ever ending it, while a fresh connection usually gets full speed.
bool tooSlow(const LowestSpeed &lowest, Connection &connection, Clock::time_point now,
             curl_off_t received)
{
    if (lowest.bytesPerSecond <= 0 || now - connection.speedSince < lowest.over)
        return false;
    const auto span = std::chrono::duration<double>(now - connection.speedSince).count();
    if (double(received - connection.speedBytes) < double(lowest.bytesPerSecond) * span)
        return true;
    connection.speedSince = now;
    connection.speedBytes = received;
    return false;
}

} // namespace

// libcurl calls this for every running transfer each time the engine serves it, also while
// the line is quiet: it carries the progress reports, the stall limit and the lowest speed,
// each connection on its own; the reports tell every connection's bytes together.
int progressed(void *userData, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t)
{
    auto &connection = *static_cast<Connection *>(userData);
    Job &job = connection.job;
    const Clock::time_point now = Clock::now();
    if (received != connection.lastReceived) {
        connection.lastReceived = received;
        connection.lastActivity = now;
    } else if (now - connection.lastActivity >= job.options.stallTimeout) {
        const std::lock_guard lock(job.mutex);
        connection.abandoned = DownloadFailure::Stalled;
        return 1;
    }
    if (tooSlow(job.options.lowestSpeed, connection, now, received)) {
        const std::lock_guard lock(job.mutex);
        connection.abandoned = DownloadFailure::TooSlow;
        return 1;
    }
    if (now - job.lastReport < ProgressInterval)
        return 0;
    job.lastReport = now;
    const std::lock_guard lock(job.mutex);
    if (!job.observer)
        return 1;
    const qint64 whole = job.total > 0 ? job.total : total > 0 ? qint64(total) : 0;
    if (!job.observer->progressed(job.received(), whole)) {
        connection.abandoned = DownloadFailure::Cancelled;
        return 1;
    }
    return 0;
}

} // namespace quorrin::engine
