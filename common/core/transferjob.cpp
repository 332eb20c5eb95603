#include "transferjob.h"

#include <algorithm>

namespace quorrin::engine {

DownloadResult failed(DownloadFailure failure, long detail)
{
    return {false, failureCause(failure, detail), failure, {}};
}

bool Job::openFile(const QString &target)
{
    path = target;
    file = options.keepPartial ? std::make_unique<PartFile>(target, url)
                               : std::make_unique<PartFile>(target);
    if (!file->isOpen()) {
        finish(failed(file->failure()));
        return false;
    }
    // What an earlier run left is continued as bytes of this transfer's first try.
    validator = file->record().validator;
    total = file->record().total;
    best = file->size();
    return true;
}

void Job::letGo(bool keepData)
{
    observer = nullptr;
    if (file && keepData)
        file->keep();
    file.reset();
}

size_t receiveHeader(char *data, size_t, size_t count, void *userData)
{
    static_cast<Job *>(userData)->head.addLine(QByteArrayView(data, qsizetype(count)));
    return count;
}

// Checks, before the first byte of an answer is written, that it continues the bytes held or
// replaces them; false when it is of no use.
bool fit(Job &job)
{
    job.fitted = true;
    job.reachedServer = true;
    const bool http = job.isHttp();
    if (!http) {
        // FTP tells the size of what it sends from the offset asked for.
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
    const ResponseFit fitting = fitResponse(job.head, job.askedRange, job.received(), job.total);
    switch (fitting.action) {
    case ResponseFit::Fail:
        job.abandoned = DownloadFailure::UnexpectedAnswer;
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

// libcurl calls this for every running transfer each time the engine serves it, also while
// the line is quiet: it carries the progress reports and the stall limit.
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
