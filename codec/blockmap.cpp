#include "codec/blockmap.h"

#include <cstring>

namespace zrc {

namespace {

// The four 2-bit entries of each packed byte, one per byte, lowest first.
struct EntryTable {
    uint8_t entries[256][4];
    constexpr EntryTable() : entries() {
        for (int v = 0; v < 256; ++v)
            for (int k = 0; k < 4; ++k)
                entries[v][k] = static_cast<uint8_t>((v >> (2 * k)) & 3);
    }
};
constexpr EntryTable kEntries;

}  // namespace

size_t expandBlockMap(const uint8_t* packed, uint32_t mapsize, uint8_t* map) {
    // Whole words a byte at a time through the table (a little-endian word's bytes hold its entries in
    // order), then the last group entry by entry.
    uint32_t start = 0;
    for (; start + 16 <= mapsize; start += 16) {
        for (uint32_t k = 0; k < 4; ++k) {
            std::memcpy(map + start + 4 * k, kEntries.entries[packed[start / 4 + k]], 4);
        }
    }
    for (; start < mapsize; start += 16) {
        uint32_t word;
        std::memcpy(&word, packed + start / 4, 4);
        const uint32_t count = mapsize - start < 16 ? mapsize - start : 16;
        for (uint32_t k = 0; k < count; ++k)
            map[start + k] = static_cast<uint8_t>((word >> (2 * k)) & 3);
    }
    return mapsize / 4;
}

void packBlockMap(const uint8_t* map, uint32_t mapsize, uint8_t* packed) {
    for (uint32_t start = 0; start < mapsize; start += 16) {
        uint32_t word = 0;
        for (uint32_t k = 0; k < 16 && start + k < mapsize; ++k)
            word |= static_cast<uint32_t>(map[start + k] & 3) << (2 * k);
        std::memcpy(packed + start / 4, &word, 4);
    }
}

}  // namespace zrc
