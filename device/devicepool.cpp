#include "device/devicepool.h"

#include <algorithm>

DevicePool::DevicePool(size_t blockSize) : blockSize_(std::max(blockSize, kMinBlockSize)) {
    grow();
}

Device* DevicePool::acquire() {
    if (free_.empty()) grow();
    Device* device = free_.front();
    free_.pop_front();
    return device;
}

void DevicePool::release(Device* device) {
    free_.push_back(device);
}

void DevicePool::grow() {
    blocks_.push_back(std::make_unique<Device[]>(blockSize_));
    Device* block = blocks_.back().get();
    for (size_t i = 0; i < blockSize_; ++i)
        free_.push_back(&block[i]);
}
