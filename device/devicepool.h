// Free Device objects, allocated in blocks so a device's address stays valid while it is in use.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "device/device.h"

class DevicePool {
public:
    static constexpr size_t kMinBlockSize = 8;

    // Allocates the first block at once; blockSize is never less than 8.
    explicit DevicePool(size_t blockSize = kMinBlockSize);

    // The front free device; a new block is allocated when none is free.
    Device* acquire();
    // Appends a device at the back of the free queue.
    void release(Device* device);

    size_t freeCount() const { return free_.size(); }
    size_t blockCount() const { return blocks_.size(); }

private:
    void grow();

    const size_t blockSize_;
    std::deque<Device*> free_;
    std::vector<std::unique_ptr<Device[]>> blocks_;  // freed only with the pool
};
