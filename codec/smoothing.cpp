// Block-edge smoothing over planes in block order.
#include "codec/smoothing.h"

#include <cstdlib>
#include <cstring>

#include "codec/workerpool.h"

namespace zrc {
namespace {

struct Plane {
    const uint8_t* in;
    uint8_t* out;
    int edge;
    int columns;  // blocks per row
    int rows;     // block rows
};

uint8_t smoothed(uint8_t a, uint8_t b, bool mark_edges) {
    const int difference = std::abs(static_cast<int>(a) - static_cast<int>(b));
    if (mark_edges) return a == b ? a : difference < 32 ? 127 : 255;
    return difference < 32 ? static_cast<uint8_t>((a + b) >> 1) : a;
}

void smoothBlock(const Plane& p, uint32_t b, bool mark_edges) {
    const size_t bytes = static_cast<size_t>(p.edge) * static_cast<size_t>(p.edge);
    const uint8_t* in = p.in + b * bytes;
    uint8_t* out = p.out + b * bytes;
    std::memcpy(out, in, bytes);
    const int bx = static_cast<int>(b % static_cast<uint32_t>(p.columns));
    const int by = static_cast<int>(b / static_cast<uint32_t>(p.columns));
    if (bx == 0 || by == 0 || bx == p.columns - 1 || by == p.rows - 1) return;
    const int e = p.edge;
    const uint8_t* above = in - static_cast<size_t>(p.columns) * bytes;
    const uint8_t* below = in + static_cast<size_t>(p.columns) * bytes;
    const uint8_t* left = in - bytes;
    const uint8_t* right = in + bytes;
    for (int j = 0; j < e; ++j)
        out[j] = smoothed(in[j], above[(e - 1) * e + j], mark_edges);
    for (int i = 0; i < e; ++i) {
        out[i * e] = smoothed(in[i * e], left[i * e + e - 1], mark_edges);
        out[i * e + e - 1] = smoothed(in[i * e + e - 1], right[i * e], mark_edges);
    }
    for (int j = 0; j < e; ++j)
        out[(e - 1) * e + j] = smoothed(in[(e - 1) * e + j], below[j], mark_edges);
}

}  // namespace

size_t smoothPicture(const uint8_t* in, uint8_t* out, const uint8_t* time_map, uint8_t* space_map,
                     uint32_t mapsize, int matrix, int padded_width, int padded_height, bool chroma420,
                     bool mark_edges, bool multicore) {
    if (matrix != 8 && matrix != 16 && matrix != 32) return 0;
    const size_t padded_pixels = static_cast<size_t>(padded_width) * static_cast<size_t>(padded_height);
    const int columns = padded_width / matrix;
    const int rows = padded_height / matrix;
    const int colour_edge = chroma420 ? matrix / 2 : matrix;
    const size_t offsets[3] = {0, padded_pixels, chroma420 ? padded_pixels * 5 / 4 : 2 * padded_pixels};
    Plane planes[3];
    for (int i = 0; i < 3; ++i) {
        planes[i] = Plane{in + offsets[i], out + offsets[i], i == 0 ? matrix : colour_edge, columns, rows};
    }
    std::memcpy(space_map, time_map, mapsize);
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        for (const Plane& plane : planes) {
            for (uint32_t b = begin; b < end; ++b) {
                if (time_map[b] != 0) smoothBlock(plane, b, mark_edges);
            }
        }
    });
    return chroma420 ? padded_pixels * 3 / 2 : padded_pixels * 3;
}

}  // namespace zrc
