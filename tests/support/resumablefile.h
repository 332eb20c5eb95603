#pragma once

#include "scriptedserver.h"

#include <QByteArray>
#include <QList>

namespace quorrin::test {

// A file served as an HTTP server with ranges would serve it, with the faults of real ones on
// request: connections cut after a number of bytes, ranges ignored or rounded down.
struct ResumableFile {
    QByteArray content;
    QByteArray etag;         // sent when not empty, quotes included ("…" or W/"…")
    QByteArray lastModified; // sent when not empty
    bool honoursRanges = true;
    bool ignoresIfRange = false;   // a part of whatever it holds now, whatever version was asked
    qint64 alignment = 1;          // a part starts at the asked offset rounded down to a multiple
    qint64 cutAfter = 0;           // an answer's body stops after this many bytes; 0: never
    int cutAnswers = 1 << 30;      // how many answers, the first ones, are cut
    qint64 bytesSent = 0;          // body bytes sent so far
    QList<QByteArray> rangesAsked; // the Range header of each request, empty when none

    // The answer to `request`: 206 for a range whose If-Range matches, else 200.
    ScriptedServer::Reply answer(const QByteArray &request);
};

} // namespace quorrin::test
