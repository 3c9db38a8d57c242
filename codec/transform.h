#ifndef CODEC_TRANSFORM_H
#define CODEC_TRANSFORM_H

#include <cstddef>
#include <cstdint>

#include "codec/picturelayout.h"

namespace zrc {

// Inverse transform with dequantisation. A block's coefficients are signed bytes in zigzag order; its
// samples come out row by row. All arithmetic wraps modulo 2^32.

// Plain reference of one block of edge 4, 8, 16 or 32 at quality 0..5.
void inverseTransformBlockReference(int edge, const uint8_t* coefficients, int quality, uint8_t* samples);

// Fast form of one block, identical output.
void inverseTransformBlock(int edge, const uint8_t* coefficients, int quality, uint8_t* samples);

// Makes every kernel use its plain reference form (for tests comparing the two); off unless the environment
// sets ZRC_FORCE_REFERENCE to a value other than 0.
void useReferenceKernels(bool on);
bool referenceKernels();

// The hand-written AVX2 kernels run where the processor has AVX2 (and the reference is not forced); turned
// off, the portable fast forms run in their place, so that tests can compare both with the reference.
void useAvx2Kernels(bool on);
bool avx2Kernels();

// The three planes of a picture in block order: every block whose map entry is not 0 is transformed, with
// quality row 0 for entry 1 and `quality` otherwise; 4:4:4 uses edge matrix on each plane, 4:2:0 matrix on
// luma and matrix / 2 on the quarter planes. Returns the plane bytes, or 0 for a matrix it does not know.
size_t inverseTransformPicture(const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                               uint32_t mapsize, int matrix, size_t padded_pixels, bool chroma420,
                               uint32_t quality, bool multicore);

// The changed blocks [begin, end) of one plane (0, 1 or 2) of a picture laid out as `layout`, on the calling
// thread; coefficients and samples point at the first plane. A map entry of 4 + r (blocks kept from several
// frames) names its quality row r itself.
void inverseTransformBlocks(const PictureLayout& layout, int plane, const uint8_t* coefficients,
                            uint8_t* samples, const uint8_t* map, uint32_t begin, uint32_t end,
                            uint32_t quality);

// The same for one plane of blocks of `edge`: block b of [begin, end) from coefficients + b * edge * edge
// to samples + b * edge * edge.
void inverseTransformPlane(int edge, const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                           uint32_t begin, uint32_t end, uint32_t quality);

}  // namespace zrc

#endif
