#include "device/ringbuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

RingBuffer::RingBuffer(size_t capacity)
    // Left uninitialised: a ring sized for the largest frames is only touched as far as the stream fills it.
    : capacity_(capacity), data_(capacity ? new (std::nothrow) uint8_t[capacity] : nullptr) {}

size_t RingBuffer::usedLocked() const {
    if (writeIndex_ != readIndex_) {
        return writeIndex_ > readIndex_ ? writeIndex_ - readIndex_ : capacity_ + writeIndex_ - readIndex_;
    }
    return full_ ? capacity_ : 0;
}

size_t RingBuffer::used() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return usedLocked();
}

size_t RingBuffer::write(const uint8_t* src, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t m = std::min(n, capacity_ - usedLocked());
    if (m == 0) return 0;
    const size_t first = std::min(m, capacity_ - writeIndex_);
    memcpy(data_.get() + writeIndex_, src, first);
    memcpy(data_.get(), src + first, m - first);
    writeIndex_ = (writeIndex_ + m) % capacity_;
    if (writeIndex_ == readIndex_) full_ = true;
    return m;
}

size_t RingBuffer::read(uint8_t* dst, size_t n) {
    size_t m;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        m = std::min(n, usedLocked());
        if (m == 0) return 0;
        full_ = false;
        const size_t first = std::min(m, capacity_ - readIndex_);
        memcpy(dst, data_.get() + readIndex_, first);
        memcpy(dst + first, data_.get(), m - first);
        readIndex_ = (readIndex_ + m) % capacity_;
    }
    roomFreed_.notify_one();
    return m;
}

size_t RingBuffer::peek(uint8_t* dst, size_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t m = std::min(n, usedLocked());
    if (m < n) return m;
    const size_t first = std::min(n, capacity_ - readIndex_);
    memcpy(dst, data_.get() + readIndex_, first);
    memcpy(dst + first, data_.get(), n - first);
    return m;
}

bool RingBuffer::waitForRoom() {
    std::unique_lock<std::mutex> lock(mutex_);
    roomFreed_.wait(lock, [&] { return closed_ || usedLocked() < capacity_; });
    return !closed_;
}

void RingBuffer::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    roomFreed_.notify_all();
}
