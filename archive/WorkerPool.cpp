#include "archive/WorkerPool.h"

#include <algorithm>
#include <chrono>

namespace vz {

int WorkerPool::defaultThreads()
{
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
}

WorkerPool::WorkerPool(int threads)
{
    const int count = threads > 0 ? threads : defaultThreads();
    threads_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (auto& t : threads_)
        t.join();
}

void WorkerPool::submit(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(job));
    }
    work_.notify_one();
}

bool WorkerPool::waitFor(const std::function<bool()>& ready, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

void WorkerPool::finished(const std::function<void()>& publish)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        publish();
    }
    done_.notify_all();
}

void WorkerPool::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            // Queued jobs still run on shutdown: their owners wait for them.
            if (queue_.empty())
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}

}  // namespace vz
