// The block map and the walks over its changed blocks: expansion, runs of changed blocks, and the coded
// blocks of relative frames stored along those runs.
#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <vector>

#include "codec/blockmap.h"
#include "codec/changedruns.h"
#include "codec/coefficients.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Maps of many sizes whose entries are changed with the given percentage, so that runs and gaps start and
// end at every offset of the eight-entry steps.
std::vector<Bytes> randomMaps() {
    std::mt19937 rng(17);
    std::vector<Bytes> maps;
    for (uint32_t size : {0u, 1u, 7u, 8u, 9u, 16u, 17u, 63u, 64u, 65u, 200u, 1031u}) {
        for (uint32_t percent : {0u, 3u, 50u, 97u, 100u}) {
            Bytes map(size);
            for (uint8_t& m : map)
                m = rng() % 100 < percent ? static_cast<uint8_t>(1 + rng() % 3) : 0;
            maps.push_back(map);
        }
    }
    return maps;
}

TEST(ChangedBlocks, MapExpandsToWhatWasPacked) {
    for (const Bytes& map : randomMaps()) {
        Bytes packed((map.size() + 15) / 16 * 4 + 4, 0xEE);
        zrc::packBlockMap(map.data(), static_cast<uint32_t>(map.size()), packed.data());
        Bytes expanded(map.size() + 1, 0x55);
        EXPECT_EQ(zrc::expandBlockMap(packed.data(), static_cast<uint32_t>(map.size()), expanded.data()),
                  map.size() / 4);
        EXPECT_EQ(Bytes(expanded.begin(), expanded.end() - 1), map);
        EXPECT_EQ(expanded.back(), 0x55) << "nothing past mapsize is written";
    }
}

TEST(ChangedBlocks, RunsCoverEveryChangedBlockOnce) {
    zrc::ChangedRuns runs;
    for (const Bytes& map : randomMaps()) {
        const uint32_t size = static_cast<uint32_t>(map.size());
        runs.find(map.data(), size);
        uint32_t changed = 0;
        for (uint8_t m : map)
            changed += m != 0;
        EXPECT_EQ(runs.changedBlocks(), changed);
        for (bool multicore : {false, true}) {
            std::mutex mutex;
            Bytes visits(size, 0);
            runs.forEach(multicore, [&](uint32_t begin, uint32_t end) {
                std::lock_guard<std::mutex> lock(mutex);
                ASSERT_LE(begin, end);
                ASSERT_LE(end, size);
                for (uint32_t b = begin; b < end; ++b)
                    ++visits[b];
            });
            for (uint32_t b = 0; b < size; ++b)
                ASSERT_EQ(visits[b], map[b] != 0 ? 1 : 0) << "block " << b << " of " << size;
        }
    }
}

TEST(ChangedBlocks, CodedBlocksLandInTheirBlocks) {
    // Edge 8 with 4:2:0 colour: 64 luma and 16 + 16 colour bytes a block. Each coded block's bytes name the
    // block and plane, so a block stored in the wrong place shows.
    for (const Bytes& map : randomMaps()) {
        const uint32_t size = static_cast<uint32_t>(map.size());
        const size_t pp = static_cast<size_t>(size) * 64;
        uint32_t coded = 0;
        for (uint8_t m : map)
            coded += m != 0;
        const size_t bytes[3] = {64, 16, 16};
        const size_t offsets[3] = {0, pp, pp * 5 / 4};
        Bytes section;
        for (int plane = 0; plane < 3; ++plane)
            for (uint32_t b = 0; b < size; ++b)
                if (map[b] != 0)
                    section.insert(section.end(), bytes[plane], static_cast<uint8_t>(b * 3 + plane));
        for (bool xor_mode : {false, true}) {
            Bytes planes(pp * 3 / 2, 0x0F);
            zrc::applyCodedBlocks(section.data(), planes.data(), map.data(), size, coded, 8, pp, true,
                                  xor_mode);
            for (int plane = 0; plane < 3; ++plane) {
                for (uint32_t b = 0; b < size; ++b) {
                    const uint8_t value = static_cast<uint8_t>(b * 3 + plane);
                    const uint8_t expected = map[b] == 0 ? 0x0F : xor_mode ? value ^ 0x0F : value;
                    for (size_t k = 0; k < bytes[plane]; ++k)
                        ASSERT_EQ(planes[offsets[plane] + b * bytes[plane] + k], expected)
                            << "plane " << plane << " block " << b << " of " << size;
                }
            }
        }
    }
}

}  // namespace
