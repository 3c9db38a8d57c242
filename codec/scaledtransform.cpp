// Reduced inverse transform kernels: the picture of a block at 1/2, 1/4 or 1/8 of its size from its
// low-frequency coefficients, as scaled JPEG decoding does. Averaging the full transform's output over a
// square of m x m samples averages each of its separable weights over m samples, so the average of the
// low-frequency part is an out-point transform whose weights are those averages; the rest of the block
// (the frequencies the smaller picture cannot show) is dropped. Integer arithmetic modulo 2^32 as the full
// transform, so that the reference and the fast form agree exactly.
#include "codec/scaledtransform.h"

#include <cstring>

#include "codec/simd.h"
#include "codec/transform.h"
#include "codec/transformtables.h"
#include "codec/vectors.h"

#if ZRC_HAVE_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace zrc {
namespace {

constexpr int kMaxOut = 16;

// The reduced transform of one edge at one shift.
struct ScaledTables {
    int edge;
    int out;
    // The low-frequency coefficients all lie in zigzag positions [0, limit); limit is a multiple of 8.
    int limit;
    // zigzag[u * out + k]: zigzag position of the coefficient of row u, column k.
    uint16_t zigzag[kMaxOut * kMaxOut];
    // shift[q][u * out + k]: its dequantisation shift at quality q.
    uint8_t shift[6][kMaxOut * kMaxOut];
    // basis[a * out + k]: weight of coefficient k in output sample a of one pass.
    int32_t basis[kMaxOut * kMaxOut];
    // columns[k * out + a] = basis[a * out + k], one coefficient's weights contiguous.
    int32_t columns[kMaxOut * kMaxOut];
#if ZRC_HAVE_AVX2_KERNELS
    // The AVX2 kernel of 4 x 4 outputs (edges 8, 16, 32), laid out as the full transform's edge-4 kernel:
    // gather[h]: byte shuffle taking the natural-order coefficients from zigzag bytes 16h..16h+15.
    alignas(32) uint8_t gather[2][16];
    alignas(32) int16_t scale[6][16];   // 1 << shift by quality, natural order
    alignas(32) int16_t pairs[2][16];   // columns (0, 1) and (2, 3) for outputs 0..3, in both halves
    alignas(32) int32_t weights[4][8];  // row u's weight in outputs 0 (low half) and 1 (high half)
#endif

