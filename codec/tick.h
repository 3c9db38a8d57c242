#ifndef CODEC_TICK_H
#define CODEC_TICK_H

#include <chrono>
#include <cstdint>

namespace zrc {

// The millisecond tick count of frame timestamps: a steady clock, wrapping at 2^32.
inline uint32_t tickMs() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace zrc

#endif
