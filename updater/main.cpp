#include "commandline.h"
#include "form1.h"
#include "startup.h"
#include "terminationsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    quorrin::preferX11OverWayland();
    if (!quorrin::checkDisplay("updater"))
        return 1;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("updater"));
    // The notification may be the only window, hidden for most of the run: the program ends
    // when its window says so, not when a message box closes.
    QApplication::setQuitOnLastWindowClosed(false);
    quorrin::installFrenchTranslations(application);

    quorrin::updater::Form1 window(quorrin::updater::joinArguments(QApplication::arguments().mid(1)));
    QObject::connect(&window, &quorrin::updater::Form1::ended, &application,
                     [] { QCoreApplication::exit(0); });
    // Ended from outside, it leaves no half-downloaded installer behind.
    quorrin::onTerminationSignal([] { QCoreApplication::exit(0); });
    if (!window.Form_Load())
        return 0;
    return application.exec();
}
