#ifndef CODEC_CONVERSION_H
#define CODEC_CONVERSION_H

#include <cstddef>
#include <cstdint>

namespace zrc {

struct Rgb {
    uint8_t r, g, b;
};

// The colour conversion of one sample triple (luma, first and second colour-difference sample); 87381 is
// 4/3 in 16-bit fixed point.
inline Rgb yuvToRgb(int y, int u, int v) {
    constexpr int kFourThirds = 87381;
    auto clamp = [](int value) { return static_cast<uint8_t>(value < 1 ? 0 : value >= 255 ? 255 : value); };
    return Rgb{clamp(y + ((v * kFourThirds) >> 16) - 168), clamp(y - (((u + v) * kFourThirds) >> 16) + 339),
               clamp(y + ((u * kFourThirds) >> 16) - 168)};
}

// Bytes per output pixel of an image format this conversion produces (9, 14, 15, 20: 2; 39, 44, 51, 56: 4),
// 0 for any other.
int convertedPixelBytes(uint32_t image_format);

// Whether frames of frame_format with blocks of edge matrix can be converted: every format at matrix 8 and
// 32, all but the red-green-blue planes at matrix 16.
bool convertibleFrame(uint32_t frame_format, int matrix);

// Converts the changed blocks of the planes (block order) of frame format 0x84 (red, green, blue), 0x8C
// (4:4:4 colour) or 0x8D..0x8F (4:2:0 colour) into `image`, rows of width pixels, cropped to width x height.
// Returns width * height * bytes per pixel, or 0 for a format it cannot produce (and for 0x84 with matrix
// 16).
size_t convertPicture(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                      uint32_t mapsize, int matrix, int width, int height, uint32_t image_format,
                      bool multicore);

// The same for the changed blocks [begin, end), on the calling thread, with the same result.
size_t convertBlocks(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                     uint32_t begin, uint32_t end, int matrix, int width, int height, uint32_t image_format);

// The same at 1 / (1 << shift) of the size (shift 0..3): planes of blocks of edge matrix >> shift (4:2:0
// colour blocks of half that, but one sample where half would be none) into an image of width x height
// pixels at that scale.
size_t convertScaledBlocks(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                           uint32_t begin, uint32_t end, int matrix, int shift, int width, int height,
                           uint32_t image_format);

}  // namespace zrc

#endif
