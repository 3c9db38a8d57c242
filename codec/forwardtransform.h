#ifndef CODEC_FORWARDTRANSFORM_H
#define CODEC_FORWARDTRANSFORM_H

#include <cstddef>
#include <cstdint>

namespace zrc {

// Forward transform and quantisation, the inverse of inverseTransformBlock: samples row by row in, signed
// coefficient bytes in zigzag order out. Each coefficient is the projection of (sample - 127.5) on the
// decoder's own integer weights, scaled for their rounding so the inverse reproduces the block, divided by
// its dequantisation step, rounded to nearest (half away from zero) and saturated to -128..127. The half
// offsets the decoder's rounding down of its output.

// Plain reference of one block of edge 4, 8, 16 or 32 at quality 0..5.
void forwardTransformBlockReference(int edge, const uint8_t* samples, int quality, uint8_t* coefficients);

// Fast form, identical output: separable, with a short path for flat blocks.
void forwardTransformBlock(int edge, const uint8_t* samples, int quality, uint8_t* coefficients);

// Where the coded blocks of one picture go.
struct CodedSections {
    uint8_t* replace;      // the coded blocks, plane by plane in block order (also the absolute layout)
    uint8_t* xor_section;  // the same XORed with the kept coefficients; null when not wanted
    uint32_t* index;       // scratch of mapsize words
};

// Transforms every block whose map entry is not 0 (quality row 0 for entry 1, `quality` otherwise) from the
// sample planes (block order), writes it to the sections at its place among the coded blocks and then over
// the kept coefficient planes. Returns the plane bytes, or 0 for a matrix it does not know.
size_t forwardTransformPicture(const uint8_t* samples, uint8_t* kept, const CodedSections& out,
                               const uint8_t* map, uint32_t mapsize, uint32_t predictions, int matrix,
                               size_t padded_pixels, bool chroma420, uint32_t quality, bool multicore);

}  // namespace zrc

#endif
