// Hand-built ZRC frames whose pixels a test knows without the codec: frame format 0x84 (red, green and blue
// planes), matrix 8, every coded block flat, carried by its DC coefficient alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/unit/stream/support/pictures.h"

class ZrcFrameWriter {
public:
    // Flat block levels the writer can make, and the DC byte that makes each (quality row 0).
    static constexpr int8_t kLow = -64;  // every sample 0
    static constexpr int8_t kMid = 0;    // every sample 128
    static constexpr int8_t kHigh = 63;  // every sample 255
    // The sample value a flat block with this DC byte decodes to.
    static int flatSample(int8_t dc);

    // width and height in pixels; the number of 8 x 8 blocks must be a multiple of 4.
    ZrcFrameWriter(int32_t width, int32_t height, bool lzPacked = false);

    int32_t blocksAcross() const { return across_; }
    int32_t blocksDown() const { return down_; }

    // An absolute frame: every block in one colour given by DC bytes per plane (red, green, blue).
    std::vector<uint8_t> absolute(int8_t red, int8_t green, int8_t blue);
    // A replace frame: the listed blocks (raster index) take the colour, every other block stays.
    std::vector<uint8_t> replace(const std::vector<int32_t>& blocks, int8_t red, int8_t green, int8_t blue);
    // The same change carried as an xor against the coefficients the decoder holds.
    std::vector<uint8_t> xorFrame(const std::vector<int32_t>& blocks, int8_t red, int8_t green, int8_t blue);
    // Skips an id, so the next relative frame arrives after a gap.
    void skipId() { ++id_; }

    // The colour every pixel of the given block decodes to after the frames written so far.
    Rgb blockColour(int32_t block) const;
    // Empty when every pixel of picture (width x height) shows its block's colour, else the first pixel
    // that does not.
    std::string mismatch(const platform::Picture& picture) const;

private:
    std::vector<uint8_t> relative(uint32_t diffType, const std::vector<int32_t>& blocks, const int8_t dc[3]);
    std::vector<uint8_t> frame(uint32_t diffType, uint32_t predictions, const std::vector<uint8_t>& map,
                               const std::vector<uint8_t>& diff);

    int32_t width_, height_, across_, down_;
    bool lzPacked_;
    uint32_t id_ = 1;
    std::vector<int8_t> dc_[3];  // the DC byte of every block per plane, as the decoder holds it
};
