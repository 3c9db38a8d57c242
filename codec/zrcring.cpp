// The byte ring of the worker mode.
#include "codec/zrcring.h"

#include <algorithm>
#include <cstring>
#include <new>

std::shared_ptr<ZrcRing> ZrcRing::create(int capacity) {
    if (capacity <= 0) return nullptr;
    try {
        return std::make_shared<ZrcRing>(capacity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

ZrcRing::ZrcRing(int capacity) : capacity_(capacity), data_(static_cast<size_t>(capacity)) {}

int ZrcRing::count() {
    std::lock_guard<std::mutex> lock(lock_);
    return count_;
}

int ZrcRing::read(void* dst, int length) {
    if (length < 0 || length > capacity_) return -1;
    uint8_t* out = static_cast<uint8_t*>(dst);
    int done = 0;
    std::unique_lock<std::mutex> lock(lock_);
    while (done < length) {
        data_event_.wait(lock, [&] { return closed_ || count_ > 0; });
        if (closed_) return 0;
        // Up to the end of the data area, then the next pass continues at its start.
        const int n = std::min({length - done, count_, capacity_ - static_cast<int>(read_pos_)});
        std::memcpy(out + done, data_.data() + read_pos_, static_cast<size_t>(n));
        read_pos_ = (read_pos_ + static_cast<uint32_t>(n)) % static_cast<uint32_t>(capacity_);
        count_ -= n;
        done += n;
        space_event_.notify_all();
    }
    return length;
}

int ZrcRing::write(const void* src, int length) {
    if (length < 0 || length > capacity_) return -1;
    const uint8_t* in = static_cast<const uint8_t*>(src);
    int done = 0;
    std::unique_lock<std::mutex> lock(lock_);
    while (done < length) {
        space_event_.wait(lock, [&] { return closed_ || count_ < capacity_; });
        if (closed_) return 0;
        const int n = std::min({length - done, capacity_ - count_, capacity_ - static_cast<int>(write_pos_)});
        std::memcpy(data_.data() + write_pos_, in + done, static_cast<size_t>(n));
        write_pos_ = (write_pos_ + static_cast<uint32_t>(n)) % static_cast<uint32_t>(capacity_);
        count_ += n;
        done += n;
        data_event_.notify_all();
    }
    return length;
}

void ZrcRing::close() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        closed_ = true;
    }
    data_event_.notify_all();
    space_event_.notify_all();
}
