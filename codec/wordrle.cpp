// Word run-length packing: cheap on the long runs of equal words that screen coefficients produce.
#include "codec/wordrle.h"

#include <algorithm>
#include <cstring>

namespace zrc {
namespace {

constexpr size_t kMaxGroup = 127;

uint32_t wordAt(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

}  // namespace

size_t rleBound(size_t size) {
    return size + size / 256 + 16;
}

size_t rlePack(const uint8_t* in, size_t size, uint8_t* out) {
    const size_t words = size / 4;
    size_t o = 0;
    size_t i = 0;
    while (i < words) {
        if (i + 1 < words && wordAt(in + 4 * i) == wordAt(in + 4 * (i + 1))) {
            size_t run = 2;
            while (i + run < words && run < kMaxGroup && wordAt(in + 4 * (i + run)) == wordAt(in + 4 * i))
                ++run;
            out[o++] = static_cast<uint8_t>(128 + run);
            std::memcpy(out + o, in + 4 * i, 4);
            o += 4;
            i += run;
            continue;
        }
        // Literal group: ends just before two consecutive equal words.
        size_t count = 1;
        while (i + count < words && count < kMaxGroup &&
               !(i + count + 1 < words && wordAt(in + 4 * (i + count)) == wordAt(in + 4 * (i + count + 1)))) {
            ++count;
        }
        out[o++] = static_cast<uint8_t>(count);
        std::memcpy(out + o, in + 4 * i, 4 * count);
        o += 4 * count;
        i += count;
    }
    out[o++] = 0;
    const size_t tail = size - 4 * words;
    if (tail > 0) std::memcpy(out + o, in + 4 * words, tail);
    return o + tail;
}

long rleUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t capacity) {
    size_t i = 0;
    size_t o = 0;
    while (i < size) {
        const unsigned k = in[i++];
        if (k == 0) {
            const size_t tail = size - i;
            if (tail > capacity - o) return -1;
            if (tail > 0) std::memcpy(out + o, in + i, tail);
            return static_cast<long>(o + tail);
        }
        if (k < 128) {
            // A group stops early where the input runs out of whole words.
            for (unsigned n = 0; n < k && i + 4 <= size; ++n) {
                if (capacity - o < 4) return -1;
                std::memcpy(out + o, in + i, 4);
                i += 4;
                o += 4;
            }
        } else {
            if (i + 4 > size) break;
            const size_t repeat = k - 128;
            if (repeat * 4 > capacity - o) return -1;
            for (size_t n = 0; n < repeat; ++n)
                std::memcpy(out + o + 4 * n, in + i, 4);
            i += 4;
            o += repeat * 4;
        }
    }
    return static_cast<long>(o);
}

}  // namespace zrc
