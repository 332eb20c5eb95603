#pragma once

#include <functional>

namespace quorrin {

// Files that land together are announced together: their `landed` calls are made inside a
// batch, and work those calls defer runs once, when the batch ends, before any owner hears of
// the landings. What each would write on its own (a line of a record) is then written once.
class LandingBatch {
public:
    LandingBatch();
    ~LandingBatch();
    LandingBatch(const LandingBatch &) = delete;
    LandingBatch &operator=(const LandingBatch &) = delete;

    static bool isOpen();
    // Runs `work` when the batch open on this thread ends, after the work deferred before it;
    // at once when none is open.
    static void defer(std::function<void()> work);
};

} // namespace quorrin
