#pragma once

#include <functional>

namespace platform {

bool isMainThread();

// Runs `fn` on the main thread and waits for it: directly when already there,
// otherwise through a blocking queued call. Exceptions thrown by `fn` are
// carried back to the caller. Without an application object it runs `fn`
// on the calling thread.
void runOnMainAndWait(const std::function<void()> &fn);

// Queues `fn` to run on the main thread without waiting.
void runOnMain(std::function<void()> fn);

}  // namespace platform
