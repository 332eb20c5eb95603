#pragma once

#include <functional>

namespace quorrin {

// Turns SIGTERM, SIGINT and SIGHUP into a call of `handler` on the event loop, so that a
// program asked to end ends as a closed window ends it: transfers stopped cleanly, nothing
// half-written left behind. Call once, with the application object in place.
void onTerminationSignal(std::function<void()> handler);

} // namespace quorrin
