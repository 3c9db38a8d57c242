// Coded blocks of replace and xor frames into the kept coefficient planes.
#include "codec/coefficients.h"

#include <cstring>

#include "codec/changedruns.h"

namespace zrc {

size_t pictureBlockBytes(int matrix, bool chroma420) {
    const size_t luma = static_cast<size_t>(matrix) * static_cast<size_t>(matrix);
    return chroma420 ? luma * 3 / 2 : luma * 3;
}

size_t applyCodedBlocks(const uint8_t* section, uint8_t* planes, const uint8_t* map, uint32_t mapsize,
                        uint32_t predictions, int matrix, size_t padded_pixels, bool chroma420,
                        bool xor_mode) {
    if (matrix != 8 && matrix != 16 && matrix != 32 && !(matrix == 4 && !chroma420)) return 0;
    const size_t luma = static_cast<size_t>(matrix) * static_cast<size_t>(matrix);
    const size_t colour = chroma420 ? luma / 4 : luma;
    const size_t block_bytes[3] = {luma, colour, colour};
    const size_t offsets[3] = {0, padded_pixels, chroma420 ? padded_pixels * 5 / 4 : 2 * padded_pixels};
    const uint8_t* cursor[3] = {section, section + predictions * luma,
                                section + predictions * (luma + colour)};
    // A run of consecutive coded blocks is one stretch of each plane and of each plane's part of the section.
    for (uint32_t b = nextChanged(map, 0, mapsize); b < mapsize; b = nextChanged(map, b, mapsize)) {
        const uint32_t begin = b;
        b = nextUnchanged(map, b, mapsize);
        for (int plane = 0; plane < 3; ++plane) {
            const size_t n = block_bytes[plane] * (b - begin);
            uint8_t* target = planes + offsets[plane] + begin * block_bytes[plane];
            if (xor_mode) {
                for (size_t k = 0; k < n; ++k)
                    target[k] ^= cursor[plane][k];
            } else {
                std::memcpy(target, cursor[plane], n);
            }
            cursor[plane] += n;
        }
    }
    return chroma420 ? padded_pixels * 3 / 2 : padded_pixels * 3;
}

}  // namespace zrc
