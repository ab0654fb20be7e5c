// The common base of the window controllers: a lock made of one semaphore.
//
// The controllers inherit `lock` and `unlock` (a BasicLockable, so std::lock_guard works) but
// never take the lock themselves; it is there for code that must hold a window's controller
// while it works on it from another thread.
#pragma once

#include <semaphore>

class BaseController {
  public:
    BaseController() = default;
    virtual ~BaseController() = default;
    BaseController(const BaseController&) = delete;
    BaseController& operator=(const BaseController&) = delete;

    // Waits on the semaphore without a time limit.
    void lock() { semaphore.acquire(); }
    // Signals the semaphore. Like a dispatch semaphore it may count above 1, so an unmatched
    // unlock is harmless.
    void unlock() { semaphore.release(); }

  protected:
    std::counting_semaphore<> semaphore{1};  // starts at 1: the lock is free
};
