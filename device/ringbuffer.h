// The byte ring between a stream's receive loop (the only writer) and its decode thread (the only reader).
// It never drops bytes: a writer that finds it full waits for the reader to make room.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class RingBuffer {
public:
    // ok() is false when the storage could not be allocated.
    explicit RingBuffer(size_t capacity);

    bool ok() const { return data_ != nullptr; }
    size_t capacity() const { return capacity_; }
    size_t used() const;

    // Takes min(n, free) bytes; returns how many.
    size_t write(const uint8_t* src, size_t n);
    // Takes out min(n, used) bytes; returns how many.
    size_t read(uint8_t* dst, size_t n);
    // Copies n bytes without taking them out, only when that many are there; returns min(n, used).
    size_t peek(uint8_t* dst, size_t n) const;

    // Writer: blocks until some room is free; false once the ring is closed.
    bool waitForRoom();
    // Reader: no more bytes will be taken out; wakes a waiting writer for good.
    void close();

private:
    size_t usedLocked() const;

    const size_t capacity_;
    const std::unique_ptr<uint8_t[]> data_;
    mutable std::mutex mutex_;
    std::condition_variable roomFreed_;  // signalled with mutex_ by read and close
    size_t readIndex_ = 0;               // guarded by mutex_
    size_t writeIndex_ = 0;              // guarded by mutex_
    bool full_ = false;                  // guarded by mutex_; tells full from empty when the indexes meet
    bool closed_ = false;                // guarded by mutex_
};
