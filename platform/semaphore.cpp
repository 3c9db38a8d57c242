#include "platform/semaphore.h"

#include <chrono>

namespace platform {

Semaphore::Semaphore(int32_t initialCount, int32_t maximumCount)
    : maximum_(maximumCount), count_(initialCount) {}

bool Semaphore::release(int32_t count) {
    {
        std::lock_guard lock(mutex_);
        if (count <= 0 || count > maximum_ - count_) return false;
        count_ += count;
    }
    available_.notify_all();
    return true;
}

void Semaphore::acquire() {
    std::unique_lock lock(mutex_);
    available_.wait(lock, [this] { return count_ > 0; });
    --count_;
}

bool Semaphore::acquireFor(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!available_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return count_ > 0; })) {
        return false;
    }
    --count_;
    return true;
}

}  // namespace platform
