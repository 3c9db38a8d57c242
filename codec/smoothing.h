#ifndef CODEC_SMOOTHING_H
#define CODEC_SMOOTHING_H

#include <cstddef>
#include <cstdint>

#include "codec/picturelayout.h"

namespace zrc {

// Softens the edges of the changed blocks against their neighbours. Copies every changed block from `in` to
// `out` (both in block order), then, for changed blocks off the picture border, replaces each edge sample by
// the average with its neighbour across the edge when they differ by less than 32 (mark_edges: 127 for such
// a pair, 255 for a larger difference, unchanged when equal). Copies the time map to the space map. Returns
// the plane bytes, or 0 for a matrix it does not know.
size_t smoothPicture(const uint8_t* in, uint8_t* out, const uint8_t* time_map, uint8_t* space_map,
                     uint32_t mapsize, int matrix, int padded_width, int padded_height, bool chroma420,
                     bool mark_edges, bool multicore);

// The same for the changed blocks [begin, end) of one plane, on the calling thread; the blocks around them
// must already be in `in`. The space map is left to the caller.
void smoothBlocks(const PictureLayout& layout, int plane, const uint8_t* in, uint8_t* out,
                  const uint8_t* time_map, uint32_t begin, uint32_t end, bool mark_edges);

// The same with the smoothed blocks written elsewhere than `in`'s layout: block b of [begin, end) to
// out_plane + (b - first) * the plane's block bytes (first <= begin), so that a band of blocks can be
// smoothed into a buffer of its own size and converted from there.
void smoothBlocksInto(const PictureLayout& layout, int plane, const uint8_t* in, uint8_t* out_plane,
                      uint32_t first, const uint8_t* time_map, uint32_t begin, uint32_t end, bool mark_edges);

}  // namespace zrc

#endif
