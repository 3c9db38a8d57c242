#ifndef CODEC_ZRCRING_H
#define CODEC_ZRCRING_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// A bounded byte ring between one producer thread and one consumer thread of the worker mode. A transfer
// moves its bytes as room or data appears, so a reader waiting for a whole header and a writer waiting for
// room never wait on each other. Waits have no time limit; close() wakes every waiter. The ring is shared
// (std::shared_ptr) so that a thread still inside a transfer keeps it alive while its owner lets it go.
class ZrcRing {
public:
    // A ring of `capacity` bytes, or null when capacity is not positive or the memory cannot be had.
    static std::shared_ptr<ZrcRing> create(int capacity);

    // Reads exactly `length` bytes into dst: returns length; 0 when the ring is or becomes closed; -1 when
    // length is negative or larger than the capacity (such a read could never be satisfied by one fill).
    int read(void* dst, int length);

    // Writes exactly `length` bytes: returns length; 0 when the ring is or becomes closed; -1 when length is
    // negative or larger than the capacity.
    int write(const void* src, int length);

    // Marks the ring closed and wakes every waiting reader and writer; later transfers return 0.
    void close();

    int capacity() const { return capacity_; }
    // Bytes currently stored.
    int count();

    explicit ZrcRing(int capacity);

private:
    const int capacity_;
    std::vector<uint8_t> data_;
    std::mutex lock_;
    std::condition_variable data_event_;   // a write stored bytes, or the ring closed
    std::condition_variable space_event_;  // a read freed bytes, or the ring closed
    int count_ = 0;                        // guarded by lock_
    uint32_t read_pos_ = 0;                // guarded by lock_
    uint32_t write_pos_ = 0;               // guarded by lock_
    bool closed_ = false;                  // guarded by lock_
};

#endif
