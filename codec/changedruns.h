#ifndef CODEC_CHANGEDRUNS_H
#define CODEC_CHANGEDRUNS_H

#include <cstdint>
#include <functional>
#include <vector>

namespace zrc {

// The runs of consecutive changed blocks (map entry not 0) of one frame's block map, found in one pass, so
// that the decoding stages visit changed blocks only: a relative frame that changes a few percent of the
// picture then costs little more than those blocks.
class ChangedRuns {
public:
    using Range = std::function<void(uint32_t begin, uint32_t end)>;

    // Finds the runs of map[0, mapsize). Allocates only when the map is larger than any before.
    void find(const uint8_t* map, uint32_t mapsize);

    uint32_t changedBlocks() const { return runs_.empty() ? 0 : before_.back(); }

    // Calls body on block ranges that together cover every changed block once, on every core when multicore
    // is set, and returns when all are done.
    void forEach(bool multicore, const Range& body) const;

private:
    struct Run {
        uint32_t begin;
        uint32_t end;
    };
    std::vector<Run> runs_;
    std::vector<uint32_t> before_;  // before_[i]: changed blocks in runs_[0, i); one more entry: the total
};

}  // namespace zrc

#endif
