#pragma once

class QCoreApplication;

namespace quorrin {

// True when a Qt platform can open windows here. Otherwise prints one line saying why,
// so that a start without a display does not end in a backtrace from the platform plugin.
// When it returns true, a display that is named but cannot be opened also ends the program
// with one line and status 1 once the application object tries it (watchPlatformStart).
bool checkDisplay(const char *programName);

// Until the application object next made has started its platform, Qt's messages are held
// back; a platform that cannot start prints one French line on standard error and ends the
// process with status 1 instead of Qt's abort. Once the platform is up, the held messages are
// shown as usual. Call before the application object exists.
bool watchPlatformStart(const char *programName);

// A Wayland client cannot place its own window; when XWayland is there and the user has not
// chosen a platform, run on X11 instead. Call before the application object exists.
void preferX11OverWayland();

// Loads Qt's French texts (dialogs, standard buttons) whatever the user's locale.
void installFrenchTranslations(QCoreApplication &application);

} // namespace quorrin
