// Turning a picture of 4-byte pixels by a multiple of 90 degrees.
#pragma once

#include <cstdint>

// 0, 90, 180 or 270 for any angle: a multiple of 90 (taken modulo 360, negative angles turn the other way);
// anything else is 0.
int32_t normalizeRotation(int32_t angle);

// Size of a width x height picture once turned by angle (0, 90, 180 or 270).
void rotatedSize(int32_t angle, int32_t width, int32_t height, int32_t* outWidth, int32_t* outHeight);

// Turns src (width x height pixels of 4 bytes, srcStride bytes per row) clockwise by angle into dst, whose
// rows are packed (rotatedSize pixels, 4 bytes each). src and dst must not overlap.
void rotatePixels(const uint8_t* src, int32_t width, int32_t height, int32_t srcStride, int32_t angle,
                  uint8_t* dst);
