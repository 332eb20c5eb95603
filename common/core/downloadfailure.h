#pragma once

#include <QString>

namespace quorrin {

// Why a download did not leave the complete file at its target.
enum class DownloadFailure {
    None,
    TargetNotWritable, // directory missing or read-only, or something other than a file there
    TargetIsDirectory, // a directory stands at the target's path
    TargetTaken,       // something took the target's name during the transfer
    BeingDownloadedElsewhere, // another transfer writes into the target's part file
    PartFileReplaced,         // another program moved, removed or replaced the part file
    UnsupportedAddress,       // not an http, https, ftp or ftps address
    HostNotFound,
    ConnectionRefused,
    TimedOut,           // no connection within the connect time-out
    Stalled,            // the transfer moved nothing for the stall time-out
    TooSlow,            // tries kept staying under the lowest acceptable speed
    Interrupted,        // connection lost, or fewer bytes than announced
    HttpError,          // the server answered with an error status (detail: the status)
    RemoteFileNotFound, // an FTP server has no such file
    AccessDenied,       // login or permission refused by the server
    RedirectRefused,    // a redirect to a scheme other than http, https, ftp, ftps
    InsecureRedirect,   // a redirect from https to an address without encryption
    TooManyRedirects,
    CertificateRejected,
    SecureConnectionFailed,
    DiskFull,
    WriteFailed,
    Cancelled,
    TooLarge,           // more data than the transfer may take
    TookTooLong,        // not over within the transfer's deadline
    Rejected,           // complete, but refused by the check made before it reaches its target
    UnexpectedAnswer,   // not a file: no content, or a part of one that was not asked for
    InconsistentAnswer, // contradicts what the server said of the same version of the file
    InvalidAnswer,      // a message that no valid server sends (two different lengths)
    Other,              // detail: the libcurl result code
};

// One short French sentence that tells the user why, for a download report. `detail` is the
// HTTP status for HttpError and the libcurl result code for Other; other failures ignore it.
QString failureCause(DownloadFailure failure, long detail = 0);

} // namespace quorrin
