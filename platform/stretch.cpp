#include "platform/stretch.h"

#include <algorithm>
#include <vector>

namespace platform {

void stretchNearest(const Picture& picture, uint32_t* dst, int32_t dstWidth, int32_t dstHeight) {
    if (dstWidth <= 0 || dstHeight <= 0) return;
    const size_t dstPixels = static_cast<size_t>(dstWidth) * static_cast<size_t>(dstHeight);
    const size_t srcPixels = static_cast<size_t>(std::max(picture.width, 0)) * std::max(picture.height, 0);
    if (srcPixels == 0 || picture.pixels.size() / 4 < srcPixels) {
        std::fill(dst, dst + dstPixels, 0u);
        return;
    }
    const bool bgrx = picture.format == PixelFormat::Bgrx;
    // Source column of each destination column, computed once per paint.
    std::vector<uint32_t> columns(static_cast<size_t>(dstWidth));
    for (int32_t x = 0; x < dstWidth; ++x) {
        columns[x] = static_cast<uint32_t>(static_cast<uint64_t>(x) * picture.width / dstWidth);
    }
    for (int32_t y = 0; y < dstHeight; ++y) {
        const size_t srcY = static_cast<uint64_t>(y) * picture.height / dstHeight;
        const uint8_t* row = picture.pixels.data() + srcY * picture.width * 4;
        uint32_t* out = dst + static_cast<size_t>(y) * dstWidth;
        for (int32_t x = 0; x < dstWidth; ++x) {
            const uint8_t* p = row + columns[x] * 4;
            const uint32_t red = bgrx ? p[2] : p[0];
            const uint32_t blue = bgrx ? p[0] : p[2];
            out[x] = (red << 16) | (uint32_t{p[1]} << 8) | blue;
        }
    }
}

}  // namespace platform
