// Which blocks changed since the previous image. Rows are compared whole first: on a screen most rows of
// most blocks are unchanged, and memcmp settles those at memory speed.
#include "codec/changemap.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "codec/workerpool.h"

namespace zrc {
namespace {

// Changed pixels of one row segment; copies the segment into `previous` when any changed.
int compareRow(const uint8_t* now, uint8_t* previous, int pixels, int pixel_bytes) {
    const size_t bytes = static_cast<size_t>(pixels) * static_cast<size_t>(pixel_bytes);
    if (std::memcmp(now, previous, bytes) == 0) return 0;
    int changed = 0;
    for (int x = 0; x < pixels; ++x) {
        const size_t at = static_cast<size_t>(x) * static_cast<size_t>(pixel_bytes);
        changed += std::memcmp(now + at, previous + at, static_cast<size_t>(pixel_bytes)) != 0;
    }
    std::memcpy(previous, now, bytes);
    return changed;
}

}  // namespace

uint32_t detectChanges(const uint8_t* image, uint8_t* previous, uint8_t* map, uint32_t mapsize, int matrix,
                       int width, int height, int pixel_bytes, bool multicore) {
    const int columns = (width + matrix - 1) / matrix;
    const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(pixel_bytes);
    std::atomic<uint32_t> coded{0};
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        uint32_t local = 0;
        for (uint32_t b = begin; b < end; ++b) {
            const int x0 = static_cast<int>(b % static_cast<uint32_t>(columns)) * matrix;
            const int y0 = static_cast<int>(b / static_cast<uint32_t>(columns)) * matrix;
            const int w = std::min(matrix, width - x0);
            const int h = std::min(matrix, height - y0);
            int changed = 0;
            for (int y = y0; y < y0 + h; ++y) {
                const size_t at = static_cast<size_t>(y) * stride + static_cast<size_t>(x0 * pixel_bytes);
                changed += compareRow(image + at, previous + at, w, pixel_bytes);
            }
            uint8_t entry;
            if (2 * changed >= w * h && changed > 0) {
                entry = 3;
            } else if (changed > 0 || map[b] >= 2) {
                entry = 1;
            } else {
                entry = 0;
            }
            map[b] = entry;
            local += entry != 0;
        }
        coded += local;
    });
    return coded.load();
}

}  // namespace zrc
