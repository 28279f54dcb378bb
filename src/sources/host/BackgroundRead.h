#pragma once

#include <chrono>
#include <functional>

namespace vtr {

// Runs `work` on a thread of its own while the calling thread calls `tick`
// (when given; at least once, even when the work ends at once) and serves its
// event loop every `interval`, so a window stays responsive while a large
// library file is read. Returns when `work` has ended; an exception thrown by
// `work` is carried to the caller.
void runWhileServingEvents(const std::function<void()> &work, const std::function<void()> &tick,
                           std::chrono::milliseconds interval);

}  // namespace vtr
