#pragma once

#include "measurement.h"

#include <QString>

namespace quorrin::bench {

// A batch over HTTPS with HTTP/2 from a server far away.
struct Http2Case {
    int delayMs = 25; // each way: a round trip costs twice as long
    int files = 200;
    qint64 fileBytes = 16 * 1024;
    // Whether this process runs in a mount namespace of its own (see privatemounts.h), where
    // the test authority can be shown to it and its children at the system's path; otherwise
    // each fetching process gets a namespace of its own for that.
    bool privateMounts = false;
};

// An nginx with TLS and HTTP/2 (its files, and a certificate authority made for the run, in
// `scratch`) behind a relay that delays each direction, serving a batch that Quorrin's window
// and curl -Z at its defaults fetch in turn, setup.runs times. The authority is trusted by
// the fetching processes only: they see a bundle holding it at the system's bundle path,
// which nothing else on the machine sees. Prints each way's median time, the window's over
// it, and the connections and protocols the server saw; false when a download fails or
// differs, or the authority cannot be shown.
bool measureHttp2(const Setup &setup, const QString &scratch, const Http2Case &batch);

} // namespace quorrin::bench
