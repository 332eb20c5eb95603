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
    validator.clear();
}

void Job::openFile(const QString &target, void (*submit)(const std::shared_ptr<Job> &))
{
    path = target;
    disk->post([job = shared_from_this(), submit] {
        PartFile::Defer defer = [disk = job->disk](std::function<void()> task) {
            disk->post(std::move(task));
        };
        auto part = job->options.keepPartial
                        ? std::make_unique<PartFile>(job->path, job->url, std::move(defer))
                        : std::make_unique<PartFile>(job->path, std::move(defer));
        {
            const std::lock_guard lock(job->mutex);
            job->file = std::move(part);
            if (job->stage != Stage::Opening)
                return; // cancelled meanwhile: its disposal comes next on the queue
            if (!job->file->isOpen()) {
                job->finish(failed(job->file->failure()));
                return;
            }
            // What an earlier run left is continued as bytes of this transfer's first try.
            job->validator = job->file->record().validator;
            job->total = job->file->record().total;
            job->best = job->file->size();
            job->stage = Stage::Transferring;
        }
        submit(job);
    });
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
        const bool accepted = !options.acceptData || options.acceptData(part->temporaryPath());
        if (accepted)
            part->startFlush(); // the flush at its landing then finds it written
        const std::lock_guard lock(mutex);
        if (stage != Stage::Complete)
            return;
        if (!accepted) {
            finish(failed(DownloadFailure::Rejected));
            return;
        }
        ready = true;
        if (!landAt) {
            if (observer)
                observer->arrived(multiplexed);
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
    committed(commit(target, true));
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

void Job::committed(const DownloadResult &result)
{
    if (result.ok && options.landed)
        options.landed(result.path);
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
    static_cast<Job *>(userData)->head.addLine(QByteArrayView(data, qsizetype(count)));
    return count;
}

namespace {

// FTP tells the size of what it sends from the offset asked for.
bool fitFtp(Job &job)
{
    curl_off_t length = -1;
    curl_easy_getinfo(job.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (job.askedRange && (length < 0 || job.received() + length != job.total)) {
        job.refetch = true;
        return false;
    }
    if (!job.askedRange)
        job.total = length >= 0 ? qint64(length) : -1;
    return true;
}

} // namespace

// Checks, before the first byte of an answer is written, that it continues the bytes held or
// replaces them; false when it is of no use.
bool fit(Job &job)
{
    job.fitted = true;
    job.reachedServer = true;
    if (!job.isHttp())
        return fitFtp(job);
    const ResponseFit fitting =
        fitResponse(job.head, job.askedRange, job.received(), job.total, job.validator);
    switch (fitting.action) {
    case ResponseFit::Fail:
        job.abandoned = DownloadFailure::UnexpectedAnswer;
        return false;
    case ResponseFit::Invalid:
        job.abandoned = DownloadFailure::InvalidAnswer;
        return false;
    case ResponseFit::Inconsistent:
        job.abandoned = DownloadFailure::InconsistentAnswer;
        return false;
    case ResponseFit::Refetch:
        job.refetch = true;
        return false;
    case ResponseFit::StartOver:
        job.startOver();
        break;
    case ResponseFit::Continue:
        break;
    }
    job.skip = fitting.skip;
    job.total = fitting.total;
    if (job.head.status != 206) {
        job.validator = resumeValidator(job.head);
        if (job.file)
            job.file->recordVersion(job.validator, job.total);
    }
    return true;
}

size_t receive(char *data, size_t, size_t count, void *userData)
{
    auto *job = static_cast<Job *>(userData);
    const std::lock_guard lock(job->mutex);
    if (!job->observer)
        return 0; // cancelled: 0 makes libcurl stop the transfer
    if (!job->fitted && !fit(*job))
        return 0;
    const size_t skipped = size_t(std::min<qint64>(job->skip, qint64(count)));
    job->skip -= qint64(skipped);
    data += skipped;
    count -= skipped;
    if (count == 0)
        return skipped;
    const qint64 maxSize = job->options.maxSize;
    if (maxSize > 0 && job->received() + qint64(count) > maxSize) {
        job->abandoned = DownloadFailure::TooLarge;
        return 0;
    }
    if (!job->file) {
        job->body.append(data, qsizetype(count));
        return skipped + count;
    }
    return job->file->write(data, count) ? skipped + count : 0;
}

namespace {

// Whether the try has stayed under the lowest speed over the last span: bytes that drip in
// keep a stall limit from ever ending it, while a fresh connection usually gets full speed.
bool tooSlow(Job &job, Clock::time_point now, curl_off_t received)
{
    const LowestSpeed &lowest = job.options.lowestSpeed;
    if (lowest.bytesPerSecond <= 0 || now - job.speedSince < lowest.over)
        return false;
    const auto span = std::chrono::duration<double>(now - job.speedSince).count();
    if (double(received - job.speedBytes) < double(lowest.bytesPerSecond) * span)
        return true;
    job.speedSince = now;
    job.speedBytes = received;
    return false;
}

} // namespace

// libcurl calls this for every running transfer each time the engine serves it, also while
// the line is quiet: it carries the progress reports, the stall limit and the lowest speed.
int progressed(void *userData, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t)
{
    auto *job = static_cast<Job *>(userData);
    const Clock::time_point now = Clock::now();
    if (received != job->lastReceived) {
        job->lastReceived = received;
        job->lastActivity = now;
    } else if (now - job->lastActivity >= job->options.stallTimeout) {
        const std::lock_guard lock(job->mutex);
        job->abandoned = DownloadFailure::Stalled;
        return 1;
    }
    if (tooSlow(*job, now, received)) {
        const std::lock_guard lock(job->mutex);
        job->abandoned = DownloadFailure::TooSlow;
        return 1;
    }
    if (now - job->lastReport < ProgressInterval)
        return 0;
    job->lastReport = now;
    const std::lock_guard lock(job->mutex);
    if (!job->observer)
        return 1;
    const qint64 whole = job->total > 0 ? job->total : total > 0 ? qint64(total) : 0;
    if (!job->observer->progressed(job->received(), whole)) {
        job->abandoned = DownloadFailure::Cancelled;
        return 1;
    }
    return 0;
}

} // namespace quorrin::engine
