// The channel through which later starts hand their addresses to the window: the message, the
// place of its socket, who may use it, and which start becomes the window.
#include "handoverclient.h"
#include "handovermessage.h"
#include "handoverplace.h"
#include "handoverserver.h"
#include "startrole.h"
#include "windowclaim.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace quorrin;
using namespace quorrin::downloader;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(HandOver)

namespace {

const QByteArray TwoAddresses = "quorrin-hand-over 1\n"
                                "address http://h/a.zip\n"
                                "address http://h/b.zip\n"
                                "end\n";

// A connection to `path` that the test writes to by hand, as a foreign program would.
class RawConnection {
public:
    explicit RawConnection(const QString &path)
        : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray encoded = QFile::encodeName(path);
        std::memcpy(address.sun_path, encoded.constData(), encoded.size());
        m_connected =
            ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawConnection() { ::close(m_fd); }

    bool connected() const { return m_connected; }
    // Sends `bytes` whole, on a thread of its own: the window reads only from its event loop.
    std::future<bool> send(QByteArray bytes, bool thenEnd)
    {
        return std::async(std::launch::async, [fd = m_fd, bytes, thenEnd] {
            qsizetype sent = 0;
            while (sent < bytes.size()) {
                const ssize_t count =
                    ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
                if (count <= 0)
                    return false;
                sent += count;
            }
            return !thenEnd || ::shutdown(fd, SHUT_WR) == 0;
        });
    }

private:
    int m_fd;
    bool m_connected = false;
};

} // namespace

class TestHandOver : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<QTemporaryDir> m_data;
    QList<HandOver> m_received;

    HandOverPlace place() const
    {
        const Result<HandOverPlace> place = handOverPlace(m_runtime->path(), m_data->path());
        return place ? place.value() : HandOverPlace{};
    }
    // The window's end: records what it is handed, and replies as a queue of 10 would.
    std::unique_ptr<HandOverServer> serve(const WindowClaim &claim, uid_t owner = ::geteuid())
    {
        return std::make_unique<HandOverServer>(
            claim.socket(),
            [this](const HandOver &handOver) {
                m_received << handOver;
                const int queued = int(handOver.addresses.size());
                return HandOverReply{queued, 0, 10 + queued};
            },
            owner);
    }
    // Delivers `message` on a thread of its own while this one runs the window's event loop.
    static std::future<Delivery> deliver(const QString &socketPath, const QByteArray &message)
    {
        return std::async(std::launch::async, [socketPath, message] {
            return deliverHandOver(socketPath, message, 10s);
        });
    }
    static bool ready(const std::future<Delivery> &delivery)
    {
        return delivery.wait_for(0s) == std::future_status::ready;
    }

