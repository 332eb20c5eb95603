#pragma once

#include <QString>

namespace quorrin::updater {

// The update page's address: the update site's base URL followed by "vb_addons.htm".
QString updatePageUrl(const QString &baseUrl);

// Title of the question asked when the updater is started by hand.
QString manualLaunchTitle();

// The question asked when the updater is started by hand (six lines): what the program is
// for, the update page's address, and whether to visit it.
QString manualLaunchQuestion(const QString &baseUrl);

// "Mise à jour de " followed by the caller's name (command-line field 2, as sent).
QString updateTitle(const QString &programName);

// The message shown when the update page holds no installer link for the caller (four lines).
QString notFoundMessage(const QString &programName);

// The message shown when a click on the notification finds nothing on this desktop that can
// open the installer at `setupPath`: the caller stays open, and the installer's path is given
// for installing it by hand.
QString cannotOpenInstallerMessage(const QString &programName, const QString &setupPath);

// The notification's text (five lines), naming the caller and the revision found on the page.
QString notificationText(const QString &programName, const QString &pageRevision);

} // namespace quorrin::updater
