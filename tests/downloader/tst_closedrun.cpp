// The real Quorrin on a real X server: ended by a signal at any moment of a run of small files,
// it goes every time, and its next start restores exactly the entries whose files had not landed.
#include "httpserver.h"
#include "interruptedrunrecord.h"
#include "testfiles.h"
#include "xserver.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <httplib.h>

#ifndef QUORRIN_PROGRAM
#error "QUORRIN_PROGRAM names the program under test"
#endif

using namespace quorrin;
using namespace quorrin::downloader;

namespace {

constexpr int Entries = 1000;

} // namespace

class TestClosedRun : public QObject {
    Q_OBJECT

    std::unique_ptr<test::XServer> m_x;
    std::unique_ptr<test::HttpServer> m_server;

    // A program directory holding Quorrin and the record of an interrupted run of every entry,
    // which the window shows as its queue.
    QList<InterruptedEntry> prepare(const QString &directory)
    {
        QList<InterruptedEntry> entries;
        for (int i = 0; i < Entries; ++i) {
            const QString name = QStringLiteral("f%1.bin").arg(i);
            entries.append({name, m_server->url("/files/" + name), directory + "/DL/" + name});
        }
        if (!QFile::copy(QUORRIN_PROGRAM, directory + "/quorrin") || !QDir(directory).mkdir("DL") ||
            !InterruptedRunRecord(directory).write(entries))
            return {};
        return entries;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!test::XServer::available())
            QSKIP("needs Xvfb and xdotool");
        m_x = std::make_unique<test::XServer>(120);
        QVERIFY(!m_x->display().isEmpty());
        m_server = std::make_unique<test::HttpServer>([](httplib::Server &server) {
            server.Get(R"(/files/.+)", [](const httplib::Request &, httplib::Response &response) {
                response.set_content(std::string(4096, 'q'), "application/octet-stream");
            });
        });
    }

    void cleanupTestCase() { m_x.reset(); }

    void closeAtRandomMoments()
    {
        QRandomGenerator random(2026);
        const int signals[] = {SIGTERM, SIGINT, SIGHUP};
        int midway = 0;
        for (int round = 0; round < 6; ++round) {
            QTemporaryDir directory;
            const QList<InterruptedEntry> entries = prepare(directory.path());
            QCOMPARE(entries.size(), Entries);
            QTemporaryDir runtime;
            QProcess quorrin;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("DISPLAY", m_x->display());
            environment.insert("QT_QPA_PLATFORM", "xcb");
            environment.insert("XDG_RUNTIME_DIR", runtime.path());
            quorrin.setProcessEnvironment(environment);
            quorrin.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            quorrin.start(directory.filePath("quorrin"), {});
            QVERIFY(quorrin.waitForStarted());
            const QString window =
                m_x->run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Quorrin$"});
            QVERIFY(!window.isEmpty());
            // The download button's middle, in the window's logical pixels.
            m_x->run("xdotool", {"mousemove", "--window", window, "72", "94", "click", "1"});
            QTRY_VERIFY(QFileInfo::exists(entries.first().path));
            QTest::qWait(random.bounded(400));
            ::kill(pid_t(quorrin.processId()), signals[round % 3]);
            QVERIFY2(quorrin.waitForFinished(10000), "the program did not end");
            QCOMPARE(quorrin.exitStatus(), QProcess::NormalExit);
            QCOMPARE(quorrin.exitCode(), 0);

            QList<InterruptedEntry> unlanded;
            for (const InterruptedEntry &entry : entries)
                if (!QFileInfo::exists(entry.path))
                    unlanded << entry;
            const QByteArray record = test::contentOf(directory.filePath(InterruptedRunFileName));
            QCOMPARE(parseInterruptedRun(record).value_or(QList<InterruptedEntry>{}), unlanded);
            if (!unlanded.isEmpty())
                ++midway;
        }
        QVERIFY(midway > 2); // most signals came while files were still arriving
    }
};

QTEST_GUILESS_MAIN(TestClosedRun)
#include "tst_closedrun.moc"
