// Counting semaphore with a maximum count: a release that would pass the maximum is lost, as on Windows.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

class Semaphore {
public:
    Semaphore(int32_t initialCount, int32_t maximumCount);

    // Adds count; false (and nothing added) when the result would pass the maximum.
    bool release(int32_t count = 1);
    // Blocks until the count is above zero, then takes one.
    void acquire();
    // The same with a time limit; false when it ran out.
    bool acquireFor(uint32_t timeoutMs);

private:
    const int32_t maximum_;
    std::mutex mutex_;
    std::condition_variable available_;
    int32_t count_;  // guarded by mutex_
};

}  // namespace platform
