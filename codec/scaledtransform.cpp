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
#include "codec/transformavx2.h"
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
    Avx2Passes4 passes;
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
            for (int p = 0; p < 16; ++p)
                gather[zigzag[p] / 16][p] = static_cast<uint8_t>(zigzag[p] % 16);
            passes.build(basis, [&](int q, int p) { return shift[q][p]; });
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
// is one test, any other gathers them with two byte shuffles and takes the full transform's edge-4 passes.
ZRC_AVX2_INLINE void avx2Scaled4Block(const ScaledTables& s, const uint8_t* coefficients, int quality,
                                      uint8_t* samples) {
    const __m256i all = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coefficients));
    if (_mm256_testz_si256(all, _mm256_setr_epi32(~0xFF, -1, -1, -1, -1, -1, -1, -1))) {
        const uint32_t w = static_cast<uint32_t>(s.basis[0]);
        std::memset(samples,
                    clampSample(w * w * dequantise(coefficients[0], s.shift[quality][0]) + kLevelShift), 16);
        return;
    }
    const __m128i natural =
        _mm_or_si128(_mm_shuffle_epi8(_mm256_castsi256_si128(all),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(s.gather[0]))),
                     _mm_shuffle_epi8(_mm256_extracti128_si256(all, 1),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(s.gather[1]))));
    avx2Passes4(s.passes, natural, quality, samples);
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
