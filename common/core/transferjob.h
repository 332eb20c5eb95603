#pragma once

// One transfer as the engine holds it, and the libcurl callbacks that fill it. Internal to the
// transfer code.

#include "partfile.h"
#include "resumepolicy.h"
#include "transferengine.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

namespace quorrin::engine {

using Clock = std::chrono::steady_clock;

// How often progress is reported at most.
inline constexpr auto ProgressInterval = std::chrono::milliseconds(100);

DownloadResult failed(DownloadFailure failure, long detail = 0);

struct Job {
    // Set before the job reaches the engine; read-only afterwards.
    QByteArray url;
    QString path; // the target, for a file
    TransferOptions options;

    // Guards everything below: the engine's callbacks and cancel() take turns.
    std::mutex mutex;
    Observer *observer = nullptr; // null once cancelled or finished
    std::unique_ptr<PartFile> file;
    QByteArray body;
    DownloadFailure abandoned = DownloadFailure::None;

    // What the tries so far know of the file, and how the one under way fits it.
    ResponseHead head;    // the answer under way
    QByteArray validator; // sent as If-Range: the server's word that the file is unchanged
    qint64 total = -1;    // the file's size, once an answer told it
    bool askedRange = false;
    bool fitted = false;  // the answer under way was checked against the bytes held
    bool refetch = false; // the answer was of no use: the next try asks for the whole file
    qint64 skip = 0;      // bytes at the start of the answer that are already held
    qint64 best = 0;      // the most bytes held so far: more is progress
    int tries = 0;
    int fruitlessTries = 0;
    bool reachedServer = false;

    // The engine thread's own.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy{nullptr, curl_easy_cleanup};
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers{nullptr,
                                                                        curl_slist_free_all};
    Clock::time_point lastActivity;
    Clock::time_point lastReport;
    Clock::time_point retryAt;
    Clock::time_point started;
    curl_off_t lastReceived = -1;

    qint64 received() const { return file ? file->size() : body.size(); }
    bool isHttp() const
    {
        // Before its first answer, a transfer speaks the scheme of its address.
        const char *scheme = nullptr;
        curl_easy_getinfo(easy.get(), CURLINFO_SCHEME, &scheme);
        return (scheme ? QByteArray(scheme).toLower() : url).startsWith("http");
    }
    // Opens the file the job writes into, before the job reaches the engine; false, with the
    // job finished, when it cannot be.
    bool openFile(const QString &target);
    // The observer is never told again, and of the file stays only what a later run may
    // continue (with `keepData`).
    void letGo(bool keepData);
    // Drops the bytes held, for a try that starts the file over.
    void startOver()
    {
        if (file)
            file->restart();
        body.clear();
        total = -1;
        validator.clear();
    }
    // Tells the end once everything is in place: an uncommitted part file is gone by then.
    void finish(const DownloadResult &result)
    {
        file.reset();
        if (Observer *told = std::exchange(observer, nullptr))
            told->finished(result, std::move(body), contentType());
    }
    QByteArray contentType() const
    {
        const char *type = nullptr;
        if (easy)
            curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_TYPE, &type);
        return QByteArray(type);
    }
};

// libcurl's callbacks, with the Job as their user data.
size_t receiveHeader(char *data, size_t size, size_t count, void *job);
size_t receive(char *data, size_t size, size_t count, void *job);
int progressed(void *job, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t);
// Checks the answer under way against the bytes held; false when it is of no use.
bool fit(Job &job);

} // namespace quorrin::engine
