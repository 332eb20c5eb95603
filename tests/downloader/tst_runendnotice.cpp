#include "desktopnotification.h"
#include "runendnotice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quorrin;
using namespace quorrin::downloader;
using namespace std::chrono_literals;

// A notification service of the test's own, on a bus of its own.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received; // application, icon, summary and body of each notification
public Q_SLOTS:
    uint Notify(const QString &application, uint, const QString &icon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        received << application << icon << summary << body;
        return 1;
    }
};

class TestRunEndNotice : public QObject {
    Q_OBJECT

    QTemporaryDir m_busDirectory; // its socket, gone with the test however the bus ends
    QProcess m_bus;

private Q_SLOTS:
    void decision_data()
    {
        QTest::addColumn<int>("lastedMs");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("announced");
        QTest::newRow("ten seconds exactly") << 10000 << false << false;
        QTest::newRow("longer, window elsewhere") << 10001 << false << true;
        QTest::newRow("longer, window active") << 60000 << true << false;
    }
    void decision()
    {
        QFETCH(int, lastedMs);
        QFETCH(bool, active);
        QFETCH(bool, announced);
        QCOMPARE(announceRunEnd(std::chrono::milliseconds(lastedMs), active), announced);
    }

    void failedEntries_data()
    {
        QTest::addColumn<int>("failed");
        QTest::addColumn<QString>("notice");
        QTest::newRow("none") << 0 << "";
        QTest::newRow("one") << 1 << "1 téléchargement a échoué";
        QTest::newRow("several") << 2 << "2 téléchargements ont échoué";
        QTest::newRow("thousands, French grouping")
            << 1234 << "1\u202F234 téléchargements ont échoué";
    }
    void failedEntries()
    {
        QFETCH(int, failed);
        QFETCH(QString, notice);
        QCOMPARE(failedEntriesNotice(failed), notice);
    }

    void sendsThroughTheService()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("no dbus-daemon to run a session bus");
        QVERIFY(m_busDirectory.isValid());
        m_bus.start(daemon, {"--session", "--nofork", "--print-address",
                             "--address=unix:dir=" + m_busDirectory.path()});
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QByteArray address = m_bus.readLine().trimmed();
        // Read by the first use of the session bus, which follows.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        QDBusConnection server =
            QDBusConnection::connectToBus(QString::fromUtf8(address), "server");
        QVERIFY(server.isConnected());
        NotificationService service;
        QVERIFY(server.registerObject("/org/freedesktop/Notifications", &service,
                                      QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService("org.freedesktop.Notifications"));
        notifyDesktop("Tous les téléchargements sont terminés", "2 téléchargements ont échoué");
        QTRY_COMPARE(service.received,
                     (QStringList{"Quorrin", "quorrin", "Tous les téléchargements sont terminés",
                                  "2 téléchargements ont échoué"}));
        QDBusConnection::disconnectFromBus("server");
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestRunEndNotice)
#include "tst_runendnotice.moc"
