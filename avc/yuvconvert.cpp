#include "avc/yuvconvert.h"

#include <algorithm>
#include <cstddef>

namespace {

uint8_t clampByte(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// The conversion at dstWidth x dstHeight, pixel (x, row) written at origin + row * rowStep + x * pixelStep
// bytes; pixelStep is 4 for an upright picture, where it is a constant the compiler sees.
template <bool kUpright>
void convertPlaced(const Yuv420View& picture, uint8_t* origin, int32_t dstWidth, int32_t dstHeight,
                   ptrdiff_t rowStep, ptrdiff_t pixelStep) {
    // Fixed point with 16 fraction bits: 1.164 (Y - 16), 1.596 V, 0.391 U + 0.813 V, 2.018 U.
    constexpr int32_t kY = 76309, kRv = 104597, kGu = 25675, kGv = 53279, kBu = 132201;
    constexpr int32_t kRound = 1 << 15;
    if (dstWidth < 1 || dstHeight < 1 || picture.width < 1 || picture.height < 1) return;
    const ptrdiff_t step = kUpright ? 4 : pixelStep;
    for (int32_t row = 0; row < dstHeight; ++row) {
        const int32_t srcRow = static_cast<int32_t>(static_cast<int64_t>(row) * picture.height / dstHeight);
        const uint8_t* y = picture.y + static_cast<ptrdiff_t>(srcRow) * picture.yStride;
        const ptrdiff_t chromaRow = static_cast<ptrdiff_t>(srcRow / 2) * picture.chromaStride;
        const uint8_t* u = picture.u + chromaRow;
        const uint8_t* v = picture.v + chromaRow;
        uint8_t* out = origin + static_cast<ptrdiff_t>(row) * rowStep;
        for (int32_t x = 0; x < dstWidth; ++x) {
            const int32_t srcX = static_cast<int32_t>(static_cast<int64_t>(x) * picture.width / dstWidth);
            const ptrdiff_t c = static_cast<ptrdiff_t>(srcX / 2) * picture.chromaStep;
            const int32_t luma = (y[srcX] - 16) * kY + kRound;
            const int32_t cb = u[c] - 128, cr = v[c] - 128;
            uint8_t* pixel = out + x * step;
            pixel[0] = clampByte((luma + kBu * cb) >> 16);
            pixel[1] = clampByte((luma - kGu * cb - kGv * cr) >> 16);
            pixel[2] = clampByte((luma + kRv * cr) >> 16);
            pixel[3] = 0;
        }
    }
}

}  // namespace

void yuv420ToBgrx(const Yuv420View& picture, uint8_t* dst, int32_t dstStride) {
    yuv420ToBgrxScaled(picture, dst, picture.width, picture.height, dstStride);
}

void yuv420ToBgrxScaled(const Yuv420View& picture, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                        int32_t dstStride) {
    convertPlaced<true>(picture, dst, dstWidth, dstHeight, dstStride, 4);
}

void yuv420ToBgrxTurned(const Yuv420View& picture, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                        int32_t angle) {
    if (dstWidth < 1 || dstHeight < 1) return;
    // Pixel (x, y) of the upright conversion lands at (x', y') of the turned picture, whose rows are
    // dstHeight pixels long for 90 and 270 (clockwise 90: x' = dstHeight - 1 - y, y' = x).
    const ptrdiff_t w = dstWidth, h = dstHeight;
    switch (angle) {
        case 90:
            convertPlaced<false>(picture, dst + (h - 1) * 4, dstWidth, dstHeight, -4, h * 4);
            break;
        case 180:
            convertPlaced<false>(picture, dst + ((h - 1) * w + w - 1) * 4, dstWidth, dstHeight, -w * 4, -4);
            break;
        case 270:
            convertPlaced<false>(picture, dst + (w - 1) * h * 4, dstWidth, dstHeight, 4, -h * 4);
            break;
        default:
            convertPlaced<true>(picture, dst, dstWidth, dstHeight, w * 4, 4);
            break;
    }
}
