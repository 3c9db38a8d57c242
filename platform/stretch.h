// Nearest-neighbour stretch of a picture onto a window-sized pixel buffer.
#pragma once

#include <algorithm>
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

// A window keeps no image of its own beyond one band of rows: a paint stretches the area to draw a band at
// a time into it and puts each band on the screen, which holds the rest. A band is about kBandPixels pixels
// (a whole small window), at least one row; bandRows is at most dstHeight.
constexpr int32_t kBandPixels = 64 * 1024;
int32_t bandRows(int32_t dstWidth, int32_t dstHeight);

// The stretch of `area` (window pixels, within dstWidth x dstHeight) written into band, which holds the
// window's rows from area.y on, dstWidth pixels each; every pixel equals the one stretchNearest writes. Holds
// the picture's pixelsLock (when it has one) while it reads the pixels.
void stretchBand(const Picture& picture, uint32_t* band, int32_t dstWidth, int32_t dstHeight,
                 const Rect& area);

// Calls draw(band) for the bands of `area`, `rows` rows each (the last one less), top to bottom; stops at
// the first that returns false and returns false then.
template <typename Draw>
bool forEachBand(const Rect& area, int32_t rows, Draw draw) {
    if (rows <= 0) return false;
    const int64_t bottom = int64_t{area.y} + area.height;
    for (int64_t y = area.y; y < bottom; y += rows) {
        const Rect band{area.x, static_cast<int32_t>(y), area.width,
                        static_cast<int32_t>(std::min<int64_t>(rows, bottom - y))};
        if (!draw(band)) return false;
    }
    return true;
}

// The smallest rectangle of a dstWidth x dstHeight stretch of a sourceWidth x sourceHeight picture that holds
// every pixel taken from `source` (picture pixels, clipped to the picture); empty when the stretch drops
// all of its rows or columns.
Rect stretchedArea(const Rect& source, int32_t sourceWidth, int32_t sourceHeight, int32_t dstWidth,
                   int32_t dstHeight);

// Sizes a window image to pixels words. The memory is given back when the image needs less than half of
// what it holds, so a window that shrank a lot does not keep the image of its largest size.
void sizeImage(std::vector<uint32_t>& image, size_t pixels);

}  // namespace platform
