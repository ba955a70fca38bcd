#include "framework/worker_threads.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

namespace {

struct Workers {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    std::size_t idle = 0;
};

// Never destroyed: its threads may still wait on it while the process ends.
Workers& TheWorkers()
{
    static auto* workers = new Workers;
    return *workers;
}

void Work(Workers& workers)
{
    std::unique_lock lock(workers.mutex);
    for (;;) {
        ++workers.idle;
        const bool woken = workers.wake.wait_for(lock, kIdleWorkerLifetime, [&] { return !workers.tasks.empty(); });
        --workers.idle;
        if (!woken)
            return;
        std::function<void()> task = std::move(workers.tasks.front());
        workers.tasks.pop_front();
        lock.unlock();
        task();
        task = nullptr; // what the task holds goes before the thread waits again
        lock.lock();
    }
}

} // namespace

void RunOnWorkerThread(std::function<void()> task)
{
    Workers& workers = TheWorkers();
    std::unique_lock lock(workers.mutex);
    workers.tasks.push_back(std::move(task));
    // Every task waiting has an idle thread of its own to wake.
    if (workers.tasks.size() <= workers.idle) {
        workers.wake.notify_one();
        return;
    }
    // Made under the lock, so that a thread that cannot be made takes its task back with it.
    try {
        std::thread(Work, std::ref(workers)).detach();
    } catch (...) {
        workers.tasks.pop_back();
        throw;
    }
}
