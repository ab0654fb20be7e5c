// Hands closures to the global thread pool or to the main thread.
#pragma once

#include <functional>

// Runs `work` on a thread of the global pool and returns when it has finished.
void runOnGlobalSync(const std::function<void()>& work);
// Runs `work` once on a thread of the global pool after `seconds`; returns at once.
void runOnGlobalAfter(std::function<void()> work, double seconds);
// Queues `work` on the main thread's event loop; returns at once.
void runOnMainAsync(std::function<void()> work);
