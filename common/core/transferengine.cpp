#include "transferengine.h"

#include "curlglobal.h"
#include "diskqueue.h"
#include "fileplacement.h"
#include "landingbatch.h"
#include "piecepicker.h"
#include "transferjob.h"
#include "transfersplit.h"
#include "transfertry.h"
#include "urlencoding.h"

#include <QFile>

#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <utility>
#include <vector>

namespace quorrin::engine {
namespace {

// While transfers run, the engine looks at each of them this often, so that a stall is seen
// on time even when the line is quiet; more often while a job finds out how many connections
// help it, whose windows are short, or has a connection that waits to take a range over.
constexpr int ServiceIntervalMs = 50;
constexpr int OftenServiceIntervalMs = 10;
// How often the jobs on the line are looked at for connections to add, and for a connection
// that lags far behind the others.
constexpr auto ManageInterval = std::chrono::milliseconds(10);
constexpr auto ReliefInterval = std::chrono::milliseconds(250);
// Handles kept for the next connections: as many as the connections a few jobs use at once.
constexpr std::size_t MaxSpareHandles = 32;

std::mutex &shareMutex(curl_lock_data data)
{
    static std::mutex mutexes[CURL_LOCK_DATA_LAST];
    return mutexes[std::clamp(int(data), 0, int(CURL_LOCK_DATA_LAST) - 1)];
}

void lockShare(CURL *, curl_lock_data data, curl_lock_access, void *)
{
    shareMutex(data).lock();
}

void unlockShare(CURL *, curl_lock_data data, void *)
{
    shareMutex(data).unlock();
}

bool contains(const std::vector<QByteArray> &servers, const QByteArray &server)
{
    return std::find(servers.begin(), servers.end(), server) != servers.end();
}

class Engine {
public:
    Engine();
    ~Engine();
    void submit(std::shared_ptr<Job> job);
    void drop(const std::shared_ptr<Job> &job);
    void closeIdleConnections();

private:
    // A connection on the line, and its job.
    struct Line {
        std::shared_ptr<Job> job;
        Connection *connection;
    };

    void wake();
    void serve();
    void abandonAll();
    void takeCommands();
    void begin(const std::shared_ptr<Job> &job);
    bool takePlace(Job &job);
    void admitHeld();
    void go(const std::shared_ptr<Job> &job);
    bool startTry(const std::shared_ptr<Job> &job, Connection &connection);
    void startTries(const std::shared_ptr<Job> &job, const std::vector<Connection *> &connections);
    void startDueTries();
    int pollTimeout() const;
    void end(CURL *easy, CURLcode code);
    void remove(CURL *easy);
    void takeOff(Connection &connection);
    void letGo(Job &job, Connection &connection, std::optional<qint64> brought = std::nullopt);
    void release(Job &job);
    CURL *takeHandle(const HandleKind &kind);
    void recycle(Connection &connection);
    void handOut(Job &job, std::vector<Connection *> &starts);
    int room(const QByteArray &host) const;
    void manage();
    void keepWithinServerLimits();

    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> m_multi{nullptr, curl_multi_cleanup};
    std::unique_ptr<CURLSH, decltype(&curl_share_cleanup)> m_share{nullptr, curl_share_cleanup};
    // The engine thread's own. Making a handle costs more than the request for a small file,
    // and setting it up again a tenth of it; one reset is as new, while the connections stay
    // in the multi handle's cache.
    struct SpareHandle {
        std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy;
        HandleKind kind;
    };
    std::vector<SpareHandle> m_spareHandles;

    std::mutex m_mutex; // guards what follows, and the multi handle against its replacement
    std::vector<std::shared_ptr<Job>> m_incoming;
    std::vector<std::shared_ptr<Job>> m_dropped;
    bool m_closeIdle = false;
    bool m_stopping = false;
    bool m_woken = false; // the thread has been woken for the commands waiting

