#include "commandline.h"

namespace quorrin {

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

QString commandLineField(const QStringList &updArgs, qsizetype index)
{
    return index >= 0 && index < updArgs.size() ? updArgs.at(index) : QString();
}

} // namespace quorrin
