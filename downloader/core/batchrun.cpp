#include "batchrun.h"

#include "downloadtarget.h"
#include "pathlimits.h"
#include "threadmailbox.h"
#include "urlencoding.h"

#include <QDir>
#include <QUrl>

#include <algorithm>
#include <utility>
#include <vector>

namespace quorrin::downloader {
namespace {

// The server of `address` with its port, as the run counts the transfers to one server.
QString hostOf(const QString &address)
{
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    return url.host().toLower() + QLatin1Char(':') + QString::number(url.port());
}

// Arrivals ahead of the turn wake this thread only a few at a time: the line must not run out
// of held transfers before they do.
static_assert(BatchRun::MaxHeld > ThreadMailbox::WaitingLimit);
static_assert(BatchRun::MaxTransfers + BatchRun::MaxHeld <= BatchRun::MaxAhead);

} // namespace

BatchRun::BatchRun(QList<RunEntry> entries, QObject *parent)
    : QObject(parent)
    , m_entries(std::move(entries))
    , m_slots(m_entries.size())
    , m_targetNames([this](const QString &path) { return nameTaken(path); })
{
    m_reaper.setSingleShot(true);
    m_reaper.setInterval(ReaperDelay);
    connect(&m_reaper, &QTimer::timeout, this, &BatchRun::deleteReleased);
}

// What an entry holds while it is near the turn, made when it is first looked at there.
BatchRun::Near &BatchRun::makeNear(int index)
{
    std::unique_ptr<Near> &near = m_slots[index].near;
    near = std::make_unique<Near>();
    near->cleanPath = QDir::cleanPath(m_entries.at(index).path);
    near->pathKey = qHash(near->cleanPath);
    near->host = hostIndex(m_entries.at(index).address);
    return *near;
}

// The entries of a long queue mostly share their server: an address that begins as the last
// one looked at, up to the end of its authority, names the same one without being parsed.
int BatchRun::hostIndex(const QString &address)
{
    const QStringView trimmed = QStringView(address).trimmed();
    const QStringView authority = trimmed.first(authorityEnd(trimmed));
    if (m_lastHost >= 0 && authority == m_lastAuthority)
        return m_lastHost;
    const QString host = hostOf(address);
    m_lastHost = int(m_hosts.indexOf(host));
    if (m_lastHost < 0) {
        m_lastHost = int(m_hosts.size());
        m_hosts << host;
    }
    m_lastAuthority = authority.toString();
    return m_lastHost;
}

// A run that goes away unfinished keeps what its transfers have brought.
BatchRun::~BatchRun()
{
    if (m_running)
        stop(true);
}

void BatchRun::start()
{
    m_running = true;
    if (m_recorder)
        m_ended = m_recorder->begin(m_entries);
    beginTurns();
}

// A file already landing lands, unreported; its record hears of it from the disk.
void BatchRun::stop(bool keepData)
{
    m_running = false;
    for (int index = m_turn; index < int(m_slots.size()); ++index) {
        Slot &slot = m_slots[index];
        if (keepData && slot.transfer) {
            slot.transfer->stop();
            release(index);
        } else if (!keepData) {
            abandon(index);
        }
    }
    if (keepData)
        return;
    if (m_recorder)
        m_recorder->clear();
    closeIdleConnections();
}

// Turns follow each other at once while entries end at their turn: an error found early,
// a file that had all its data already.
void BatchRun::beginTurns()
{
    if (m_inTurns)
        return;
    m_inTurns = true;
    while (m_running && m_turn < int(m_entries.size()) && beginTurn()) {
    }
    m_inTurns = false;
    if (m_running && m_turn >= int(m_entries.size())) {
        m_running = false;
        if (m_recorder)
            m_recorder->clear();
        Q_EMIT finished();
        return;
    }
    schedule();
}

// The entry's steps up to its landing, as if it were alone; true when its turn has ended.
bool BatchRun::beginTurn()
{
    const int index = m_turn;
    Slot &slot = m_slots[index];
    m_line->due.store(index, std::memory_order_relaxed);
    Q_EMIT turnBegins(index);
    Near &entry = near(index);
    if (slot.grouped) {
        // Its target was chosen, at its place in the queue, for the group it lands with.
        m_shownPath = entry.target;
        Q_EMIT entryPath(index, entry.target);
        if (!entry.early)
            return false;
        endTurn(*entry.early);
        return true;
    }
    const DownloadTarget target = prepare(index);
    for (const QString &cause : target.causes)
        Q_EMIT entryFailed(index, cause);
    m_shownPath = target.path;
    Q_EMIT entryPath(index, target.path);
    if (!target.usable || entry.early) {
        if (entry.early)
            Q_EMIT entryFailed(index, entry.early->cause);
        abandon(index);
        endTurn(false);
        return true;
    }
    if (m_oneAtATime.contains(entry.host))
        makeWay(index);
    if (slot.state == State::Waiting)
        startTransfer(index);
    else if (slot.state == State::Transferring)
        followProgress(index);
    if (slot.state == State::Arrived && target.causes.isEmpty())
        landGroup(index, target.path);
    else
        slot.transfer->land(target.path);
    return false;
}

DownloadTarget BatchRun::prepare(int index)
{
    const QString &stored = m_entries.at(index).path;
    // An entry whose transfer has begun made its part file in its directory: that one is
    // there, as far as its turn goes.
    const QStringView holding =
        m_slots[index].state != State::Waiting ? holdingDirectory(stored) : QStringView();
    return prepareTarget(
        stored,
        [this, &holding, &stored](const QString &path) {
            if (path == stored)
                return nameTaken(path);
            return !holding.isEmpty() && path == holding ? Result<bool>(true)
                                                         : landingOrExists(path);
        },
        [this](const QString &path) { return m_targetNames.find(path); });
}

// The next entries whose data has all arrived land with the turn's, as they would one after
// the other: their targets are chosen now, in queue order, each seeing those before it as
// taken, and they land together. Each is told at its own turn.
void BatchRun::landGroup(int first, const QString &target)
{
    std::vector<std::pair<Transfer *, QString>> group{{m_slots[first].transfer, target}};
    m_landing.insert(target);
    const int ahead = std::min(int(m_entries.size()), m_turn + MaxAhead);
    for (int index = first + 1; index < ahead; ++index) {
        Slot &slot = m_slots[index];
        if (slot.state != State::Arrived || near(index).early)
            break;
        const DownloadTarget next = prepare(index);
        if (!next.usable || !next.causes.isEmpty())
            break; // told at its own turn
        near(index).target = next.path;
        slot.grouped = true;
        m_landing.insert(next.path);
        group.emplace_back(slot.transfer, next.path);
    }
    landTogether(group);
}

Result<bool> BatchRun::landingOrExists(const QString &path) const
{
    if (m_landing.contains(path))
        return true;
    return testExistence(path);
}

// A target's name, which the system is asked about only when its directory held it, or the
// run has put something there since.
Result<bool> BatchRun::nameTaken(const QString &path)
{
    if (m_landing.contains(path))
        return true;
    if (!m_names.mayExist(path))
        return false;
    return testExistence(path);
}

// What the turn's transfer brought: its file at its path, or why not.
void BatchRun::endTurn(const DownloadResult &result)
{
    if (!result.ok)
        Q_EMIT entryFailed(m_turn, result.cause);
    else if (result.path != m_shownPath)
        Q_EMIT entryPath(m_turn, result.path);
    endTurn(result.ok);
}

// A file that landed has been marked ended already, by its landing. Nothing of the entry
// stays but its state.
void BatchRun::endTurn(bool landed)
{
    if (!landed && m_ended)
        m_ended(m_turn);
    m_slots[m_turn].near.reset();
    Q_EMIT turnEnds(m_turn);
    ++m_turn;
}

// Nothing of the entry goes on: its transfer stops, and its part file goes.
void BatchRun::abandon(int index)
{
    Slot &slot = m_slots[index];
    if (slot.transfer) {
        slot.transfer->cancel();
        release(index);
    } else if (slot.parked) {
        discardPartial(m_entries.at(index).address, near(index).partTarget);
        slot.parked = false;
        m_claimed.remove(near(index).partTarget);
    }
    slot.state = State::Ended;
}

// Fills the line with the next entries that can go ahead of their turn.
void BatchRun::schedule()
{
    if (!m_running)
        return;
    const int ahead = std::min(int(m_entries.size()), m_turn + MaxAhead);
    const auto shared = [this](int index) {
        return !m_multiplexed.isEmpty() && m_multiplexed.contains(near(index).host);
    };
    // Transfers over connections of their own, and those that share their server's one.
    int onLine[2] = {0, 0};
    for (int index = m_turn; index < ahead; ++index)
        if (m_slots[index].state == State::Transferring)
            ++onLine[shared(index)];
    // The line is refilled once half its held transfers have gone on it: the engine is woken
    // for several at once.
    const int limit[2] = {onLine[0] <= MaxTransfers + MaxHeld / 2 ? MaxTransfers + MaxHeld : 0,
                          MaxAhead};
    for (int index = m_turn + 1; index < ahead; ++index) {
        // Where no server shares a connection, a full line takes no more.
        if (m_multiplexed.isEmpty() && onLine[0] >= limit[0])
            return;
        if (m_slots[index].state != State::Waiting)
            continue;
        const bool sharing = shared(index);
        if (onLine[sharing] < limit[sharing] && mayStartEarly(index)) {
            startTransfer(index);
            ++onLine[sharing];
        }
    }
}

// Only what needs nothing made nor chosen before its turn goes early, and never beside an
// earlier entry for the same path, which would take the name it is to number.
bool BatchRun::mayStartEarly(int index)
{
    const QString &path = m_entries.at(index).path;
    // A directory found once stays for the rest of the run, as far as going early goes.
    const QString directory = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (!m_directories.contains(directory)) {
        if (!holdingDirectoryExists(path))
            return false;
        m_directories.insert(directory);
    }
    if (!checkPathLimits(path, true))
        return false;
    const Near &entry = near(index);
    const bool oneAtATime = m_oneAtATime.contains(entry.host);
    for (int earlier = m_turn; earlier < index; ++earlier) {
        const State state = m_slots[earlier].state;
        if (state != State::Ended) {
            const Near &other = near(earlier);
            if (other.pathKey == entry.pathKey && other.cleanPath == entry.cleanPath)
                return false;
        }
        if (oneAtATime && state == State::Transferring && near(earlier).host == entry.host)
            return false;
    }
    return true;
}

// The part file is named after the stored path, or, when another transfer of the run uses
// that name, after the first numbered one that none uses: the same name whether the entry goes
// early or at its turn, and in the next run, which continues it.
void BatchRun::startTransfer(int index)
{
    Slot &slot = m_slots[index];
    // A transfer that made way goes on with the part file it kept, which stayed claimed.
    Near &entry = near(index);
    const bool resumed = std::exchange(slot.parked, false);
    if (!resumed) {
        const QString &stored = m_entries.at(index).path;
        entry.partTarget = !m_claimed.contains(stored)
                               ? stored
                               : findFreeName(stored, [this](const QString &path) {
                                     return Result<bool>(m_claimed.contains(path));
                                 }).path;
        m_claimed.insert(entry.partTarget);
    }
    TransferOptions options = transferOptions;
    options.keepPartial = true;
    // The part file it kept when it made way is there; another is looked for only where the
    // directory held one.
    options.noEarlierPart =
        !resumed && !m_names.mayExist(entry.partTarget + QLatin1String(".part"));
    options.landLater = true;
    // A large file comes over several connections while they help, unless its host said it
    // was busy: then one request at a time, one connection each.
    options.split = !m_oneAtATime.contains(entry.host);
    if (!m_multiplexed.contains(entry.host)) {
        options.line = m_line;
        options.order = index;
    }
    if (m_ended)
        options.landed = [ended = m_ended, index](const QString &) { ended(index); };
    // A name taken while the file arrives is not replaced: the next free one is used instead.
    options.freePath = [stored = m_entries.at(index).path](const QString &) {
        return nextFreePath(stored);
    };
    slot.transfer =
        startDownload(m_entries.at(index).address, entry.partTarget, std::move(options), this);
    slot.state = State::Transferring;
    connect(slot.transfer, &Transfer::finished, this,
            [this, index](const DownloadResult &result) { transferEnded(index, result); });
    connect(slot.transfer, &Transfer::arrived, this, [this, index](bool multiplexed) {
        m_slots[index].state = State::Arrived;
        if (multiplexed)
            m_multiplexed.insert(near(index).host);
        schedule();
    });
    connect(slot.transfer, &Transfer::serverBusy, this, [this, index] { serverBusy(index); });
    if (index == m_turn)
        followProgress(index);
}

// Only the turn's transfer shows how far it is: one that goes early is followed from its turn,
// when its data has not all arrived by then.
void BatchRun::followProgress(int index)
{
    connect(m_slots[index].transfer, &Transfer::progress, this,
            [this, index](qint64 received, qint64 total) {
                if (index == m_turn)
                    Q_EMIT progress(received, total);
            });
}

void BatchRun::transferEnded(int index, const DownloadResult &result)
{
    release(index);
    Slot &slot = m_slots[index];
    slot.state = State::Ended;
    Near &entry = near(index);
    m_landing.remove(entry.target);
    if (result.ok)
        m_names.take(result.path);
    if (index != m_turn) {
        entry.early = result; // told at its turn
        schedule();
        return;
    }
    endTurn(result);
    beginTurns();
}

// A busy server gets one request at a time from now on: the earliest goes on, the others
// wait, keeping what they have, until the host is free.
void BatchRun::serverBusy(int index)
{
    const int host = near(index).host;
    m_oneAtATime.insert(host);
    makeWay(std::max(m_turn, firstOnHost(host)));
}

int BatchRun::firstOnHost(int host)
{
    const int ahead = std::min(int(m_entries.size()), m_turn + MaxAhead);
    for (int index = m_turn; index < ahead; ++index)
        if (m_slots[index].state == State::Transferring && near(index).host == host)
            return index;
    return m_turn;
}

// Sends every other transfer to the host of `index` back to waiting.
void BatchRun::makeWay(int index)
{
    const int ahead = std::min(int(m_entries.size()), m_turn + MaxAhead);
    for (int other = m_turn; other < ahead; ++other) {
        Slot &slot = m_slots[other];
        if (other == index || slot.state != State::Transferring ||
            near(other).host != near(index).host)
            continue;
        slot.transfer->stop();
        slot.parked = true;
        release(other);
        slot.state = State::Waiting;
    }
}

void BatchRun::release(int index)
{
    Slot &slot = m_slots[index];
    if (!slot.parked && slot.near)
        m_claimed.remove(slot.near->partTarget);
    if (slot.transfer) {
        slot.transfer->disconnect(this);
        // Many end at once; they go together, once nothing of theirs is on the stack. A timer
        // costs the event loop nothing per transfer, where a posted call wakes it each time.
        if (!m_reaper.isActive())
            m_reaper.start();
        m_released.push_back(std::exchange(slot.transfer, nullptr));
    }
}

void BatchRun::deleteReleased()
{
    qDeleteAll(std::exchange(m_released, {}));
}

bool BatchRun::append(QList<RunEntry> entries)
{
    if (!m_running)
        return false;
    if (m_recorder)
        m_recorder->extend(entries);
    m_entries.append(std::move(entries));
    m_slots.resize(m_entries.size());
    schedule();
    return true;
}

} // namespace quorrin::downloader
