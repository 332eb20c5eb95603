#pragma once

#include <QString>
#include <QStringList>

namespace quorrin::updater {

// The fields of the updater's command line, in the order Quorrin writes them.
enum CommandLineField : qsizetype {
    StemField = 0,       // the installer's file name up to its revision
    RevisionField = 1,   // the caller's revision, in decimal
    NameField = 2,       // the caller's name, for display
    ExecutableField = 3, // the caller's executable file name, as the process list shows it
    CommandLineFieldCount = 4
};

// The raw command line: `arguments` (those after the program's path, as in
// QCoreApplication::arguments().mid(1)) joined by single spaces. Quorrin passes its fields
// as one argument, so this is that argument as it was sent.
QString joinArguments(const QStringList &arguments);

// The command line's fields: split at every TAB, nothing trimmed, empty fields kept, so
// "a\t" gives "a" and "". An empty command line holds no field.
QStringList splitCommandLine(const QString &commandLine);

} // namespace quorrin::updater