private Q_SLOTS:
    void init()
    {
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(QFile::setPermissions(m_runtime->path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_data = std::make_unique<QTemporaryDir>();
        m_received.clear();
    }

    void messageRoundTrip_data()
    {
        QTest::addColumn<HandOver>("handOver");
        QTest::newRow("nothing: only brings the window forward") << HandOver{};
        QTest::newRow("addresses as pasted lines")
            << HandOver{{"http://h/a.zip", "  http://alice:s%40cret@h/été \"1\".zip?x=\\ ",
                         "ftp://h/\t😀.iso", "no slash",
                         "\xef\xbb\xbf"
                         "bom"},
                        {},
                        {}};
        QTest::newRow("startup id and token")
            << HandOver{{"http://h/a.zip"}, "launcher-42-host-quorrin-0_TIME1234", "tok en"};
        QStringList many;
        for (int i = 0; i < 40000; ++i)
            many << QStringLiteral("http://h/f%1").arg(i);
        // All go: the window counts those its queue cannot hold.
        QTest::newRow("more than a queue holds") << HandOver{many, {}, {}};
    }
    void messageRoundTrip()
    {
        QFETCH(HandOver, handOver);
        QCOMPARE(parseHandOver(serializeHandOver(handOver)), handOver);
    }

    // What the reader would refuse is never sent: the addresses that remain still go.
    void messageLeavesOutWhatIsNone()
    {
        const QString longToken(MaxActivationBytes + 1, QLatin1Char('t'));
        const HandOver handOver{{"", "http://h/a\nb", "http://h/c"}, "id\x01", longToken};
        QCOMPARE(parseHandOver(serializeHandOver(handOver)), (HandOver{{"http://h/c"}, {}, {}}));
    }

    void messageRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QVERIFY(parseHandOver(TwoAddresses)); // each row below spoils this one
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("another version") << QByteArray(TwoAddresses).replace(" 1\n", " 2\n");
        QTest::newRow("another program's")
            << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QTest::newRow("cut short") << TwoAddresses.left(TwoAddresses.size() - 4);
        QTest::newRow("no final line feed") << TwoAddresses.chopped(1);
        QTest::newRow("bytes after the end") << TwoAddresses + "address http://h/c\n";
        QTest::newRow("CR LF lines") << QByteArray(TwoAddresses).replace("\n", "\r\n");
        QTest::newRow("unknown line")
            << QByteArray(TwoAddresses).replace("end\n", "priority high\nend\n");
        QTest::newRow("empty address")
            << QByteArray(TwoAddresses).replace("address http://h/b.zip", "address ");
        QTest::newRow("invalid UTF-8") << QByteArray(TwoAddresses)
                                              .replace("a.zip", "\xff"
                                                                "a.zip");
        QTest::newRow("encoded surrogate")
            << QByteArray(TwoAddresses).replace("a.zip", "\xed\xa0\x80");
        QTest::newRow("token after the addresses")
            << QByteArray(TwoAddresses).replace("end\n", "activation-token t\nend\n");
        QTest::newRow("two startup ids")
            << QByteArray(TwoAddresses)
                   .replace("1\naddress", "1\nstartup-id a\nstartup-id b\naddress");
        QTest::newRow("control character in a token")
            << QByteArray(TwoAddresses).replace("1\naddress", "1\nactivation-token a\tb\naddress");
        QTest::newRow("empty token")
            << QByteArray(TwoAddresses).replace("1\naddress", "1\nactivation-token \naddress");
        QTest::newRow("token too long")
            << QByteArray(TwoAddresses)
                   .replace("1\naddress", "1\nstartup-id " +
                                              QByteArray(MaxActivationBytes + 1, 'i') +
                                              "\naddress");
        QByteArray huge = "quorrin-hand-over 1\naddress http://h/" +
                          QByteArray(MaxHandOverBytes, 'x') + "\nend\n";
        QTest::newRow("longer than a message may be") << huge;
    }
    void messageRefused()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(parseHandOver(bytes), std::nullopt);
    }

    void replyRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = serializeHandOverReply({3, 1, 12});
        QCOMPARE(parseHandOverReply(good), (HandOverReply{3, 1, 12}));
        QTest::newRow("a message, not a reply") << TwoAddresses;
        QTest::newRow("negative") << QByteArray(good).replace("queued 3", "queued -3");
        QTest::newRow("leading zero") << QByteArray(good).replace("queued 3", "queued 03");
        QTest::newRow("beyond an int") << QByteArray(good).replace("queued 3", "queued 9999999999");
        QTest::newRow("missing count") << QByteArray(good).replace("not-queued 1\n", "");
        QTest::newRow("cut short") << good.chopped(4);
    }
    void replyRefused()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(parseHandOverReply(bytes), std::nullopt);
    }

    // Each data directory has its window: two spellings of one directory meet at one socket.
    void placeFollowsDataDirectory()
    {
        QTemporaryDir other;
        const QString link = m_data->filePath("link");
        QVERIFY(QFile::link(other.path(), link));
        const auto placeFor = [this](const QString &data) {
            return handOverPlace(m_runtime->path(), data).value().socketPath;
        };
        QCOMPARE(placeFor(link), placeFor(other.path() + "/./"));
        QVERIFY(placeFor(link) != placeFor(m_data->path()));
        QCOMPARE(QFileInfo(placeFor(link)).absolutePath(), m_runtime->path());
    }

    // A runtime directory that another user could enter would let that user hand addresses in.
    void placeRefused_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<int>("mode");
        QTest::newRow("none given") << QString() << 0;
        QTest::newRow("missing") << "missing" << 0;
        QTest::newRow("a file") << "file" << 0600;
        QTest::newRow("open to the group") << "group" << 0750;
        QTest::newRow("open to all") << "all" << 0777;
        QTest::newRow("path too long for a socket") << QString(120, QLatin1Char('d')) << 0700;
    }
    void placeRefused()
    {
        QFETCH(QString, runtime);
        QFETCH(int, mode);
        const QString path = runtime.isEmpty() ? QString() : m_runtime->filePath(runtime);
        if (runtime == QLatin1String("file"))
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        else if (mode != 0)
            QVERIFY(QDir().mkpath(path));
        if (mode != 0)
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
        QVERIFY(!handOverPlace(path, m_data->path()));
    }

    // Only a directory of the user's own will do, whatever its mode.
    void placeRefusedInAnotherUsersDirectory()
    {
        if (::geteuid() != 0)
            QSKIP("only root can give a directory to another user");
        const QString runtime = m_runtime->filePath("nobody");
        QVERIFY(QDir().mkpath(runtime));
        QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
        QCOMPARE(::chown(QFile::encodeName(runtime).constData(), 65534, 65534), 0);
        QVERIFY(!handOverPlace(runtime, m_data->path()));
    }

    void handedToTheWindow()
    {
        const WindowClaim claim(place());
        QVERIFY2(claim.owned(), qPrintable(claim.cause()));
        const auto server = serve(claim);
        const HandOver handOver{{"http://h/a.zip", "http://h/b.zip"}, "id_TIME5", "token"};
        std::future<Delivery> delivery = deliver(place().socketPath, serializeHandOver(handOver));
        QTRY_VERIFY_WITH_TIMEOUT(ready(delivery), 20000);
        const Delivery delivered = delivery.get();
        QCOMPARE(delivered.outcome, Delivery::Outcome::Answered);
        QCOMPARE(delivered.reply, (HandOverReply{2, 0, 12}));
        QCOMPARE(m_received, QList<HandOver>{handOver});
    }

    // A process of another user is refused before it is read, and the window goes on: the test
    // cannot become another user, so the window is told it belongs to one.
    void anotherUserRefused()
    {
        const WindowClaim claim(place());
        QVERIFY(claim.owned());
        const auto server = serve(claim, ::geteuid() + 1);
        QSignalSpy refused(server.get(), &HandOverServer::refused);
        std::future<Delivery> delivery = deliver(place().socketPath, TwoAddresses);
        QTRY_VERIFY_WITH_TIMEOUT(ready(delivery), 20000);
        QCOMPARE(delivery.get().outcome, Delivery::Outcome::Failed);
        QCOMPARE(refused.count(), 1);
        QCOMPARE(refused.at(0).at(0).toString(),
                 QStringLiteral("connexion d'un autre utilisateur"));
        QVERIFY(m_received.isEmpty());
    }

    // A connection that sends what is no message of ours is closed without a reply, and the
    // window still takes the next one.
    void foreignConnectionRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("thenEnd");
        QTest::addColumn<int>("patience"); // milliseconds
        QTest::addColumn<QString>("cause");
        // Whatever ends by itself is given all the time it may need, however slow the machine.
        constexpr int Ample = 120000;
        QTest::newRow("malformed") << QByteArray("GET / HTTP/1.1\r\n\r\n") << true << Ample
                                   << QStringLiteral("message illisible");
        QTest::newRow("cut short")
            << TwoAddresses.left(30) << true << Ample << QStringLiteral("message illisible");
        QTest::newRow("longer than a message may be")
            << QByteArray(MaxHandOverBytes + 1, 'x') << false << Ample
            << QStringLiteral("message trop long");
        QTest::newRow("never finished")
            << TwoAddresses << false << 300 << QStringLiteral("message inachevé");
    }
    void foreignConnectionRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, thenEnd);
        QFETCH(int, patience);
        QFETCH(QString, cause);
        const WindowClaim claim(place());
        QVERIFY(claim.owned());
        const auto server = serve(claim);
        server->patience = std::chrono::milliseconds(patience);
        QSignalSpy refused(server.get(), &HandOverServer::refused);
        RawConnection connection(place().socketPath);
        QVERIFY(connection.connected());
        std::future<bool> sent = connection.send(bytes, thenEnd);
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 120000);
        QCOMPARE(refused.at(0).at(0).toString(), cause);
        sent.wait();
        QVERIFY(m_received.isEmpty());

        std::future<Delivery> delivery = deliver(place().socketPath, TwoAddresses);
        QTRY_VERIFY_WITH_TIMEOUT(ready(delivery), 20000);
        QCOMPARE(delivery.get().outcome, Delivery::Outcome::Answered);
        QCOMPARE(m_received.size(), 1);
    }

    // Starts at the same moment make one window; the others hand it their addresses, none lost.
    void simultaneousStartsMakeOneWindow()
    {
        constexpr int Starts = 6;
        std::atomic<int> waiting{Starts};
        std::vector<std::future<StartRole>> roles;
        for (int i = 0; i < Starts; ++i) {
            const QByteArray message =
                serializeHandOver({{QStringLiteral("http://h/%1.zip").arg(i)}, {}, {}});
            roles.push_back(std::async(std::launch::async, [&waiting, message, place = place()] {
                // All go at once.
                --waiting;
                while (waiting > 0)
                    std::this_thread::yield();
                return claimWindowOrHandOver(place, message, 10s);
            }));
        }
        // The window serves once it knows it is the window, as the program does.
        std::unique_ptr<WindowClaim> claim;
        std::unique_ptr<HandOverServer> server;
        int windows = 0;
        int handedOver = 0;
        int ended = 0;
        const auto collect = [&] {
            for (std::future<StartRole> &future : roles) {
                if (!future.valid() || future.wait_for(0s) != std::future_status::ready)
                    continue;
                StartRole role = future.get();
                ++ended;
                handedOver += role.reply ? 1 : 0;
                if (role.claim) {
                    ++windows;
                    claim = std::move(role.claim);
                    server = serve(*claim);
                }
            }
            return ended == Starts;
        };
        QTRY_VERIFY_WITH_TIMEOUT(collect(), 20000);
        QCOMPARE(windows, 1);
        QCOMPARE(handedOver, Starts - 1);
        QStringList handed;
        for (const HandOver &handOver : m_received)
            handed << handOver.addresses;
        QCOMPARE(QSet<QString>(handed.begin(), handed.end()).size(), Starts - 1);
    }
};

QTEST_GUILESS_MAIN(TestHandOver)
#include "tst_handover.moc"
