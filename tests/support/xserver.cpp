#include "xserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

namespace quorrin::test {

bool XServer::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

XServer::XServer(int firstDisplay)
{
    QString display;
    for (int number = firstDisplay; number < firstDisplay + 60 && display.isEmpty(); ++number) {
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            display = QStringLiteral(":%1").arg(number);
    }
    // Without -noreset the server resets whenever its last client leaves, and a program
    // that connects during the reset is refused.
    m_server.start(QStringLiteral("Xvfb"),
                   {display, QStringLiteral("-screen"), QStringLiteral("0"),
                    QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!m_server.waitForStarted())
        return;
    m_display = display;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(50)) {
        if (!run(QStringLiteral("xdotool"), {QStringLiteral("getdisplaygeometry")}).isEmpty())
            return;
    }
    m_display.clear();
}

XServer::~XServer()
{
    m_server.terminate();
    m_server.waitForFinished();
}

QString XServer::run(const QString &program, const QStringList &arguments) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace quorrin::test