    // The engine thread's own: connections on the line, and jobs waiting for their next try.
    std::map<CURL *, Line> m_running;
    std::vector<std::shared_ptr<Job>> m_waiting;
    std::vector<std::shared_ptr<Job>> m_held; // started, waiting for a place on their line
    Clock::time_point m_lastManaged;
    // A job is finding out how many connections help it, or has one that waits for a range.
    bool m_lookingOften = false;
    std::thread m_thread;
};

Engine::Engine()
{
    newDiskQueue(); // the disk threads are made first, so that they outlive the engine
    initialiseCurl();
    m_multi.reset(curl_multi_init());
    // DNS answers and TLS sessions outlive each transfer's handle; connections stay in the
    // multi handle's cache.
    m_share.reset(curl_share_init());
    // A transfer's handle may be cleaned up on the thread that owned it.
    curl_share_setopt(m_share.get(), CURLSHOPT_LOCKFUNC, lockShare);
    curl_share_setopt(m_share.get(), CURLSHOPT_UNLOCKFUNC, unlockShare);
    curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "transfers"); // as ps and debuggers show it
        serve();
    });
}

Engine::~Engine()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        curl_multi_wakeup(m_multi.get());
    }
    m_thread.join();
}

// The process ends while the job is not over: it never finishes, and of its file stays only
// what a later run is to continue.
void abandon(Job &job)
{
    const std::lock_guard lock(job.mutex);
    if (Observer *listener = std::exchange(job.observer, nullptr))
        listener->abandoned();
    job.keepData = job.options.keepPartial;
    job.stage = Stage::Ended;
    job.dispose();
}

void Engine::submit(std::shared_ptr<Job> job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_stopping) {
            m_incoming.push_back(std::move(job));
            wake();
            return;
        }
    }
    abandon(*job);
}

void Engine::drop(const std::shared_ptr<Job> &job)
{
    const std::lock_guard lock(m_mutex);
    m_dropped.push_back(job);
    wake();
}

void Engine::closeIdleConnections()
{
    const std::lock_guard lock(m_mutex);
    m_closeIdle = true;
    wake();
}

// With the lock held. Commands that come before the thread takes them wake it once: a burst of
// them costs one system call.
void Engine::wake()
{
    if (!std::exchange(m_woken, true))
        curl_multi_wakeup(m_multi.get());
}

void Engine::serve()
{
    for (;;) {
        takeCommands();
        {
            const std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
        }
        admitHeld();
        startDueTries();
        keepWithinServerLimits();
        int running = 0;
        curl_multi_perform(m_multi.get(), &running);
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &queued))
            if (message->msg == CURLMSG_DONE)
                end(message->easy_handle, message->data.result);
        // A held job goes on the line before the wait, in the places just left.
        admitHeld();
        manage();
        // libcurl wakes sooner when one of its own timers is due.
        const Clock::time_point before = Clock::now();
        curl_multi_poll(m_multi.get(), nullptr, 0, pollTimeout(), nullptr);
        waitedOnThisThread() += Clock::now() - before;
    }
    abandonAll();
}

// The process ends: what is still under way is abandoned, and whoever waits for it is woken.
void Engine::abandonAll()
{
    std::vector<std::shared_ptr<Job>> left;
    left.swap(m_waiting);
    left.insert(left.end(), m_held.begin(), m_held.end());
    m_held.clear();
    while (!m_running.empty()) {
        const std::shared_ptr<Job> job = m_running.begin()->second.job;
        release(*job);
        left.push_back(job);
    }
    for (const std::shared_ptr<Job> &job : left)
        release(*job);
    {
        const std::lock_guard lock(m_mutex);
        left.insert(left.end(), m_incoming.begin(), m_incoming.end());
        m_incoming.clear();
    }
    for (const std::shared_ptr<Job> &job : left)
        abandon(*job);
}

