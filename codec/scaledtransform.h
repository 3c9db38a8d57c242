#ifndef CODEC_SCALEDTRANSFORM_H
#define CODEC_SCALEDTRANSFORM_H

#include <cstdint>

#include "codec/picturelayout.h"

namespace zrc {

// Reduced inverse transform with dequantisation of one block of edge 4, 8, 16 or 32 (coefficients as
// inverseTransformBlock reads them: signed bytes in zigzag order, quality 0..5 choosing the dequantisation
// row) to an out x out block of samples, out = max(1, edge >> shift), shift 1..3, row by row: the picture
// the block shows at 1/2, 1/4, 1/8 of its size, from its low-frequency coefficients only (as scaled JPEG
// decoding does), without computing the full block. Shift 0 is the full inverse transform, so that a caller
// can take every scale through one call.
//
// Only the top-left out x out coefficients count. Their weights are the full transform's weights summed
// over the edge / out samples each output sample stands for and divided by that count (rounded), so that
// a sample is the box average of the full block's low-frequency part, with the full transform's level
// shift, rounding, clamp and wrap-around arithmetic. A block with only its first coefficient gives exactly
// the full transform's flat block.
void scaledInverseTransformBlockReference(int edge, int shift, const uint8_t* coefficients, int quality,
                                          uint8_t* samples);

// Fast form, identical output to the reference; the reference runs in its place while useReferenceKernels
// is on.
void scaledInverseTransformBlock(int edge, int shift, const uint8_t* coefficients, int quality,
                                 uint8_t* samples);

// The changed blocks [begin, end) of one plane (0, 1 or 2) of a picture laid out as `layout`, on the calling
// thread, reduced by `shift` (0..3) into samples laid out as layout.scaled(shift); coefficients and samples
// point at the first plane of each. Quality row 0 for map entry 1, r for entry 4 + r and `quality` otherwise,
// as inverseTransformBlocks, which shift 0 is. One dispatch for the whole run rather than one a block.
void scaledInverseTransformBlocks(const PictureLayout& layout, int plane, int shift,
                                  const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                                  uint32_t begin, uint32_t end, uint32_t quality);

// The same for one plane of blocks of `edge`: block b of [begin, end) from coefficients + b * edge * edge
// to samples + b * out * out.
void scaledInverseTransformPlane(int edge, int shift, const uint8_t* coefficients, uint8_t* samples,
                                 const uint8_t* map, uint32_t begin, uint32_t end, uint32_t quality);

// Edge of the samples of a block of `edge` at `shift` (0 for the full block): max(1, edge >> shift).
inline int scaledEdge(int edge, int shift) {
    return (edge >> shift) > 0 ? edge >> shift : 1;
}

}  // namespace zrc

#endif
