#include "httpserver.h"
#include "pagefetch.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <httplib.h>
#include <thread>

using namespace quorrin;
using namespace quorrin::updater;
using namespace std::chrono_literals;

class TestPageFetch : public QObject {
    Q_OBJECT

    std::unique_ptr<test::HttpServer> m_server;

    // Loads `path` and returns the body markup it completed with.
    QString load(const QString &path, std::chrono::milliseconds timeout = 2min)
    {
        PageFetch fetch;
        fetch.setTimeout(timeout);
        QSignalSpy complete(&fetch, &PageFetch::DocumentComplete);
        fetch.Navigate(m_server->url(path));
        if (!complete.wait(20000))
            return QStringLiteral("<no completion>");
        QTest::qWait(50);
        return complete.size() == 1 ? complete.at(0).at(0).toString()
                                    : QStringLiteral("<%1 completions>").arg(complete.size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<test::HttpServer>([](httplib::Server &server) {
            server.Get("/page", [](const httplib::Request &, httplib::Response &response) {
                response.set_content(
                    "<html><BODY class=x><A href=\"setup_q4.exe\">é</A></BODY></html>",
                    "text/html; charset=utf-8");
            });
            server.Get("/latin1", [](const httplib::Request &, httplib::Response &response) {
                response.set_content("<body>caf\xe9</body>", "text/html; charset=ISO-8859-1");
            });
            server.Get("/moved", [](const httplib::Request &, httplib::Response &response) {
                response.set_redirect("/page");
            });
            server.Get("/to-ftp", [](const httplib::Request &, httplib::Response &response) {
                response.set_redirect("ftp://127.0.0.1/page");
            });
            server.Get("/missing", [](const httplib::Request &, httplib::Response &response) {
                response.status = 404;
                response.set_content("<body>not found</body>", "text/html");
            });
            server.Get("/huge", [](const httplib::Request &, httplib::Response &response) {
                response.set_content("<body>" + std::string(5 * 1024 * 1024, 'x') + "</body>",
                                     "text/html");
            });
            server.Get("/silent", [](const httplib::Request &, httplib::Response &response) {
                std::this_thread::sleep_for(4s);
                response.set_content("<body>late</body>", "text/html");
            });
        });
    }
    void cleanupTestCase() { m_server.reset(); }

    void completes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("markup");
        QTest::newRow("body of the page") << "/page"
                                          << "<A href=\"setup_q4.exe\">é</A>";
        QTest::newRow("named character set") << "/latin1"
                                             << "café";
        QTest::newRow("redirect followed") << "/moved"
                                           << "<A href=\"setup_q4.exe\">é</A>";
        // Whatever cannot be had completes empty, so the scan finds no link.
        QTest::newRow("redirect to ftp") << "/to-ftp"
                                         << "";
        QTest::newRow("error status") << "/missing"
                                      << "";
        QTest::newRow("larger than 4 MiB") << "/huge"
                                           << "";
    }
    void completes()
    {
        QFETCH(QString, path);
        QFETCH(QString, markup);
        QCOMPARE(load(path), markup);
    }

    void unreachableServerCompletesEmpty()
    {
        PageFetch fetch;
        QSignalSpy complete(&fetch, &PageFetch::DocumentComplete);
        fetch.Navigate(QStringLiteral("http://127.0.0.1:1/vb_addons.htm"));
        QVERIFY(complete.wait(20000));
        QCOMPARE(complete.at(0).at(0).toString(), QString());
    }

    void slowPageCompletesEmptyAfterTimeout() { QCOMPARE(load("/silent", 300ms), QString()); }

    // Ending the program while the page is loading must neither hang nor report late.
    void destroyedWhileLoading()
    {
        QElapsedTimer clock;
        clock.start();
        {
            PageFetch fetch;
            fetch.Navigate(m_server->url("/silent"));
            QTest::qWait(100);
        }
        QVERIFY2(clock.elapsed() < 2500, "the fetch was waited for instead of abandoned");
    }
};

QTEST_GUILESS_MAIN(TestPageFetch)
#include "tst_pagefetch.moc"
