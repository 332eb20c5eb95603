#include "form1.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (!quorrin::checkDisplay("quorrin"))
        return 1;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrin"));
    quorrin::installFrenchTranslations(application);
    quorrin::Form1 window;
    window.show();
    return application.exec();
}
