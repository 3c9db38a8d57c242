#ifndef TESTS_UNIT_CODEC_FRAMEBUILDER_H
#define TESTS_UNIT_CODEC_FRAMEBUILDER_H

#include <cstdint>
#include <vector>

#include "codec/include/zrc.h"

namespace zrctest {

// Block geometry of a picture.
struct Geometry {
    int width;
    int height;
    int matrix;
    bool chroma420;

    int columns() const { return (width + matrix - 1) / matrix; }
    int rows() const { return (height + matrix - 1) / matrix; }
    uint32_t mapsize() const { return static_cast<uint32_t>(columns() * rows()); }
    size_t paddedPixels() const {
        return static_cast<size_t>(columns() * matrix) * static_cast<size_t>(rows() * matrix);
    }
    size_t planeBytes() const { return chroma420 ? paddedPixels() * 3 / 2 : paddedPixels() * 3; }
    int edge(int plane) const { return plane > 0 && chroma420 ? matrix / 2 : matrix; }
    size_t planeOffset(int plane) const {
        if (plane == 0) return 0;
        if (plane == 1) return paddedPixels();
        return chroma420 ? paddedPixels() * 5 / 4 : 2 * paddedPixels();
    }
    size_t blockOffset(int plane, uint32_t block) const {
        return planeOffset(plane) +
               static_cast<size_t>(block) * static_cast<size_t>(edge(plane) * edge(plane));
    }
};

// Everything a test frame carries; predictions defaults to the number of set map entries, trans_length to
// the section size for absolute frames.
struct FrameSpec {
    Geometry geometry{16, 16, 8, true};
    uint32_t frame_format = ZRC_FRAME_YUV420;
    uint32_t quality = 0;
    uint32_t diff_type = ZRC_DIFF_ABSOLUTE;
    uint32_t pack_format = ZRC_PACK_LZ;
    uint32_t id = 1;
    uint32_t command = 0;
    uint32_t timestamp = 0;
    uint32_t version = ZRC_VERSION;
    std::vector<uint8_t> map;      // one entry per block
    std::vector<uint8_t> section;  // differential section
    int64_t predictions = -1;
    int64_t trans_length = -1;
};

// The packed payload before packing: block map words, the section written over the map's tail.
std::vector<uint8_t> unpackedPayload(const FrameSpec& desc);

// A complete frame: chained header and packed payload.
std::vector<uint8_t> buildFrame(const FrameSpec& desc);

// An absolute frame of the given coefficient planes, every map entry 1 (or `entry`).
FrameSpec absoluteSpec(const Geometry& g, uint32_t frame_format, const std::vector<uint8_t>& planes,
                       uint8_t entry = 1);

// A replace or xor frame: the coded blocks of `planes` for the blocks whose `map` entry is not 0.
FrameSpec relativeSpec(const Geometry& g, uint32_t frame_format, uint32_t diff_type,
                       const std::vector<uint8_t>& map, const std::vector<uint8_t>& planes, uint32_t id);

}  // namespace zrctest

#endif
