#ifndef CODEC_TRANSFORMTABLES_H
#define CODEC_TRANSFORMTABLES_H

#include <cstddef>
#include <cstdint>

#include "codec/simd.h"

namespace zrc {

// Tables of the inverse transform for block edges 4, 8, 16 and 32.
struct TransformTables {
    int edge;
    // natural[z]: natural position (row * edge + column) of zigzag position z.
    const uint16_t* natural;
    // zigzag[p]: zigzag position of natural position p.
    const uint16_t* zigzag;
    // shift[q][p]: dequantisation shift of natural position p at quality q (0..5).
    const uint8_t* shift[6];
    // basis[i * edge + k]: weight of coefficient k in output sample i of one pass (a scaled cosine).
    const int32_t* basis;
    // scan[q][z]: what the fast transform needs of zigzag position z at quality q: row | column << 8 |
    // shift << 16.
    const uint32_t* scan[6];
    // columns[k * edge + i] = basis[i * edge + k], so that one coefficient's weights are contiguous.
    const int32_t* columns;
};

// Tables for edge 4, 8, 16 or 32.
const TransformTables& transformTables(int edge);

// The arithmetic every inverse transform shares, full or reduced: the level shift added before the clamp,
// a sum (16 fraction bits) clamped to a sample, a coefficient byte dequantised by its shift, and the quality
// row of a changed block's map entry (4 + r names row r itself, 1 is row 0, any other the frame's quality).
constexpr uint32_t kLevelShift = 0x800000;

ZRC_INLINE uint8_t clampSample(uint32_t sum) {
    const int32_t value = static_cast<int32_t>(sum) >> 16;
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

ZRC_INLINE uint32_t dequantise(uint8_t byte, int shift) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte))) << shift;
}

ZRC_INLINE uint32_t blockQuality(uint8_t entry, uint32_t quality) {
    if (entry >= 4) return entry - 4u;
    return entry == 1 ? 0 : quality;
}

// Calls kernel(block coefficients, quality row, block samples) for each changed block of [begin, end), block
// b's coefficients at coefficients + b * in_bytes and its samples at samples + b * out_bytes: the walk every
// transform kernel takes over a plane, inlined into each kernel's own loop.
template <typename Kernel>
ZRC_INLINE void forEachChangedBlock(const uint8_t* coefficients, size_t in_bytes, uint8_t* samples,
                                    size_t out_bytes, const uint8_t* map, uint32_t begin, uint32_t end,
                                    uint32_t quality, Kernel kernel) {
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0)
            kernel(coefficients + b * in_bytes, static_cast<int>(blockQuality(map[b], quality)),
                   samples + b * out_bytes);
    }
}

// The plain separable two passes over n x n dequantised coefficients c (natural order), with basis[i * n + k]
// the weight of coefficient k in output sample i: first every row, then every column of the rows, level
// shift added and clamped. The reference of the full and of the reduced transform alike.
void separableInverseReference(int n, const uint32_t* c, const int32_t* basis, uint8_t* samples);

}  // namespace zrc

#endif
