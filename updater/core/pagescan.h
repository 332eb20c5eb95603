#pragma once

#include <QString>
#include <QStringList>

namespace quorrin::updater {

// What the update page says about the caller, and what the updater does next.
struct ScanResult {
    enum class Action {
        NotFound,    // no usable installer link: show the not-found message, then end
        UpToDate,    // the caller's revision is not below the page's: end without a message
        EndSilently, // the command line cannot be used: end without a message
        Notify,      // a newer installer: fetch it unless present, then show the notification
    };
    Action action = Action::NotFound;
    QString installerName; // the link's file name, from the stem to ".exe" (set from UpToDate on)
    QString pageRevision;  // the 1 to 6 digits before ".exe" (set from UpToDate on)
    QString setupPath;     // where the installer is stored (set for Notify only)
    QString downloadUrl;   // where the installer is fetched from (set for Notify only)
    QString signatureUrl;  // where its minisign signature is (set for Notify only)
    QString notification;  // the notification's text (set for Notify only)
};

// Reads the first installer link of the caller in `html`, the update page's body markup.
// The link is the exact text `<A href="` followed by the stem (command-line field 0); the
// first ".exe" after it ends the installer's name and the up to six digits before that ".exe"
// are the page's revision, compared as a number with the caller's (field 1).
// A link without ".exe", without a digit before it, or whose name is not a plain file name
// (so that it would lead out of `programDirectory`) counts as no link. A command line of
// fewer than four fields, or whose field 1 is not a decimal number of 32 bits, ends silently.
// `setupPath` is `programDirectory` + "/" + the name; `downloadUrl` is `baseUrl` + the name
// percent-encoded as one path segment (so "#", "?" and "%" in it name the file, as the saved
// one is named); `signatureUrl` is `downloadUrl` + ".minisig".
ScanResult readUpdatePage(const QString &html, const QStringList &updArgs,
                          const QString &programDirectory, const QString &baseUrl);

// True for a name that stays inside the directory it is put in: not empty, not "." or "..",
// no "/", "\" or control character, well-formed UTF-16, at most 255 bytes in UTF-8.
bool isPlainFileName(const QString &name);

} // namespace quorrin::updater