void Engine::takeCommands()
{
    std::vector<std::shared_ptr<Job>> incoming;
    std::vector<std::shared_ptr<Job>> dropped;
    bool closeIdle = false;
    {
        const std::lock_guard lock(m_mutex);
        incoming.swap(m_incoming);
        dropped.swap(m_dropped);
        closeIdle = std::exchange(m_closeIdle, false);
        m_woken = false;
    }
    // Every connection of a job that stops is closed at once.
    for (const std::shared_ptr<Job> &job : dropped) {
        std::erase(m_waiting, job);
        std::erase(m_held, job);
        release(*job);
        job->dispose();
    }
    // The connections live in the multi handle's cache, which goes with it; nothing else does.
    // Other threads wake the handle with the lock held.
    if (closeIdle && m_running.empty() && m_waiting.empty() && m_held.empty() && incoming.empty()) {
        const std::lock_guard lock(m_mutex);
        m_multi.reset(curl_multi_init());
        // A command sent since they were taken woke the handle that went.
        if (!m_incoming.empty() || !m_dropped.empty() || m_closeIdle)
            curl_multi_wakeup(m_multi.get());
    }
    for (const std::shared_ptr<Job> &job : incoming)
        begin(job);
}

void Engine::startDueTries()
{
    const Clock::time_point now = Clock::now();
    std::vector<std::shared_ptr<Job>> due;
    std::erase_if(m_waiting, [&](const std::shared_ptr<Job> &job) {
        if (job->retryAt > now)
            return false;
        due.push_back(job);
        return true;
    });
    for (const std::shared_ptr<Job> &job : due)
        if (!job->connections.empty() && !startTry(job, *job->connections.front())) {
            const std::lock_guard lock(job->mutex);
            release(*job);
            job->finish(failed(DownloadFailure::Other, long(CURLE_FAILED_INIT)));
        }
}

int Engine::pollTimeout() const
{
    // A held job looks at its owner's order now and then.
    if (!m_running.empty() || !m_held.empty())
        return m_lookingOften ? OftenServiceIntervalMs : ServiceIntervalMs;
    int timeout = 60000;
    const Clock::time_point now = Clock::now();
    for (const std::shared_ptr<Job> &job : m_waiting) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(job->retryAt - now);
        timeout = std::clamp(int(wait.count()), 0, timeout);
    }
    return timeout;
}

void Engine::begin(const std::shared_ptr<Job> &job)
{
    {
        const std::lock_guard lock(job->mutex);
        if (!job->observer) {
            job->dispose(); // cancelled before it started
            return;
        }
    }
    if (takePlace(*job))
        go(job);
    else
        m_held.push_back(job);
}

// Whether the job may go on the line now; it then holds a place on its line until its
// connections go.
bool Engine::takePlace(Job &job)
{
    TransferLine *line = job.options.line.get();
    if (!line)
        return true;
    if (contains(line->sharingServers, job.host))
        return true;
    const bool due = job.options.order <= line->due.load(std::memory_order_relaxed);
    // A busy server is asked no more than its owner asks it, which it does one at a time.
    if (!due && (line->onLine >= line->atOnce || contains(line->busyServers, job.host)))
        return false;
    ++line->onLine;
    job.holdsPlace = true;
    return true;
}

// Held jobs go on the line as places free or their turns come, in the order they came.
void Engine::admitHeld()
{
    if (m_held.empty())
        return;
    std::vector<std::shared_ptr<Job>> going;
    std::erase_if(m_held, [&](const std::shared_ptr<Job> &job) {
        if (!takePlace(*job))
            return false;
        going.push_back(job);
        return true;
    });
    for (const std::shared_ptr<Job> &job : going)
        go(job);
}

void Engine::go(const std::shared_ptr<Job> &job)
{
    job->started = Clock::now();
    // The first report comes after one interval: a small file arrives before it, and its
    // arrival tells all.
    job->lastReport = job->started;
    job->split.allowed = job->options.split && !job->path.isEmpty();
    if (!startTry(job, job->addConnection())) {
        const std::lock_guard lock(job->mutex);
        release(*job);
        job->finish(failed(DownloadFailure::Other, long(CURLE_FAILED_INIT)));
    }
}

