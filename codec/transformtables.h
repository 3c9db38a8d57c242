#ifndef CODEC_TRANSFORMTABLES_H
#define CODEC_TRANSFORMTABLES_H

#include <cstdint>

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

}  // namespace zrc

#endif
