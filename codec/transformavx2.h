#ifndef CODEC_TRANSFORMAVX2_H
#define CODEC_TRANSFORMAVX2_H

#include <cstdint>

#include "codec/simd.h"
#include "codec/transformtables.h"

#if ZRC_HAVE_AVX2_KERNELS
#include <immintrin.h>

namespace zrc {

// The AVX2 passes of a 4 x 4 transform, shared by the full transform's blocks of edge 4 and the reduced
// transform's 4 x 4 outputs, which differ only in their weights and in where their coefficients lie. The
// first pass multiplies coefficient pairs by weight pairs with pmaddwd (a dequantised coefficient and a
// weight fit in 16 bits and a pair's sum in 32, so nothing wraps); the second multiplies 32-bit lanes, which
// wraps as the reference does.
struct Avx2Passes4 {
    alignas(32) int16_t scale[6][16];   // 1 << shift by quality, natural order
    alignas(32) int16_t pairs[2][16];   // columns (0, 1) and (2, 3) for outputs 0..3, in both halves
    alignas(32) int32_t weights[4][8];  // row u's weight in outputs 0 (low half) and 1 (high half)

    // basis[i * 4 + k]: weight of coefficient k in output i; shift(q, p): dequantisation shift of natural
    // position p at quality q.
    template <typename Shift>
    void build(const int32_t* basis, Shift shift) {
        for (int p = 0; p < 16; ++p) {
            for (int q = 0; q < 6; ++q)
                scale[q][p] = static_cast<int16_t>(1 << shift(q, p));
        }
        for (int pair = 0; pair < 2; ++pair) {
            for (int d = 0; d < 8; ++d) {
                for (int k = 0; k < 2; ++k)
                    pairs[pair][2 * d + k] = static_cast<int16_t>(basis[(d % 4) * 4 + 2 * pair + k]);
            }
        }
        for (int u = 0; u < 4; ++u) {
            for (int lane = 0; lane < 8; ++lane)
                weights[u][lane] = basis[(lane / 4) * 4 + u];
        }
    }
};

// The 16 samples of the coefficient bytes `natural` (natural order) at `quality`, row by row.
ZRC_AVX2_INLINE void avx2Passes4(const Avx2Passes4& a, __m128i natural, int quality, uint8_t* samples) {
    const auto load = [](const void* p)
                          ZRC_AVX2_LAMBDA { return _mm256_load_si256(static_cast<const __m256i*>(p)); };
    // Rows 0 and 1 in the low half, 2 and 3 in the high half.
    const __m256i c = _mm256_mullo_epi16(_mm256_cvtepi8_epi16(natural), load(a.scale[quality]));
    const __m256i k01 = load(a.pairs[0]), k23 = load(a.pairs[1]);
    const __m256i rows02 = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(c, 0x00), k01),
                                            _mm256_madd_epi16(_mm256_shuffle_epi32(c, 0x55), k23));
    const __m256i rows13 = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(c, 0xAA), k01),
                                            _mm256_madd_epi16(_mm256_shuffle_epi32(c, 0xFF), k23));
    // Each first-pass row in both halves.
    const __m256i rows[4] = {
        _mm256_permute2x128_si256(rows02, rows02, 0x00), _mm256_permute2x128_si256(rows13, rows13, 0x00),
        _mm256_permute2x128_si256(rows02, rows02, 0x11), _mm256_permute2x128_si256(rows13, rows13, 0x11)};
    const auto term = [&](int u) ZRC_AVX2_LAMBDA { return _mm256_mullo_epi32(rows[u], load(a.weights[u])); };
    // Outputs 0 (low half) and 1 (high half); outputs 3 and 2 take the same terms with the odd rows negated.
    const __m256i even = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(kLevelShift)),
                                          _mm256_add_epi32(term(0), term(2)));
    const __m256i odd = _mm256_add_epi32(term(1), term(3));
    const __m256i outputs01 = _mm256_srai_epi32(_mm256_add_epi32(even, odd), 16);
    const __m256i outputs32 = _mm256_srai_epi32(_mm256_sub_epi32(even, odd), 16);
    const __m256i words = _mm256_packs_epi32(outputs01, outputs32);  // 0, 3 | 1, 2
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const __m256i ordered = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 5, 1, 0, 4, 5, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples), _mm256_castsi256_si128(ordered));
}

}  // namespace zrc

#endif

#endif
