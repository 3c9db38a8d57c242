#ifndef CODEC_FRAMESTAGES_H
#define CODEC_FRAMESTAGES_H

#include <cstddef>
#include <cstdint>

#include "codec/picturelayout.h"

namespace zrc {

// Where one render's pixel stages read and write, as the decoder chose them for the handle, its frames and
// the scale, and the stages themselves on a range of blocks of one plane, on the calling thread. A map
// entry not 0 selects a block; the transform reads it as the block's quality row (see transform.h).
struct FrameStages {
    PictureLayout layout;  // the coefficient planes, at full size
    PictureLayout output;  // transform_target and smooth_target: layout, or its scaled form
    int shift;             // 0 full size; 1..3 the reduced transform into output
    const uint8_t* coefficients;
    uint8_t* scratch;           // matrix 32 at full size: the transform's output before its copy
    uint8_t* transform_target;  // decoded planes
    uint8_t* smooth_target;     // smoothed planes; null without smoothing
    bool mark_edges;
    // Conversion into the caller's image; image is null when the planes themselves are the output.
    uint8_t* image;
    uint32_t frame_format;
    uint32_t image_format;
    int width;  // of the image, at the scale
    int height;

    void transform(int plane, const uint8_t* map, uint32_t begin, uint32_t end) const;
    // Smoothing of the blocks [begin, end) of one plane; their neighbours must be decoded.
    void smooth(int plane, const uint8_t* map, uint32_t begin, uint32_t end) const;
    // The planes the conversion reads: the smoothed ones when there are.
    const uint8_t* planes() const { return smooth_target != nullptr ? smooth_target : transform_target; }
    // Conversion of the blocks [begin, end) into the image; the image bytes of the whole picture, or 0 for a
    // format the conversion cannot produce (then nothing is written).
    size_t convert(const uint8_t* map, uint32_t begin, uint32_t end) const;
};

}  // namespace zrc

#endif
