#include "codec/changedruns.h"

#include <algorithm>

#include "codec/workerpool.h"

namespace zrc {

void ChangedRuns::find(const uint8_t* map, uint32_t mapsize) {
    runs_.clear();
    before_.clear();
    before_.push_back(0);
    for (uint32_t b = nextChanged(map, 0, mapsize); b < mapsize; b = nextChanged(map, b, mapsize)) {
        const uint32_t begin = b;
        b = nextUnchanged(map, b, mapsize);
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