// Puts the connection's next request on the line, with a handle of its own made first for a
// new connection; false when it cannot go. A request of a job cancelled meanwhile does not
// go, and its drop lets the connection go.
bool Engine::startTry(const std::shared_ptr<Job> &job, Connection &connection)
{
    if (!connection.easy) {
        connection.easy.reset(takeHandle(handleKind(*job)));
        if (!connection.easy || !m_multi)
            return false;
        attachHandle(*job, connection);
    }
    if (!setUpTry(*job, connection))
        return true; // cancelled: the job's drop lets it go
    CURL *easy = connection.easy.get();
    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK)
        return false;
    connection.active = true;
    m_running.emplace(easy, Line{job, &connection});
    return true;
}

// Connections the job added or gave a range: one that cannot go gives its range back. A job
// left without any connection on the line cannot go on.
void Engine::startTries(const std::shared_ptr<Job> &job,
                        const std::vector<Connection *> &connections)
{
    bool refused = false;
    for (Connection *connection : connections)
        if (!startTry(job, *connection)) {
            const std::lock_guard lock(job->mutex);
            letGo(*job, *connection);
            refused = true;
        }
    const bool onLine = std::any_of(job->connections.begin(), job->connections.end(),
                                    [](const auto &connection) { return connection->active; });
    if (refused && !onLine) {
        const std::lock_guard lock(job->mutex);
        release(*job);
        if (job->observer)
            job->finish(failed(DownloadFailure::Other, long(CURLE_FAILED_INIT)));
    }
}

void Engine::end(CURL *easy, CURLcode code)
{
    const auto found = m_running.find(easy);
    if (found == m_running.end())
        return;
    const std::shared_ptr<Job> job = found->second.job;
    Connection &connection = *found->second.connection;
    remove(easy);
    std::vector<Connection *> starts;
    {
        const std::lock_guard lock(job->mutex);
        if (!job->observer) {
            release(*job);
            job->dispose();
            return;
        }
        const Clock::time_point now = Clock::now();
        const TryEnd ending = endTry(*job, connection, code);
        if (TransferLine *line = job->options.line.get()) {
            if (job->saidBusy && !contains(line->busyServers, job->host))
                line->busyServers.push_back(job->host);
            if (job->multiplexed && !contains(line->sharingServers, job->host))
                line->sharingServers.push_back(job->host);
        }
        switch (ending) {
        case TryEnd::Done:
            // A file that may not be split keeps one connection once its others are done.
            if ((job->split.allowed || !job->othersActive(connection)) &&
                assignPiece(*job, connection, FinishedConnectionPiece)) {
                starts.push_back(&connection);
            } else if (job->split.allowed) {
                goIdle(connection, now);
            } else {
                letGo(*job, connection);
            }
            break;
        case TryEnd::GiveBack:
            letGo(*job, connection, 0);
            handOut(*job, starts);
            break;
        case TryEnd::OneLeft: {
            letGo(*job, connection);
            bool kept = false;
            for (std::size_t i = 0; i < job->connections.size();) {
                Connection &other = *job->connections[i];
                if (other.active && !std::exchange(kept, true)) {
                    ++i;
                    continue;
                }
                letGo(*job, other);
            }
            break;
        }
        case TryEnd::Restart:
        case TryEnd::Later:
            // The job goes on with this connection alone.
            for (std::size_t i = 0; i < job->connections.size();) {
                if (job->connections[i].get() == &connection)
                    ++i;
                else
                    letGo(*job, *job->connections[i]);
            }
            connection.assigned = false;
            job->split.round.clear();
            job->split.brought.clear();
            m_waiting.push_back(job);
            break;
        case TryEnd::Over:
            release(*job);
            break;
        }
    }
    startTries(job, starts);
}

