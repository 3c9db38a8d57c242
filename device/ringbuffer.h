// The byte ring between a stream's receive loop (the only writer) and its decode thread (the only reader).
// It starts small and grows as the stream needs, up to its limit; it never drops bytes: a writer that finds
// it full at its limit waits for the reader to make room.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class RingBuffer {
public:
    // The first storage, grown when a write does not fit.
    static constexpr size_t kInitialCapacity = 256 * 1024;

    // Holds at most limit bytes; ok() is false when the first storage could not be allocated.
    explicit RingBuffer(size_t limit);

    bool ok() const;
    size_t limit() const { return limit_; }
    size_t capacity() const;
    size_t used() const;

    // Takes min(n, free) bytes, growing the storage first (up to the limit) when n does not fit; returns how
    // many.
    size_t write(const uint8_t* src, size_t n);
    // Takes out min(n, used) bytes; returns how many.
    size_t read(uint8_t* dst, size_t n);
    // Copies n bytes without taking them out, only when that many are there; returns min(n, used).
    size_t peek(uint8_t* dst, size_t n) const;

    // Writer: blocks until some room is free (or the ring can still grow); false once the ring is closed.
    bool waitForRoom();
    // Reader: no more bytes will be taken out; wakes a waiting writer for good.
    void close();
    // Gives the storage back down to the first size when no byte waits in it (a long idle keeps nothing);
    // true when it did. A later write grows it again.
    bool shrinkWhenEmpty();

private:
    size_t usedLocked() const;
    // Moves the bytes into storage of newCapacity, oldest first; false (nothing changed) when it cannot.
    bool growLocked(size_t newCapacity);

    const size_t limit_;
    mutable std::mutex mutex_;
    size_t capacity_;                    // guarded by mutex_
    std::unique_ptr<uint8_t[]> data_;    // guarded by mutex_
    std::condition_variable roomFreed_;  // signalled with mutex_ by read and close
    size_t readIndex_ = 0;               // guarded by mutex_
    size_t writeIndex_ = 0;              // guarded by mutex_
    bool full_ = false;                  // guarded by mutex_; tells full from empty when the indexes meet
    bool closed_ = false;                // guarded by mutex_
    bool growFailed_ = false;            // guarded by mutex_; the last growth found no memory: wait for room
};
