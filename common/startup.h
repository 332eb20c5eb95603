#pragma once

class QCoreApplication;

namespace quorrin {

// True when a Qt platform can open windows here. Otherwise prints one line saying why,
// so that a start without a display does not end in a backtrace from the platform plugin.
bool checkDisplay(const char *programName);

// A Wayland client cannot place its own window; when XWayland is there and the user has not
// chosen a platform, run on X11 instead. Call before the application object exists.
void preferX11OverWayland();

// Loads Qt's French texts (dialogs, standard buttons) whatever the user's locale.
void installFrenchTranslations(QCoreApplication &application);

} // namespace quorrin
