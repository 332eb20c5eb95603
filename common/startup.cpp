#include "startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace quorrin {

bool checkDisplay(const char *programName)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
        qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return true;
    std::fprintf(stderr,
                 "%s : aucun affichage disponible (ni DISPLAY ni WAYLAND_DISPLAY n'est défini).\n",
                 programName);
    return false;
}

void preferX11OverWayland()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || !qEnvironmentVariableIsSet("DISPLAY"))
        return;
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
        qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

void installFrenchTranslations(QCoreApplication &application)
{
    const QLocale french(QLocale::French, QLocale::France);
    QLocale::setDefault(french);
    auto *translator = new QTranslator(&application);
    if (translator->load(french, QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

} // namespace quorrin
