#ifndef CODEC_PICTURELAYOUT_H
#define CODEC_PICTURELAYOUT_H

#include <cstddef>
#include <cstdint>

namespace zrc {

// Where the three planes of a padded picture lie in a buffer in block order: 4:4:4 is three full planes of
// edge matrix, 4:2:0 a full luma plane and two quarter planes of edge matrix / 2. Every plane has one block
// per block of the map, so all three share the map's columns and rows.
struct PictureLayout {
    int columns;  // blocks per row
    int rows;     // block rows
    int edges[3];
    size_t offsets[3];
    size_t bytes;  // all three planes

    static PictureLayout of(int matrix, int padded_width, int padded_height, bool chroma420) {
        const size_t pixels = static_cast<size_t>(padded_width) * static_cast<size_t>(padded_height);
        const int colour = chroma420 ? matrix / 2 : matrix;
        return PictureLayout{padded_width / matrix,
                             padded_height / matrix,
                             {matrix, colour, colour},
                             {0, pixels, chroma420 ? pixels * 5 / 4 : 2 * pixels},
                             chroma420 ? pixels * 3 / 2 : pixels * 3};
    }
    // The same blocks at 1 / (1 << shift) of the size: every edge shifted, but never below one sample.
    PictureLayout scaled(int shift) const {
        PictureLayout s = *this;
        size_t at = 0;
        for (int plane = 0; plane < 3; ++plane) {
            s.edges[plane] = edges[plane] >> shift > 0 ? edges[plane] >> shift : 1;
            s.offsets[plane] = at;
            at += blocks() * s.blockBytes(plane);
        }
        s.bytes = at;
        return s;
    }
    uint32_t blocks() const { return static_cast<uint32_t>(columns) * static_cast<uint32_t>(rows); }
    size_t blockBytes(int plane) const { return static_cast<size_t>(edges[plane]) * edges[plane]; }
};

}  // namespace zrc

#endif
