#pragma once

#include <QString>

namespace quorrin::downloader {

// What the window shows when `count` addresses found no room in its full queue (French,
// singular and plural, thousands grouped).
QString queueFullCaption(int count);
// The line a start prints for them.
QString queueFullLine(int count);
// The line a start prints for `count` lines of its own that queued nothing, as a paste of
// them would queue nothing: lines without "/".
QString notAddressesLine(int count);

} // namespace quorrin::downloader
