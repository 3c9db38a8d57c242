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

namespace zrc {
namespace {

constexpr uint32_t kLevelShift = 0x800000;
constexpr int kMaxOut = 16;

ZRC_INLINE uint8_t clampSample(uint32_t sum) {
    const int32_t value = static_cast<int32_t>(sum) >> 16;
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

ZRC_INLINE uint32_t dequantise(uint8_t byte, int shift) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte))) << shift;
}

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
    }
};

const ScaledTables& scaledTables(int edge, int shift) {
    static const ScaledTables tables[4][3] = {
        {ScaledTables(4, 1), ScaledTables(4, 2), ScaledTables(4, 3)},
        {ScaledTables(8, 1), ScaledTables(8, 2), ScaledTables(8, 3)},
        {ScaledTables(16, 1), ScaledTables(16, 2), ScaledTables(16, 3)},
        {ScaledTables(32, 1), ScaledTables(32, 2), ScaledTables(32, 3)}};
    const int e = edge == 4 ? 0 : edge == 8 ? 1 : edge == 16 ? 2 : 3;
    const int s = shift < 1 ? 0 : shift > 3 ? 2 : shift - 1;
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

ZRC_CLONES void fastScaled1(const ScaledTables& s, const uint8_t* c, int q, uint8_t* out) {
    fastScaledBlock<1>(s, c, q, out);
}
ZRC_CLONES void fastScaled2(const ScaledTables& s, const uint8_t* c, int q, uint8_t* out) {
    fastScaledBlock<2>(s, c, q, out);
}
ZRC_CLONES void fastScaled4(const ScaledTables& s, const uint8_t* c, int q, uint8_t* out) {
    fastScaledBlock<4>(s, c, q, out);
}
ZRC_CLONES void fastScaled8(const ScaledTables& s, const uint8_t* c, int q, uint8_t* out) {
    fastScaledBlock<8>(s, c, q, out);
}
ZRC_CLONES void fastScaled16(const ScaledTables& s, const uint8_t* c, int q, uint8_t* out) {
    fastScaledBlock<16>(s, c, q, out);
}

}  // namespace

void scaledInverseTransformBlockReference(int edge, int shift, const uint8_t* coefficients, int quality,
                                          uint8_t* samples) {
    const ScaledTables& s = scaledTables(edge, shift);
    const int n = s.out;
    uint32_t c[kMaxOut * kMaxOut];
    for (int p = 0; p < n * n; ++p)
        c[p] = dequantise(coefficients[s.zigzag[p]], s.shift[quality][p]);
    uint32_t rows[kMaxOut * kMaxOut];
    for (int u = 0; u < n; ++u) {
        for (int j = 0; j < n; ++j) {
            uint32_t sum = 0;
            for (int k = 0; k < n; ++k)
                sum += c[u * n + k] * static_cast<uint32_t>(s.basis[j * n + k]);
            rows[u * n + j] = sum;
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            uint32_t sum = kLevelShift;
            for (int k = 0; k < n; ++k)
                sum += static_cast<uint32_t>(s.basis[i * n + k]) * rows[k * n + j];
            samples[i * n + j] = clampSample(sum);
        }
    }
}

void scaledInverseTransformBlock(int edge, int shift, const uint8_t* coefficients, int quality,
                                 uint8_t* samples) {
    if (referenceKernels())
        return scaledInverseTransformBlockReference(edge, shift, coefficients, quality, samples);
    const ScaledTables& s = scaledTables(edge, shift);
    switch (s.out) {
        case 1:
            return fastScaled1(s, coefficients, quality, samples);
        case 2:
            return fastScaled2(s, coefficients, quality, samples);
        case 4:
            return fastScaled4(s, coefficients, quality, samples);
        case 8:
            return fastScaled8(s, coefficients, quality, samples);
        default:
            return fastScaled16(s, coefficients, quality, samples);
    }
}

}  // namespace zrc
