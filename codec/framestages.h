#ifndef CODEC_FRAMESTAGES_H
#define CODEC_FRAMESTAGES_H

#include <cstddef>
#include <cstdint>

#include "codec/picturelayout.h"

namespace zrc {

// Where one frame's stages read and write, as the decoder chose them for the handle and the frame, and the
// stages themselves on a range of blocks of one plane, on the calling thread.
struct FrameStages {
    PictureLayout layout;
    uint32_t quality;
    uint8_t* time_map;
    uint8_t* space_map;
    uint8_t* coefficients;      // the kept coefficient planes
    uint8_t* scratch;           // matrix 32: the transform's output before its copy into transform_target
    uint8_t* transform_target;  // decoded planes
    uint8_t* smooth_target;     // smoothed planes; null without smoothing
    bool mark_edges;
    // Conversion into the caller's image; image is null when the planes themselves are the output.
    uint8_t* image;
    uint32_t frame_format;
    uint32_t image_format;
    int width;
    int height;

    // Inverse transform of the changed blocks [begin, end) of one plane from the coefficient planes at
    // `source` into the decoded planes.
    void transform(int plane, const uint8_t* source, uint32_t begin, uint32_t end) const;
    // Smoothing of the changed blocks [begin, end) of one plane; their neighbours must be decoded.
    void smooth(int plane, uint32_t begin, uint32_t end) const;
    uint32_t mapsize() const { return layout.blocks(); }
    // The planes the conversion reads: the smoothed ones when there are.
    const uint8_t* output() const { return smooth_target != nullptr ? smooth_target : transform_target; }
    // Conversion of the changed blocks [begin, end) into the image; the image bytes of the whole picture, or
    // 0 for a format the conversion cannot produce (then nothing is written).
    size_t convert(uint32_t begin, uint32_t end) const;
};

}  // namespace zrc

#endif
