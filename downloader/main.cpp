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
    quorrin::onTerminationSignal([&window] { window.close(); });
    return application.exec();
}
