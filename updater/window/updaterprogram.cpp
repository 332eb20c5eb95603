#include "updaterprogram.h"

#include "commandline.h"
#include "form1.h"
#include "startup.h"
#include "terminationsignals.h"

#include <QApplication>

namespace quorrin::updater {

int runUpdater(int argc, char *argv[], const QString &baseUrl, const QByteArray &publicKey)
{
    preferX11OverWayland();
    if (!checkDisplay("updater"))
        return 1;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("updater"));
    // The notification may be the only window, hidden for most of the run: the program ends
    // when its window says so, not when a message box closes.
    QApplication::setQuitOnLastWindowClosed(false);
    installFrenchTranslations(application);

    Form1::Services services;
    services.baseUrl = baseUrl;
    services.publicKey = publicKey;
    Form1 window(joinArguments(QApplication::arguments().mid(1)), std::move(services));
    QObject::connect(&window, &Form1::ended, &application, [] { QCoreApplication::exit(0); });
    // Ended from outside, it leaves no half-downloaded installer behind.
    onTerminationSignal([] { QCoreApplication::exit(0); });
    if (!window.Form_Load())
        return 0;
    return application.exec();
}

} // namespace quorrin::updater
