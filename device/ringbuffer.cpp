#include "device/ringbuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

RingBuffer::RingBuffer(size_t limit)
    : limit_(limit),
      capacity_(std::min(limit, kInitialCapacity)),
      data_(capacity_ ? new (std::nothrow) uint8_t[capacity_] : nullptr) {}

bool RingBuffer::ok() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_ != nullptr;
}

size_t RingBuffer::capacity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return capacity_;
}

bool RingBuffer::growLocked(size_t newCapacity) {
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[newCapacity]);
    if (!grown) return false;
    const size_t used = usedLocked();
    const size_t first = std::min(used, capacity_ - readIndex_);
    memcpy(grown.get(), data_.get() + readIndex_, first);
    memcpy(grown.get() + first, data_.get(), used - first);
    data_ = std::move(grown);
    capacity_ = newCapacity;
    readIndex_ = 0;
    writeIndex_ = used % newCapacity;
    full_ = used == newCapacity;
    return true;
}

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
    const size_t used = usedLocked();
    if (n > capacity_ - used && capacity_ < limit_) {
        // Doubled at least, so a stream that needs the whole limit grows only a few times.
        const size_t wanted = std::max(used + std::min(n, limit_ - used), std::min(limit_, 2 * capacity_));
        growFailed_ = !growLocked(std::min(wanted, limit_));  // then the writer waits for room
    }
    const size_t m = std::min(n, capacity_ - used);
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
        // Emptied: the next bytes go to the front again. A stream whose frames are taken as they come then
        // writes and reads the same few cache-warm pages, instead of walking the whole storage and keeping
        // every page of it resident.
        if (readIndex_ == writeIndex_) readIndex_ = writeIndex_ = 0;
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
    roomFreed_.wait(
        lock, [&] { return closed_ || usedLocked() < capacity_ || (capacity_ < limit_ && !growFailed_); });
    return !closed_;
}

void RingBuffer::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    roomFreed_.notify_all();
}

bool RingBuffer::shrinkWhenEmpty() {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t first = std::min(limit_, kInitialCapacity);
    if (usedLocked() != 0 || capacity_ <= first) return false;
    std::unique_ptr<uint8_t[]> small(new (std::nothrow) uint8_t[first]);
    if (!small) return false;  // keeps the bigger storage, which still works
    data_ = std::move(small);
    capacity_ = first;
    readIndex_ = writeIndex_ = 0;
    full_ = false;
    growFailed_ = false;
    return true;
}
