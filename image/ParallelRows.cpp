#include "ParallelRows.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// One call of runBands: its tasks, handed out in index order.
struct Batch {
    const std::function<void(size_t)>* task;  // the caller's task
    size_t count;                             // tasks in the call
    size_t next = 0;                          // first task nobody has taken yet
    size_t finished = 0;                      // tasks that have returned
};

class BandThreads {
  public:
    explicit BandThreads(int threads) {
        // Detached and never ended: idle threads cost nothing, and joining them during static
        // destruction could wait on threads the process is already leaving behind.
        for (int t = 0; t < threads; ++t)
            std::thread([this] { serve(); }).detach();
    }

    void run(size_t count, const std::function<void(size_t)>& task) {
        Batch batch{&task, count};
        std::unique_lock<std::mutex> lock(mutex_);
        queue_.push_back(&batch);
        work_.notify_all();
        while (batch.next < batch.count) {
            const size_t i = take(batch);
            lock.unlock();
            task(i);
            lock.lock();
            ++batch.finished;
        }
        finished_.wait(lock, [&] { return batch.finished == batch.count; });
    }

  private:
    // Claims the next task of `batch` (mutex held); the batch leaves the queue with its last.
    size_t take(Batch& batch) {
        const size_t i = batch.next++;
        if (batch.next == batch.count)
            for (auto it = queue_.begin(); it != queue_.end(); ++it)
                if (*it == &batch) {
                    queue_.erase(it);
                    break;
                }
        return i;
    }

    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return !queue_.empty(); });
            Batch& batch = *queue_.front();
            const size_t i = take(batch);
            lock.unlock();
            (*batch.task)(i);
            lock.lock();
            // The caller may return as soon as the count is complete: `batch` is not touched
            // after this.
            if (++batch.finished == batch.count) finished_.notify_all();
        }
    }

    std::mutex mutex_;                  // guards the queue and every batch's counters
    std::condition_variable work_;      // a batch was queued
    std::condition_variable finished_;  // some batch's last task returned
    std::deque<Batch*> queue_;          // batches with tasks not yet taken, oldest first
};

}  // namespace

void runBands(size_t count, const std::function<void(size_t)>& task) {
    if (count == 0) return;
    // Never destroyed, for the same reason the threads are never joined.
    static BandThreads* threads = new BandThreads(std::max(1, QThread::idealThreadCount() - 1));
    threads->run(count, task);
}
