#pragma once

namespace quorrin {

// libcurl's process-wide set-up, done once whichever thread asks first; every user of libcurl
// calls it before making a handle.
void initialiseCurl();

} // namespace quorrin
