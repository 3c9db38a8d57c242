#ifndef CODEC_COEFFICIENTS_H
#define CODEC_COEFFICIENTS_H

#include <cstddef>
#include <cstdint>

namespace zrc {

// Bytes of one block across the three planes: 3 * edge^2 for 4:4:4, edge^2 * 3 / 2 for 4:2:0.
size_t pictureBlockBytes(int matrix, bool chroma420);

// Stores (replace) or XORs (xor_mode) the coded blocks of a differential section into the coefficient
// planes: for each plane, the blocks whose map entry is not 0 in block order, each taken from that plane's
// cursor, the cursors of the second and third planes starting after predictions blocks of the earlier
// planes. The caller guarantees the section holds predictions * pictureBlockBytes bytes and that no more than
// predictions entries are set. Returns the plane bytes, or 0 for an edge it does not know.
size_t applyCodedBlocks(const uint8_t* section, uint8_t* planes, const uint8_t* map, uint32_t mapsize,
                        uint32_t predictions, int matrix, size_t padded_pixels, bool chroma420,
                        bool xor_mode);

}  // namespace zrc

#endif
