// 4:2:0 pictures (NV12, I420, YV12 as decoders hand them out) to 4-byte B, G, R, unused pixels.
#pragma once

#include <cstdint>

// One decoded 4:2:0 picture as it lies in the decoder's buffer. Chroma samples of a row are chromaStep bytes
// apart: 2 for NV12 (u and v interleaved, v = u + 1), 1 for planar layouts.
struct Yuv420View {
    const uint8_t* y;
    int32_t yStride;
    const uint8_t* u;
    const uint8_t* v;
    int32_t chromaStride;
    int32_t chromaStep;
    int32_t width;
    int32_t height;
};

// Converts with the BT.601 studio-range matrix (what H.264 streams carry unless they say otherwise) into
// dst, width x height pixels of bytes B, G, R, 0 with dstStride bytes per row. Odd sizes are fine: the last
// chroma sample covers the last column and row.
void yuv420ToBgrx(const Yuv420View& picture, uint8_t* dst, int32_t dstStride);
// The same into dstWidth x dstHeight pixels, the picture's rows and columns repeated or dropped as a
// nearest-neighbour stretch would (pixel x takes column x * width / dstWidth): a window shown smaller than
// the picture costs the conversion of its own pixels only. At the picture's own size it equals
// yuv420ToBgrx.
void yuv420ToBgrxScaled(const Yuv420View& picture, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                        int32_t dstStride);
// The same conversion at dstWidth x dstHeight, turned clockwise by angle (0, 90, 180 or 270) as it is
// written: dst holds the turned picture (rotatedSize pixels, rows packed), exactly what turning the upright
// conversion gives, without a second picture in between.
void yuv420ToBgrxTurned(const Yuv420View& picture, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                        int32_t angle);
