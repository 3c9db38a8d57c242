#ifndef CODEC_FORWARDCONVERSION_H
#define CODEC_FORWARDCONVERSION_H

#include <cstddef>
#include <cstdint>

#include "codec/conversion.h"

namespace zrc {

// The sample triple (luma, first and second colour-difference sample) that the colour conversion turns
// back into the nearest colour to `c`.
void rgbToYuv(Rgb c, uint8_t* y, uint8_t* u, uint8_t* v);

// Converts the blocks of `image` (rows of width pixels in image format 9, 14, 15, 20, 39, 44, 51 or 56)
// whose map entry is not 0 into the sample planes of frame_format, in block order over the padded picture:
// 0x84 red, green, blue; 0x8C luma and colour differences; 0x8D..0x8F luma and quarter-size colour planes.
// Padding pixels repeat the picture's last column and row, which keeps edge blocks free of a false edge.
// The three 4:2:0 codes differ in where their colour sample sits among the 2 x 2 pixels it serves:
// 0x8D takes the top-left pixel's (cheapest), 0x8E the mean of the four (sharpest without ringing),
// 0x8F the mean of the left pair (co-sited horizontally, as video usually places it).
// Returns false for an image or frame format it cannot handle.
bool imageToPlanes(const uint8_t* image, uint32_t image_format, uint32_t frame_format, uint8_t* planes,
                   const uint8_t* map, uint32_t mapsize, int matrix, int width, int height, bool multicore);

// The same for one block.
bool imageBlockToPlanes(const uint8_t* image, uint32_t image_format, uint32_t frame_format, uint8_t* planes,
                        uint32_t block, int matrix, int width, int height);

}  // namespace zrc

#endif