    ScaledTables(int n, int s) : edge(n), out(scaledEdge(n, s)), limit(0) {
        const TransformTables& t = transformTables(n);
        const int m = n / out;  // full samples per output sample, along one side
        for (int u = 0; u < out; ++u) {
            for (int k = 0; k < out; ++k) {
                const int p = u * n + k;
                const int z = t.zigzag[p];
                zigzag[u * out + k] = static_cast<uint16_t>(z);
                for (int q = 0; q < 6; ++q)
                    shift[q][u * out + k] = t.shift[q][p];
                if (z + 1 > limit) limit = z + 1;
            }
        }
        limit = (limit + 7) / 8 * 8;
        for (int a = 0; a < out; ++a) {
            for (int k = 0; k < out; ++k) {
                int32_t sum = 0;
                for (int i = a * m; i < a * m + m; ++i)
                    sum += t.basis[i * n + k];
                // Rounded half away from zero, which keeps the weights' symmetry about the middle.
                const int32_t weight = sum >= 0 ? (sum + m / 2) / m : -((-sum + m / 2) / m);
                basis[a * out + k] = weight;
                columns[k * out + a] = weight;
            }
        }
#if ZRC_HAVE_AVX2_KERNELS
        if (out == 4) {
            std::memset(gather, 0x80, sizeof gather);
            for (int p = 0; p < 16; ++p) {
                gather[zigzag[p] / 16][p] = static_cast<uint8_t>(zigzag[p] % 16);
                for (int q = 0; q < 6; ++q)
                    scale[q][p] = static_cast<int16_t>(1 << shift[q][p]);
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
#endif
    }
};

const ScaledTables& scaledTables(int edge, int shift) {
    static const ScaledTables tables[4][3] = {
        {ScaledTables(4, 1), ScaledTables(4, 2), ScaledTables(4, 3)},
        {ScaledTables(8, 1), ScaledTables(8, 2), ScaledTables(8, 3)},
        {ScaledTables(16, 1), ScaledTables(16, 2), ScaledTables(16, 3)},
        {ScaledTables(32, 1), ScaledTables(32, 2), ScaledTables(32, 3)}};
    const int e = edge == 4 ? 0 : edge == 8 ? 1 : edge == 16 ? 2 : 3;
    const int s = shift > 3 ? 2 : shift - 1;
    return tables[e][s];
}

// The fast form for `Out` samples a side. Flat blocks (nothing but the first coefficient in the
// low-frequency zigzag range), the most common on screen content, are one value; every other block takes
// both passes on whole rows of vectors with no data-dependent branch, the second with the even-odd symmetry
// of the weights: output Out - 1 - i takes the even rows' terms of output i and the odd rows' negated.
template <int Out>
ZRC_INLINE void fastScaledBlock(const ScaledTables& s, const uint8_t* coefficients, int quality,
                                uint8_t* samples) {
    const uint8_t* shifts = s.shift[quality];
    const uint32_t w = static_cast<uint32_t>(s.basis[0]);
    if constexpr (Out == 1) {
        samples[0] = clampSample(w * w * dequantise(coefficients[0], shifts[0]) + kLevelShift);
    } else {
        using U = typename Lanes<Out>::U;
        using I = typename Lanes<Out>::I;
        uint64_t rest;
        std::memcpy(&rest, coefficients, 8);
        rest &= ~uint64_t{0xFF};
        for (int z = 8; z < s.limit; z += 8) {
            uint64_t eight;
            std::memcpy(&eight, coefficients + z, 8);
            rest |= eight;
        }
        if (rest == 0) {
            std::memset(samples, clampSample(w * w * dequantise(coefficients[0], shifts[0]) + kLevelShift),
                        Out * Out);
            return;
        }
        uint32_t c[Out * Out];
        for (int p = 0; p < Out * Out; ++p)
            c[p] = dequantise(coefficients[s.zigzag[p]], shifts[p]);
        U columns[Out];
        std::memcpy(columns, s.columns, sizeof columns);
        U rows[Out];
        for (int u = 0; u < Out; ++u) {
            U row = c[u * Out] * columns[0];
            for (int k = 1; k < Out; ++k)
                row += c[u * Out + k] * columns[k];
            rows[u] = row;
        }
        auto store = [&](int i, U sum) ZRC_LAMBDA {
            const I clamped = clampVector<0, 255>(reinterpret_cast<I&>(sum) >> 16);
            const typename Lanes<Out>::B bytes = lowBytes<Out>(clamped);
            std::memcpy(samples + i * Out, &bytes, Out);
        };
        for (int i = 0; i < Out / 2; ++i) {
            const int32_t* weights = s.basis + i * Out;
            U even = U{} + kLevelShift;
            U odd = U{};
            for (int u = 0; u < Out; u += 2) {
                even += static_cast<uint32_t>(weights[u]) * rows[u];
                odd += static_cast<uint32_t>(weights[u + 1]) * rows[u + 1];
            }
            store(i, even + odd);
            store(Out - 1 - i, even - odd);
        }
    }
}

// The changed blocks [begin, end) of one plane, `Out` samples a side.
template <int Out>
ZRC_INLINE void fastScaledRange(const ScaledTables& s, const uint8_t* coefficients, uint8_t* samples,
                                const uint8_t* map, uint32_t begin, uint32_t end, uint32_t quality) {
    forEachChangedBlock(coefficients, static_cast<size_t>(s.edge) * static_cast<size_t>(s.edge), samples,
                        Out * Out, map, begin, end, quality,
                        [&](const uint8_t* c, int q, uint8_t* o)
                            ZRC_LAMBDA { fastScaledBlock<Out>(s, c, q, o); });
}

#define ZRC_SCALED_FORMS(Out)                                                                            \
    ZRC_CLONES void fastScaled##Out(const ScaledTables& s, const uint8_t* c, int q, uint8_t* out) {      \
        fastScaledBlock<Out>(s, c, q, out);                                                              \
    }                                                                                                    \
    ZRC_CLONES void fastScaledRange##Out(const ScaledTables& s, const uint8_t* c, uint8_t* out,          \
                                         const uint8_t* map, uint32_t begin, uint32_t end, uint32_t q) { \
        fastScaledRange<Out>(s, c, out, map, begin, end, q);                                             \
    }
ZRC_SCALED_FORMS(1)
ZRC_SCALED_FORMS(2)
ZRC_SCALED_FORMS(4)
ZRC_SCALED_FORMS(8)
ZRC_SCALED_FORMS(16)
#undef ZRC_SCALED_FORMS

#if ZRC_HAVE_AVX2_KERNELS
// 4 x 4 outputs of edge 8, 16 or 32, whose coefficients all lie in the first 32 zigzag bytes: a flat block
// is one test, any other gathers them with two byte shuffles and takes the passes of the full transform's
// edge-4 kernel (pmaddwd for the first pass: a dequantised coefficient and a weight fit in 16 bits and a
// pair's sum in 32, so nothing wraps; 32-bit multiplies that wrap as the reference's for the second).
ZRC_AVX2_INLINE void avx2Scaled4Block(const ScaledTables& s, const uint8_t* coefficients, int quality,
                                      uint8_t* samples) {
    const __m256i all = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coefficients));
    if (_mm256_testz_si256(all, _mm256_setr_epi32(~0xFF, -1, -1, -1, -1, -1, -1, -1))) {
        const uint32_t w = static_cast<uint32_t>(s.basis[0]);
        std::memset(samples,
                    clampSample(w * w * dequantise(coefficients[0], s.shift[quality][0]) + kLevelShift), 16);
        return;
    }
    const auto load = [](const void* p)
                          ZRC_AVX2_LAMBDA { return _mm256_load_si256(static_cast<const __m256i*>(p)); };
    const __m128i natural =
        _mm_or_si128(_mm_shuffle_epi8(_mm256_castsi256_si128(all),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(s.gather[0]))),
                     _mm_shuffle_epi8(_mm256_extracti128_si256(all, 1),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(s.gather[1]))));
    // Rows 0 and 1 in the low half, 2 and 3 in the high half.
    const __m256i c = _mm256_mullo_epi16(_mm256_cvtepi8_epi16(natural), load(s.scale[quality]));
    const __m256i k01 = load(s.pairs[0]), k23 = load(s.pairs[1]);
    const __m256i rows02 = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(c, 0x00), k01),
                                            _mm256_madd_epi16(_mm256_shuffle_epi32(c, 0x55), k23));
    const __m256i rows13 = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(c, 0xAA), k01),
                                            _mm256_madd_epi16(_mm256_shuffle_epi32(c, 0xFF), k23));
    // Each first-pass row in both halves.
    const __m256i rows[4] = {
        _mm256_permute2x128_si256(rows02, rows02, 0x00), _mm256_permute2x128_si256(rows13, rows13, 0x00),
        _mm256_permute2x128_si256(rows02, rows02, 0x11), _mm256_permute2x128_si256(rows13, rows13, 0x11)};
    const auto term = [&](int u) ZRC_AVX2_LAMBDA { return _mm256_mullo_epi32(rows[u], load(s.weights[u])); };
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

