#pragma once

#include <QString>

#include <functional>

namespace quorrin {

// Hands a file or an address to the desktop, as a double click in the file manager would:
// an executable file is started with `parameters` as its one argument (none when empty);
// anything else goes to the desktop's opener, except a local file that does not exist, for
// which nothing is done. Returns at once and reports nothing.
void ShellOpen(const QString &file, const QString &parameters);

// Something that opens files and addresses as ShellOpen does; windows take one, so that
// tests can see what would be opened.
using ShellLauncher = std::function<void(const QString &file, const QString &parameters)>;

} // namespace quorrin
