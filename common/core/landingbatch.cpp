#include "landingbatch.h"

#include <utility>
#include <vector>

namespace quorrin {
namespace {

struct Batch {
    bool open = false;
    std::vector<std::function<void()>> deferred;
};

thread_local Batch current;

} // namespace

LandingBatch::LandingBatch()
{
    current.open = true;
}

// Work deferred by deferred work runs too, in its turn.
LandingBatch::~LandingBatch()
{
    for (std::size_t i = 0; i < current.deferred.size(); ++i)
        std::exchange(current.deferred[i], {})();
    current.deferred.clear();
    current.open = false;
}

bool LandingBatch::isOpen()
{
    return current.open;
}

void LandingBatch::defer(std::function<void()> work)
{
    if (current.open)
        current.deferred.push_back(std::move(work));
    else
        work();
}

} // namespace quorrin