// A job that never tries again lets its handles go at once, on this thread: nothing of it
// stays but what its owner reads, and the shared DNS and TLS data are in use by no handle
// once the engine goes.
void Engine::release(Job &job)
{
    for (const auto &connection : job.connections) {
        takeOff(*connection);
        recycle(*connection);
    }
    job.connections.clear();
    if (std::exchange(job.holdsPlace, false))
        --job.options.line->onLine;
}

// Takes the connection off the line, closing it when its request is unfinished.
void Engine::takeOff(Connection &connection)
{
    if (connection.active)
        remove(connection.easy.get());
}

// The connection goes for good, with its handle; what it had left to fetch is free for the
// others. Leaving a round being judged, it counts as having brought `brought`, or not at all.
void Engine::letGo(Job &job, Connection &connection, std::optional<qint64> brought)
{
    leaveRound(job, connection, brought);
    takeOff(connection);
    recycle(connection);
    std::erase_if(job.connections, [&](const std::unique_ptr<Connection> &kept) {
        return kept.get() == &connection;
    });
}

// A handle set up for `kind`: a spare one of that kind as it stands, else another made or
// reset for it.
CURL *Engine::takeHandle(const HandleKind &kind)
{
    const auto alike = std::find_if(m_spareHandles.rbegin(), m_spareHandles.rend(),
                                    [&](const SpareHandle &spare) { return spare.kind == kind; });
    if (alike != m_spareHandles.rend()) {
        CURL *easy = alike->easy.release();
        m_spareHandles.erase(std::next(alike).base());
        return easy;
    }
    CURL *easy = nullptr;
    if (m_spareHandles.empty()) {
        easy = curl_easy_init();
    } else {
        easy = m_spareHandles.back().easy.release();
        m_spareHandles.pop_back();
        curl_easy_reset(easy);
    }
    if (easy)
        setUpHandle(easy, kind, m_share.get());
    return easy;
}

// With the connection off the line; the handle keeps the options of its kind.
void Engine::recycle(Connection &connection)
{
    if (!connection.easy || m_spareHandles.size() >= MaxSpareHandles)
        return;
    // The list of headers goes with the connection.
    curl_easy_setopt(connection.easy.get(), CURLOPT_HTTPHEADER, nullptr);
    m_spareHandles.push_back({std::move(connection.easy), handleKind(connection.job)});
}

// Removing an unfinished transfer closes its connection instead of keeping it for reuse.
// libcurl then calls the progress callback one last time, which may take the job's lock; the
// engine often holds that lock here, and its thread would wait for itself.
void Engine::remove(CURL *easy)
{
    const auto found = m_running.find(easy);
    if (found == m_running.end())
        return;
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
    curl_multi_remove_handle(m_multi.get(), easy);
    found->second.connection->active = false;
    m_running.erase(found);
}

// The job's waiting connections take what others gave back, as far as the server takes them.
void Engine::handOut(Job &job, std::vector<Connection *> &starts)
{
    if (!job.split.allowed)
        return;
    int left = room(job.host);
    for (const auto &connection : job.connections) {
        if (left <= 0)
            return;
        if (!connection->waiting() || !assignPiece(job, *connection, FinishedConnectionPiece))
            continue;
        starts.push_back(connection.get());
        --left;
    }
}

// How many more connections the server may take.
int Engine::room(const QByteArray &host) const
{
    int used = 0;
    for (const auto &[easy, line] : m_running)
        used += line.job->host == host;
    return MaxConnectionsPerServer - used;
}

