#ifndef CODEC_BLOCKMAP_H
#define CODEC_BLOCKMAP_H

#include <cstddef>
#include <cstdint>

namespace zrc {

// The block map: one 2-bit entry per block, 16 to a little-endian word, first entry in the lowest bits.

// Expands mapsize entries into one byte each. Reads whole words: up to 3 bytes past mapsize / 4 when
// mapsize is not a multiple of 16. Returns mapsize / 4.
size_t expandBlockMap(const uint8_t* packed, uint32_t mapsize, uint8_t* map);

// Packs mapsize entries (0..3) into whole words: (mapsize + 15) / 16 * 4 bytes.
void packBlockMap(const uint8_t* map, uint32_t mapsize, uint8_t* packed);

}  // namespace zrc

#endif
