#pragma once

#include "result.h"
#include "startarguments.h"

#include <QString>
#include <QStringList>

namespace quorrin::downloader {

// The largest list of addresses read from a file: far above a full queue of long addresses,
// and a bound on what a list that never ends (a device, a pipe left open) costs.
inline constexpr qsizetype MaxAddressListBytes = 64 << 20;

// The addresses listed in the file `fileName` ("-": the standard input), one a line, as a paste
// of its text queues them: each line without its surrounding blanks, blank lines left out.
// The failure's cause is a French line that names the file.
Result<QStringList> readAddressList(const QString &fileName);

// The addresses of a command line, in its order: each address argument as a pasted text (its
// lines, when it has several), each list file's lines.
Result<QStringList> addressesOf(const QList<StartArguments::Source> &sources);

} // namespace quorrin::downloader
