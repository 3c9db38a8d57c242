#include "codec/workerpool.h"

#include <algorithm>

namespace zrc {

WorkerPool& WorkerPool::instance() {
    static WorkerPool pool;
    return pool;
}

WorkerPool::WorkerPool() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 1; i < cores; ++i)
        threads_.emplace_back([this] { workerLoop(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void WorkerPool::run(uint32_t count, bool multicore, const Range& body) {
    constexpr uint32_t kMinParallel = 64;
    if (!multicore || threads_.empty() || count < kMinParallel) {
        if (count > 0) body(0, count);
        return;
    }
    // While another caller's job has the pool (another stream's frame), this one runs on the calling
    // thread: that core would otherwise sit waiting, and the pool's threads are busy anyway.
    std::unique_lock<std::mutex> serial(run_mutex_, std::try_to_lock);
    if (!serial.owns_lock()) {
        body(0, count);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const uint32_t pieces = static_cast<uint32_t>(threads_.size() + 1) * 8;
    body_ = &body;
    count_ = count;
    chunk_ = std::max<uint32_t>(16, (count + pieces - 1) / pieces);
    next_ = 0;
    busy_ = 0;
    ++generation_;
    wake_.notify_all();
    drain(lock);
    done_.wait(lock, [this] { return next_ >= count_ && busy_ == 0; });
    body_ = nullptr;
}

void WorkerPool::drain(std::unique_lock<std::mutex>& lock) {
    while (body_ != nullptr && next_ < count_) {
        const uint32_t begin = next_;
        const uint32_t end = std::min(count_, begin + chunk_);
        next_ = end;
        ++busy_;
        const Range* body = body_;
        lock.unlock();
        (*body)(begin, end);
        lock.lock();
        --busy_;
    }
    if (next_ >= count_ && busy_ == 0) done_.notify_all();
}

void WorkerPool::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t seen = 0;  // a thread that starts late joins the job under way, if any
    while (true) {
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        drain(lock);
    }
}

}  // namespace zrc