// The jobs on the line add connections while they help, and let go of one that is far slower
// than the others.
void Engine::manage()
{
    const Clock::time_point now = Clock::now();
    if (now - m_lastManaged < ManageInterval)
        return;
    m_lastManaged = now;
    std::vector<std::shared_ptr<Job>> jobs;
    for (const auto &[easy, line] : m_running)
        if (std::find(jobs.begin(), jobs.end(), line.job) == jobs.end())
            jobs.push_back(line.job);
    m_lookingOften = false;
    for (const std::shared_ptr<Job> &job : jobs) {
        std::vector<Connection *> starts;
        {
            const std::lock_guard lock(job->mutex);
            if (!job->observer)
                continue;
            starts = grow(*job, now, room(job->host), waitedOnThisThread());
            const Split &split = job->split;
            m_lookingOften =
                m_lookingOften || (split.allowed && !split.settled) || hasWaitingConnection(*job);
            if (now - job->split.lastRelief >= ReliefInterval) {
                job->split.lastRelief = now;
                if (Connection *slow = toRelieve(*job, now)) {
                    letGo(*job, *slow, 0);
                    handOut(*job, starts);
                }
            }
            for (Connection *quiet : quietToTakeOver(*job, now)) {
                letGo(*job, *quiet);
            }
            handOut(*job, starts);
        }
        startTries(job, starts);
    }
}

// No server gets more connections than it may take: a transfer that starts comes first, and
// the job with the most connections to that server gives back the one it added last.
void Engine::keepWithinServerLimits()
{
    for (;;) {
        std::map<QByteArray, int> used;
        std::map<Job *, int> jobConnections;
        for (const auto &[easy, line] : m_running) {
            ++used[line.job->host];
            ++jobConnections[line.job.get()];
        }
        Job *busiest = nullptr;
        for (const auto &[job, count] : jobConnections)
            if (count > 1 && used[job->host] > MaxConnectionsPerServer &&
                (!busiest || count > jobConnections[busiest]))
                busiest = job;
        if (!busiest)
            return;
        const std::lock_guard lock(busiest->mutex);
        Connection *last = nullptr;
        for (const auto &connection : busiest->connections)
            if (connection->active && (!last || connection->id > last->id))
                last = connection.get();
        letGo(*busiest, *last);
    }
}

} // namespace

Clock::duration &waitedOnThisThread()
{
    thread_local Clock::duration waited{};
    return waited;
}

namespace {

Engine &engine()
{
    static Engine instance;
    return instance;
}

// Web pages come over HTTP(S) only; files also over FTP.
bool isAllowedAddress(const QByteArray &url, TransferOptions::Protocols protocols)
{
    const QString scheme = QString::fromLatin1(url.left(url.indexOf(':')));
    const bool webPage = protocols == TransferOptions::Protocols::WebPages;
    return isDownloadScheme(scheme) && (!webPage || scheme.compare(QLatin1String("http")) == 0 ||
                                        scheme.compare(QLatin1String("https")) == 0);
}

} // namespace

std::shared_ptr<Job> start(const QString &url, const std::optional<QString> &path,
                           TransferOptions options, Observer *observer)
{
    auto job = std::make_shared<Job>();
    job->options = std::move(options);
    job->options.stallTimeout = std::max(job->options.stallTimeout, std::chrono::milliseconds(1));
    job->observer = observer;
    // Parsed here, once: the engine's thread is the run's busiest.
    EncodedAddress encoded = encodeAddress(url);
    job->url = std::move(encoded.url);
    job->host = std::move(encoded.server);
    const bool allowed = isAllowedAddress(job->url, job->options.protocols);
    std::unique_lock lock(job->mutex);
    if (job->url.isEmpty() || !allowed) {
        job->finish(failed(DownloadFailure::UnsupportedAddress));
        return job;
    }
    if (!path) {
        job->stage = Stage::Transferring;
        engine().submit(job);
        return job;
    }
    job->path = *path;
    job->disk = diskQueueFor(*path);
    if (!job->options.landLater)
        job->landAt = *path;
    lock.unlock();
    // A new file is opened here, where a trip to a disk thread and from there to the engine
    // would cost more than the opening; a file whose queue is busy (a transfer of the same
    // file letting it go) is opened on the queue, after that.
    const std::function<void()> open = [job] {
        if (job->openFile())
            engine().submit(job);
    };
    if (!job->disk->runHere(open))
        job->disk->post(open);
    return job;
}