ZRC_AVX2 void avx2Scaled4(const ScaledTables& s, const uint8_t* coefficients, int quality, uint8_t* samples) {
    avx2Scaled4Block(s, coefficients, quality, samples);
}

ZRC_AVX2 void avx2ScaledRange4(const ScaledTables& s, const uint8_t* coefficients, uint8_t* samples,
                               const uint8_t* map, uint32_t begin, uint32_t end, uint32_t quality) {
    // forEachChangedBlock's walk written out, as in the full transform's AVX2 kernels.
    const size_t in = static_cast<size_t>(s.edge) * static_cast<size_t>(s.edge);
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0)
            avx2Scaled4Block(s, coefficients + b * in, static_cast<int>(blockQuality(map[b], quality)),
                             samples + b * 16);
    }
}
#endif

}  // namespace

void scaledInverseTransformBlockReference(int edge, int shift, const uint8_t* coefficients, int quality,
                                          uint8_t* samples) {
    if (shift <= 0) return inverseTransformBlockReference(edge, coefficients, quality, samples);
    const ScaledTables& s = scaledTables(edge, shift);
    const int n = s.out;
    uint32_t c[kMaxOut * kMaxOut];
    for (int p = 0; p < n * n; ++p)
        c[p] = dequantise(coefficients[s.zigzag[p]], s.shift[quality][p]);
    separableInverseReference(n, c, s.basis, samples);
}

