#include "desktopnotification.h"
#include "runendnotice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace quorrin;
using namespace quorrin::downloader;
using namespace std::chrono_literals;

// A notification service of the test's own, on a bus of its own.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received; // application, icon and summary of each notification
public Q_SLOTS:
    uint Notify(const QString &application, uint, const QString &icon, const QString &summary,
                const QString &, const QStringList &, const QVariantMap &, int)
    {
        received << application << icon << summary;
        return 1;
    }
};

class TestRunEndNotice : public QObject {
    Q_OBJECT

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

    void sendsThroughTheService()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("no dbus-daemon to run a session bus");
        m_bus.start(daemon, {"--session", "--nofork", "--print-address"});
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QByteArray address = m_bus.readLine().trimmed();
        // Read by the first use of the session bus, which follows.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        notifyDesktop("avant le service"); // nobody listens: nothing happens

        QDBusConnection server =
            QDBusConnection::connectToBus(QString::fromUtf8(address), "server");
        QVERIFY(server.isConnected());
        NotificationService service;
        QVERIFY(server.registerObject("/org/freedesktop/Notifications", &service,
                                      QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService("org.freedesktop.Notifications"));
        notifyDesktop("Tous les téléchargements sont terminés");
        QTRY_COMPARE(service.received,
                     (QStringList{"Quorrin", "quorrin", "Tous les téléchargements sont terminés"}));
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
