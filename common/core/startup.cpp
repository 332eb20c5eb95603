#include "startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMutex>
#include <QStringList>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace quorrin {
namespace {

// What Qt says while its platform starts, held back: on a failure it is six lines of Qt's own
// and an abort, where one line of ours tells the user more.
struct PlatformStart {
    QMutex mutex;
    const char *programName = nullptr;
    QtMessageHandler previous = nullptr;
    bool watching = false;
    struct Held {
        QtMsgType type;
        QByteArray category;
        QString text;
    };
    std::vector<Held> held;
};

PlatformStart &platformStart()
{
    static PlatformStart start;
    return start;
}

QString displayNamed()
{
    QStringList named;
    for (const char *variable : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        if (qEnvironmentVariableIsSet(variable))
            named << QStringLiteral("%1=%2").arg(QLatin1String(variable),
                                                 qEnvironmentVariable(variable));
    }
    return named.join(QLatin1String(", "));
}

void holdWhilePlatformStarts(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    PlatformStart &start = platformStart();
    QMutexLocker locker(&start.mutex);
    if (!start.watching) {
        locker.unlock();
        if (start.previous)
            start.previous(type, context, text);
        return;
    }
    if (type != QtFatalMsg) {
        start.held.push_back({type, QByteArray(context.category), text});
        return;
    }
    const QByteArray line = QStringLiteral("%1 : impossible d'ouvrir l'affichage (%2).\n")
                                .arg(QLatin1String(start.programName), displayNamed())
                                .toLocal8Bit();
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
    // Qt would abort once this returns; the process is in the middle of its start, with
    // nothing to save or clean up.
    std::_Exit(1);
}

// Run by the application's constructor once its platform is up.
void platformStarted()
{
    PlatformStart &start = platformStart();
    std::vector<PlatformStart::Held> held;
    {
        QMutexLocker locker(&start.mutex);
        start.watching = false;
        held.swap(start.held);
    }
    qInstallMessageHandler(start.previous);
    for (const PlatformStart::Held &message : held) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        qt_message_output(message.type, context, message.text);
    }
}

} // namespace

bool checkDisplay(const char *programName)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
        qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return watchPlatformStart(programName);
    std::fprintf(stderr,
                 "%s : aucun affichage disponible (ni DISPLAY ni WAYLAND_DISPLAY n'est défini).\n",
                 programName);
    return false;
}

bool watchPlatformStart(const char *programName)
{
    PlatformStart &start = platformStart();
    {
        QMutexLocker locker(&start.mutex);
        if (start.watching)
            return true;
        start.programName = programName;
        start.watching = true;
    }
    start.previous = qInstallMessageHandler(holdWhilePlatformStarts);
    qAddPreRoutine(platformStarted);
    return true;
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
