#include "avc/rotation.h"

#include <cstring>

int32_t normalizeRotation(int32_t angle) {
    if (angle % 90 != 0) return 0;
    int32_t turned = angle % 360;
    return turned < 0 ? turned + 360 : turned;
}

void rotatedSize(int32_t angle, int32_t width, int32_t height, int32_t* outWidth, int32_t* outHeight) {
    const bool swap = angle == 90 || angle == 270;
    *outWidth = swap ? height : width;
    *outHeight = swap ? width : height;
}

void rotatePixels(const uint8_t* src, int32_t width, int32_t height, int32_t srcStride, int32_t angle,
                  uint8_t* dst) {
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    if (angle == 0) {
        for (int32_t y = 0; y < height; ++y)
            memcpy(dst + y * rowBytes, src + static_cast<size_t>(y) * srcStride, rowBytes);
        return;
    }
    int32_t outWidth = 0, outHeight = 0;
    rotatedSize(angle, width, height, &outWidth, &outHeight);
    auto* out = reinterpret_cast<uint32_t*>(dst);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = src + static_cast<size_t>(y) * srcStride;
        for (int32_t x = 0; x < width; ++x) {
            int32_t ox = x, oy = y;
            if (angle == 90) {
                ox = height - 1 - y;
                oy = x;
            } else if (angle == 180) {
                ox = width - 1 - x;
                oy = height - 1 - y;
            } else if (angle == 270) {
                ox = y;
                oy = width - 1 - x;
            }
            memcpy(out + static_cast<size_t>(oy) * outWidth + ox, row + static_cast<size_t>(x) * 4, 4);
        }
    }
}
