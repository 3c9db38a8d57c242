#ifndef CODEC_VECTORS_H
#define CODEC_VECTORS_H

#include <cstdint>
#include <cstring>

namespace zrc {

// Lanes of N 32-bit integers (and their 8- and 16-bit narrowings), which the compiler maps onto the widest
// vector registers of the clone it builds.
template <int N>
struct Lanes {
    typedef uint32_t U __attribute__((vector_size(N * 4)));
    typedef int32_t I __attribute__((vector_size(N * 4)));
    typedef uint16_t H __attribute__((vector_size(N * 2)));
    typedef uint8_t B __attribute__((vector_size(N)));
};

template <int N>
__attribute__((always_inline)) inline typename Lanes<N>::I loadBytes(const uint8_t* p) {
    typename Lanes<N>::B b;
    std::memcpy(&b, p, N);
    return __builtin_convertvector(b, typename Lanes<N>::I);
}

template <int Low, int High, typename V>
__attribute__((always_inline)) inline V clampVector(V value) {
    const V low = V{} + Low, high = V{} + High;
    value = value < low ? low : value;
    return value > high ? high : value;
}

}  // namespace zrc

#endif
