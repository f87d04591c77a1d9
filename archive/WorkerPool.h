#pragma once
// A fixed set of worker threads running jobs from one queue. The engine hands
// it compression and expansion jobs; results are taken back in order by the
// calling thread, which alone calls back and changes what the caller sees.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vz {

class WorkerPool {
public:
    // threads <= 0: one per processor.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);
    // Blocks until `ready` holds or the timeout passes; `ready` is checked
    // under the pool's lock, which jobs take through finished().
    bool waitFor(const std::function<bool()>& ready, int timeoutMs);
    // Jobs call this (with their result already stored) to wake waiters.
    void finished(const std::function<void()>& publish);
    int threadCount() const { return static_cast<int>(threads_.size()); }

    static int defaultThreads();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace vz
