#include "codec/changedruns.h"

#include <algorithm>
#include <cstring>

#include "codec/workerpool.h"

namespace zrc {

void ChangedRuns::find(const uint8_t* map, uint32_t mapsize) {
    runs_.clear();
    before_.clear();
    before_.push_back(0);
    uint32_t b = 0;
    while (b < mapsize) {
        // Unchanged blocks eight at a time: most of a relative frame's map.
        uint64_t eight;
        while (b + 8 <= mapsize && (std::memcpy(&eight, map + b, 8), eight == 0))
            b += 8;
        while (b < mapsize && map[b] == 0)
            ++b;
        if (b == mapsize) break;
        const uint32_t begin = b;
        while (b + 8 <= mapsize && (std::memcpy(&eight, map + b, 8),
                                    ((eight - 0x0101010101010101ull) & ~eight & 0x8080808080808080ull) == 0))
            b += 8;
        while (b < mapsize && map[b] != 0)
            ++b;
        runs_.push_back(Run{begin, b});
        before_.push_back(before_.back() + (b - begin));
    }
}

void ChangedRuns::forEach(bool multicore, const Range& body) const {
    // The pool splits the changed blocks counted in run order; each share maps back onto the runs it covers.
    WorkerPool::instance().run(changedBlocks(), multicore, [&](uint32_t first, uint32_t last) {
        size_t i =
            static_cast<size_t>(std::upper_bound(before_.begin(), before_.end(), first) - before_.begin()) -
            1;
        for (; i < runs_.size() && before_[i] < last; ++i) {
            const uint32_t from = runs_[i].begin + (std::max(first, before_[i]) - before_[i]);
            const uint32_t to = runs_[i].begin + (std::min(last, before_[i + 1]) - before_[i]);
            body(from, to);
        }
    });
}

}  // namespace zrc
