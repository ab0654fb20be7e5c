// Hands closures to the global thread pool, to a pool of the caller's, or to the main thread.
//
// Qt passes runnables and events between threads under locks of its own that ThreadSanitizer
// cannot see (Debian's Qt is not built with it). Every closure handed over here therefore also
// passes one mutex of ours, released by the sender after it has built the closure and taken by
// the receiving thread before it reads anything of it: the ordering Qt already provides,
// stated where the tool can check it, so that its reports on our own code stay meaningful.
#pragma once

#include <functional>

class QThreadPool;

// Runs `work` on a thread of the global pool and returns when it has finished.
void runOnGlobalSync(const std::function<void()>& work);
// Runs `work` once on a thread of the global pool after `seconds`; returns at once.
void runOnGlobalAfter(std::function<void()> work, double seconds);
// Runs `work` on a thread of `pool` at `priority` (QThreadPool's); returns at once.
void runOnPool(QThreadPool& pool, std::function<void()> work, int priority = 0);
// Returns once every closure handed to `pool` has finished; what they wrote is then visible.
void waitForPool(QThreadPool& pool);
// Queues `work` on the main thread's event loop; returns at once. Without an application
// object nothing runs.
void runOnMainAsync(std::function<void()> work);
// Queues `work` on the main thread's event loop and returns once it has run, or once the
// application dropped it unrun. Call from a thread other than the main thread only; without an
// application object `work` runs on the caller.
void runOnMainBlocking(const std::function<void()>& work);
