#pragma once

#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quorrin::downloader {

// What a start of Quorrin is asked on its command line.
struct StartArguments {
    enum class Action { Queue, Help, Version };
    // An address to queue, or a file that lists them one a line ("-": the standard input).
    struct Source {
        bool isFile = false;
        QString text;

        friend bool operator==(const Source &, const Source &) = default;
    };

    Action action = Action::Queue;
    QList<Source> sources; // in the order given
};

// Reads `arguments` (those after the program's name) as GNU programs read theirs: options
// and addresses in any order, "--" ending the options, a long option by any unambiguous
// beginning, its value after "=" or in the next argument, a short one's value joined to it or
// next. Qt's own options (-platform, -style, -session…) are left to Qt. The failure's cause
// is the French line that says what is wrong, without the program's name.
Result<StartArguments> parseStartArguments(const QStringList &arguments);

// What --help prints: how to call Quorrin, in French.
QString startHelp();
// What --version prints.
QString startVersion();

} // namespace quorrin::downloader
