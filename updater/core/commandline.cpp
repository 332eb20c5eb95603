#include "commandline.h"

namespace quorrin::updater {

QString joinArguments(const QStringList &arguments)
{
    return arguments.join(QLatin1Char(' '));
}

QStringList splitCommandLine(const QString &commandLine)
{
    if (commandLine.isEmpty())
        return {};
    return commandLine.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
}

} // namespace quorrin::updater
