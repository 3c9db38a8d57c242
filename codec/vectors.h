#ifndef CODEC_VECTORS_H
#define CODEC_VECTORS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

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

// Widens N bytes into 32-bit lanes. Through 16-bit lanes, since the compiler widens bytes straight to 32
// bits one byte at a time through general registers.
template <int N>
__attribute__((always_inline)) inline typename Lanes<N>::I widenBytes(typename Lanes<N>::B b) {
    return __builtin_convertvector(__builtin_convertvector(b, typename Lanes<N>::H), typename Lanes<N>::I);
}

template <int N>
__attribute__((always_inline)) inline typename Lanes<N>::I loadBytes(const uint8_t* p) {
    typename Lanes<N>::B b;
    std::memcpy(&b, p, N);
    return widenBytes<N>(b);
}

// Loads N / 2 bytes and doubles each: the colour samples of 4:2:0 under N luma samples.
template <int N>
__attribute__((always_inline)) inline typename Lanes<N>::I loadHalfBytesDoubled(const uint8_t* p) {
    typename Lanes<N / 2>::B half;
    std::memcpy(&half, p, N / 2);
    typename Lanes<N>::B b;
    for (int k = 0; k < N; ++k)
        b[k] = half[k / 2];
    return widenBytes<N>(b);
}

// The low byte of each lane (lanes already clamped to 0..255), by a byte shuffle: the compiler's own
// narrowing moves the lanes one at a time through general registers.
template <int N, size_t... K>
__attribute__((always_inline)) inline typename Lanes<N>::B lowBytes(typename Lanes<N>::I v,
                                                                    std::index_sequence<K...>) {
    typedef uint8_t Wide __attribute__((vector_size(N * 4)));
    const Wide bytes = reinterpret_cast<Wide&>(v);
    return __builtin_shufflevector(bytes, bytes, (K * 4)...);
}

template <int N>
__attribute__((always_inline)) inline typename Lanes<N>::B lowBytes(typename Lanes<N>::I v) {
    return lowBytes<N>(v, std::make_index_sequence<N>{});
}

template <int Low, int High, typename V>
__attribute__((always_inline)) inline V clampVector(V value) {
    const V low = V{} + Low, high = V{} + High;
    value = value < low ? low : value;
    return value > high ? high : value;
}

}  // namespace zrc

#endif
