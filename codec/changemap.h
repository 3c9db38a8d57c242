#ifndef CODEC_CHANGEMAP_H
#define CODEC_CHANGEMAP_H

#include <cstddef>
#include <cstdint>

namespace zrc {

// Change detection of the encoder. Compares `image` with `previous` (both rows of width pixels of
// pixel_bytes each) block by block, copies the changed pixels into `previous`, and rewrites each block's
// map entry from its count of changed pixels and its entry of the previous frame:
//   3 when at least half of the block's pixels changed,
//   1 when fewer changed, or none changed but the previous entry was 2 or 3 (a coarse block is sent once
//     more at the finest quality before it drops out),
//   0 when none changed and the previous entry was 0 or 1.
// A block in the last column or row counts only its pixels inside the picture, and "half" is half of those,
// so a strip that changed completely is treated like a whole block that did. Returns the blocks whose entry
// is not 0.
uint32_t detectChanges(const uint8_t* image, uint8_t* previous, uint8_t* map, uint32_t mapsize, int matrix,
                       int width, int height, int pixel_bytes, bool multicore);

}  // namespace zrc

#endif