namespace {

// Stops the job unless it is landing; `forgetting` also silences a landing one.
bool halt(const std::shared_ptr<Job> &job, bool keepData, bool forgetting)
{
    if (!job)
        return true;
    Stage was = Stage::Ended;
    {
        const std::lock_guard lock(job->mutex);
        if (job->stage == Stage::Committing || job->stage == Stage::Ended) {
            if (forgetting)
                job->observer = nullptr;
            return job->stage == Stage::Ended && !job->landed;
        }
        was = std::exchange(job->stage, Stage::Ended);
        job->observer = nullptr;
        job->keepData = keepData;
    }
    // Its file is let go at once, on its disk queue, before anything asked of that queue
    // later (a new transfer of the same file): the engine touches the file only for a job
    // that has an observer.
    job->dispose();
    if (was == Stage::Transferring)
        engine().drop(job);
    return true;
}

} // namespace

bool cancel(const std::shared_ptr<Job> &job, bool keepData)
{
    return halt(job, keepData, false);
}

void forget(const std::shared_ptr<Job> &job)
{
    halt(job, false, true);
}

void discardPartial(const QString &url, const QString &path)
{
    const QByteArray encoded = percentEncodedUrl(url);
    if (!encoded.isEmpty())
        diskQueueFor(path)->post([path, encoded] { PartFile::removeKept(path, encoded); });
}

void closeIdleConnections()
{
    engine().closeIdleConnections();
}

namespace {

// The files of a group are each flushed and linked in turn, then each directory is synced
// once: a rename is on the disk with its directory, and one sync takes all of them there.
void commitTogether(const std::vector<std::pair<std::shared_ptr<Job>, QString>> &group)
{
    std::vector<DownloadResult> results;
    QList<QByteArray> directories;
    for (const auto &[job, target] : group) {
        results.push_back(job->commit(target, false));
        const QByteArray directory = directoryOf(QFile::encodeName(results.back().path));
        if (results.back().ok && !directories.contains(directory))
            directories.append(directory);
    }
    for (const QByteArray &directory : directories)
        syncDirectory(directory);
    {
        // What the landings have written down is written once for the group, before the
        // owners hear of them.
        const LandingBatch batch;
        for (std::size_t i = 0; i < group.size(); ++i)
            group[i].first->announceLanding(results[i]);
    }
    for (std::size_t i = 0; i < group.size(); ++i)
        group[i].first->committed(results[i]);
}

} // namespace

void landTogether(const std::vector<std::pair<std::shared_ptr<Job>, QString>> &landings)
{
    std::vector<std::pair<std::shared_ptr<Job>, QString>> group;
    for (const auto &[job, target] : landings) {
        if (!job)
            continue;
        std::unique_lock lock(job->mutex);
        // Nothing else waits on such a job's disk queue: the group may take its file.
        if (job->stage == Stage::Complete && job->ready && !job->landAt && job->file &&
            job->file->defersNothing()) {
            job->stage = Stage::Committing;
            job->landAt = target;
            group.emplace_back(job, target);
            continue;
        }
        lock.unlock();
        land(job, target);
    }
    static const std::shared_ptr<DiskQueue> queue = newDiskQueue();
    if (!group.empty())
        queue->post([group = std::move(group)] { commitTogether(group); });
}

void land(const std::shared_ptr<Job> &job, const QString &target)
{
    if (!job)
        return;
    const std::lock_guard lock(job->mutex);
    if (job->landAt || (job->stage != Stage::Transferring && job->stage != Stage::Complete &&
                        job->stage != Stage::Opening))
        return;
    job->landAt = target;
    if (job->stage == Stage::Complete)
        job->settle();
}

} // namespace quorrin::engine
