#ifndef CODEC_OVERLAPPEDDECODE_H
#define CODEC_OVERLAPPEDDECODE_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "codec/lz.h"
#include "codec/picturelayout.h"

namespace zrc {

// Where one frame's stages read and write, as the decoder chose them for the handle and the frame.
struct FrameStages {
    PictureLayout layout;
    uint32_t mapsize;
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
    int matrix;
    int width;
    int height;
};

// Decodes an absolute frame, whose section holds the complete coefficient planes, while its payload is being
// unpacked, and converts it into the caller's image (stages.image is set): a pool thread expands the map and
// transforms and smooths the luma block rows as the unpacker makes them final, while the calling thread
// unpacks; then both share the copy of the coefficients, the colour planes and the conversion. The output is
// the same as that of the stages run one after the other.
//
// `unpack` fills `payload` (map, then section) and reports through its progress; it returns the bytes
// produced. Returns that count; when it is not `expected` the coefficient planes and the image are left as
// they were (the decoded planes may hold part of the frame).
long decodeOverlapped(const FrameStages& stages, uint8_t* payload, size_t expected,
                      const std::function<long(UnpackProgress*)>& unpack);

// Whether decodeOverlapped can take a frame of this many blocks: it needs a second thread, and below a few
// block rows the handing over costs more than it saves.
bool overlapPays(uint32_t mapsize);

}  // namespace zrc

#endif
