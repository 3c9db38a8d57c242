#ifndef CODEC_FRAMESTAGES_H
#define CODEC_FRAMESTAGES_H

#include <cstddef>
#include <cstdint>

#include "codec/picturelayout.h"

namespace zrc {

// Where one render's pixel stages read and write, as the decoder chose them for the handle, its frames and
// the scale, and the two passes of the stages on a range of blocks, on the calling thread. A map entry not 0
// selects a block; the transform reads it as the block's quality row (see transform.h).
//
// Planes the conversion reads once are not kept: each block row of them is made in a band of one row,
// one per thread, and converted from there at once, so that a handle holds full-size planes only where a
// later render reads them again (the smoothing reads the neighbours of changed blocks).
struct FrameStages {
    PictureLayout layout;  // the coefficient planes, at full size
    PictureLayout output;  // layout, or its scaled form
    int shift;             // 0 full size; 1..3 the reduced transform into output
    const uint8_t* coefficients;
    // Decoded planes laid out as output and kept: the handle's planes when smoothing reads them, or the
    // image itself when it is in the frame format; null when each row is decoded into the band.
    uint8_t* planes;
    bool smooth;
    bool mark_edges;
    // The caller's image: converted into, or, when direct, the planes themselves in the frame format (the
    // smoothing then writes into it).
    uint8_t* image;
    bool direct;
    uint32_t frame_format;
    uint32_t image_format;
    int width;  // of the image, at the scale
    int height;

    // The first pass: the inverse transform of the blocks [begin, end), with their conversion when no
    // smoothing comes between. False when a band could not be allocated.
    bool decode(const uint8_t* map, uint32_t begin, uint32_t end) const;
    // The second pass with smoothing: the smoothing of the blocks [begin, end), whose neighbours must be
    // decoded, and their conversion. False when a band could not be allocated.
    bool smoothAndConvert(const uint8_t* map, uint32_t begin, uint32_t end) const;

private:
    // Conversion of the blocks [begin, end) of block row `row`, whose first block is `first`, from the band.
    void convertRow(const uint8_t* band, const uint8_t* map, uint32_t row, uint32_t first, uint32_t begin,
                    uint32_t end) const;
};

}  // namespace zrc

#endif
