// Nearest-neighbour stretch of a picture onto a window-sized pixel buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/window.h"

namespace platform {

// Fills dst (dstWidth x dstHeight pixels, 0x00RRGGBB each, rows top to bottom) with the picture stretched
// to that size, rows and columns repeated or dropped, never blended: destination pixel (x, y) is source pixel
// (x * width / dstWidth, y * height / dstHeight). A picture whose pixel buffer is smaller than its size says,
// or an empty picture, leaves dst black. The plain form, one pixel at a time.
void stretchNearest(const Picture& picture, uint32_t* dst, int32_t dstWidth, int32_t dstHeight);

// The same stretch written only into `area` of dst (window pixels, clipped to dstWidth x dstHeight); every
// pixel it writes equals the one stretchNearest writes. Repeated rows are copies of the row above, and
// columns are gathered four at a time through a table of source columns.
void stretchNearestArea(const Picture& picture, uint32_t* dst, int32_t dstWidth, int32_t dstHeight,
                        const Rect& area);

// The smallest rectangle of a dstWidth x dstHeight stretch of a sourceWidth x sourceHeight picture that holds
// every pixel taken from `source` (picture pixels, clipped to the picture); empty when the stretch drops
// all of its rows or columns.
Rect stretchedArea(const Rect& source, int32_t sourceWidth, int32_t sourceHeight, int32_t dstWidth,
                   int32_t dstHeight);

// Sizes a window image to pixels words. The memory is given back when the image needs less than half of
// what it holds, so a window that shrank a lot does not keep the image of its largest size.
void sizeImage(std::vector<uint32_t>& image, size_t pixels);

}  // namespace platform
