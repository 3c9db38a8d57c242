#ifndef CODEC_WORKERPOOL_H
#define CODEC_WORKERPOOL_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zrc {

// Runs the ranges of one kernel call on every core: a pool of threads started once for the library and
// joined when the process ends, so no frame creates a thread. The calling thread takes part.
class WorkerPool {
public:
    using Range = std::function<void(uint32_t begin, uint32_t end)>;

    static WorkerPool& instance();

    // Calls body on disjoint ranges covering [0, count) and returns when all are done. With multicore false,
    // a small count or the pool busy with another caller's job, body runs once over the whole range on the
    // calling thread.
    void run(uint32_t count, bool multicore, const Range& body);

    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

private:
    WorkerPool();
    void workerLoop();
    // Takes and runs chunks of the current job until none is left; called with mutex_ held.
    void drain(std::unique_lock<std::mutex>& lock);

    std::mutex run_mutex_;  // one job at a time
    std::mutex mutex_;
    std::condition_variable wake_;  // a job was posted or the pool stops
    std::condition_variable done_;  // the last chunk of the job finished
    const Range* body_ = nullptr;   // guarded by mutex_
    uint32_t count_ = 0;            // guarded by mutex_
    uint32_t chunk_ = 0;            // guarded by mutex_
    uint32_t next_ = 0;             // guarded by mutex_: first index not yet handed out
    uint32_t busy_ = 0;             // guarded by mutex_: chunks being run
    uint64_t generation_ = 0;       // guarded by mutex_
    bool stop_ = false;             // guarded by mutex_
    std::vector<std::thread> threads_;
};

}  // namespace zrc

#endif
