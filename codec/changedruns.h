#ifndef CODEC_CHANGEDRUNS_H
#define CODEC_CHANGEDRUNS_H

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace zrc {

// The first block at or after b whose map entry is not 0 (mapsize when none is), eight entries at a time
// through unchanged stretches.
inline uint32_t nextChanged(const uint8_t* map, uint32_t b, uint32_t mapsize) {
    uint64_t eight;
    while (b + 8 <= mapsize && (std::memcpy(&eight, map + b, 8), eight == 0))
        b += 8;
    while (b < mapsize && map[b] == 0)
        ++b;
    return b;
}

// The first block at or after b whose map entry is 0 (mapsize when none is).
inline uint32_t nextUnchanged(const uint8_t* map, uint32_t b, uint32_t mapsize) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    uint64_t eight;
    while (b + 8 <= mapsize && (std::memcpy(&eight, map + b, 8), ((eight - kOnes) & ~eight & kHighs) == 0))
        b += 8;
    while (b < mapsize && map[b] != 0)
        ++b;
    return b;
}

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