void scaledInverseTransformBlock(int edge, int shift, const uint8_t* coefficients, int quality,
                                 uint8_t* samples) {
    if (referenceKernels())
        return scaledInverseTransformBlockReference(edge, shift, coefficients, quality, samples);
    if (shift <= 0) return inverseTransformBlock(edge, coefficients, quality, samples);
    const ScaledTables& s = scaledTables(edge, shift);
    switch (s.out) {
        case 1:
            return fastScaled1(s, coefficients, quality, samples);
        case 2:
            return fastScaled2(s, coefficients, quality, samples);
        case 4:
#if ZRC_HAVE_AVX2_KERNELS
            if (avx2Kernels()) return avx2Scaled4(s, coefficients, quality, samples);
#endif
            return fastScaled4(s, coefficients, quality, samples);
        case 8:
            return fastScaled8(s, coefficients, quality, samples);
        default:
            return fastScaled16(s, coefficients, quality, samples);
    }
}

void scaledInverseTransformBlocks(const PictureLayout& layout, int plane, int shift,
                                  const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                                  uint32_t begin, uint32_t end, uint32_t quality) {
    scaledInverseTransformPlane(layout.edges[plane], shift, coefficients + layout.offsets[plane],
                                samples + layout.scaled(shift).offsets[plane], map, begin, end, quality);
}

void scaledInverseTransformPlane(int edge, int shift, const uint8_t* coefficients, uint8_t* samples,
                                 const uint8_t* map, uint32_t begin, uint32_t end, uint32_t quality) {
    if (shift <= 0) return inverseTransformPlane(edge, coefficients, samples, map, begin, end, quality);
    if (referenceKernels()) {
        const size_t out = static_cast<size_t>(scaledEdge(edge, shift)) * scaledEdge(edge, shift);
        return forEachChangedBlock(coefficients, static_cast<size_t>(edge) * static_cast<size_t>(edge),
                                   samples, out, map, begin, end, quality,
                                   [&](const uint8_t* c, int q, uint8_t* o) {
                                       scaledInverseTransformBlockReference(edge, shift, c, q, o);
                                   });
    }
    const ScaledTables& s = scaledTables(edge, shift);
    switch (s.out) {
        case 1:
            return fastScaledRange1(s, coefficients, samples, map, begin, end, quality);
        case 2:
            return fastScaledRange2(s, coefficients, samples, map, begin, end, quality);
        case 4:
#if ZRC_HAVE_AVX2_KERNELS
            if (avx2Kernels()) return avx2ScaledRange4(s, coefficients, samples, map, begin, end, quality);
#endif
            return fastScaledRange4(s, coefficients, samples, map, begin, end, quality);
        case 8:
            return fastScaledRange8(s, coefficients, samples, map, begin, end, quality);
        default:
            return fastScaledRange16(s, coefficients, samples, map, begin, end, quality);
    }
}

}  // namespace zrc
