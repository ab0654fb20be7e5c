// Running work on the main thread from anywhere.
#pragma once

#include <functional>

// Runs `work` on the main thread and returns once it has finished: at once when the caller
// is the main thread, otherwise queued on the main thread's event loop while the caller
// waits. The caller must not hold anything the main thread is waiting for. Without an
// application object there is no main loop to queue on, and `work` runs on the caller.
void runOnMainSync(const std::function<void()>& work);
