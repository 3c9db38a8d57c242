// Nearest-neighbour stretch of a picture onto a window-sized pixel buffer.
#pragma once

#include <cstdint>

#include "platform/window.h"

namespace platform {

// Fills dst (dstWidth x dstHeight pixels, 0x00RRGGBB each, rows top to bottom) with the picture stretched
// to that size, rows and columns repeated or dropped, never blended. A picture whose pixel buffer is smaller
// than its size says, or an empty picture, leaves dst black.
void stretchNearest(const Picture& picture, uint32_t* dst, int32_t dstWidth, int32_t dstHeight);

}  // namespace platform
