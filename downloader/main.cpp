#include "form1.h"
#include "startup.h"
#include "terminationsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (!quorrin::checkDisplay("quorrin"))
        return 1;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrin"));
    quorrin::installFrenchTranslations(application);
    quorrin::downloader::Form1 window;
    window.show();
    // A close always ends the program, whatever Qt may count as still open; so does a signal,
    // after the window has kept what its run can continue.
    QObject::connect(&application, &QGuiApplication::lastWindowClosed, &application,
                     &QCoreApplication::quit);
    quorrin::onTerminationSignal([&window] {
        window.close();
        QCoreApplication::quit();
    });
    return application.exec();
}
