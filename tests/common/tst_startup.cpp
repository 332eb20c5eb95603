#include <QFileInfo>
#include <QProcess>
#include <QTest>

#ifndef QUORRIN_PROGRAM
#error "QUORRIN_PROGRAM and UPDATER_PROGRAM name the programs under test"
#endif

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A display that is named but cannot be opened: one line of ours, status 1, no abort.
    void displayThatCannotOpen_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        int number = 4917;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        const QString display = QStringLiteral(":%1").arg(number);
        QTest::newRow("quorrin, X display gone") << QUORRIN_PROGRAM << "DISPLAY" << display;
        QTest::newRow("updater, X display gone") << UPDATER_PROGRAM << "DISPLAY" << display;
        QTest::newRow("quorrin, X platform without display") << QUORRIN_PROGRAM << "QT_QPA_PLATFORM"
                                                             << "xcb";
    }
    void displayThatCannotOpen()
    {
        QFETCH(QString, program);
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
            environment.remove(name);
        environment.insert(variable, value);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        // The loopback updater of the tests calls itself "updater", as the shipped one.
        const QString name = QFileInfo(program).fileName().section(QLatin1Char('_'), 0, 0);
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()),
                 QStringLiteral("%1 : impossible d'ouvrir l'affichage (%2=%3).\n")
                     .arg(name, variable, value));
    }
};

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
