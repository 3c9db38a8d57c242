#include "codec/overlappeddecode.h"

#include <algorithm>
#include <cstring>

#include "codec/blockmap.h"
#include "codec/workerpool.h"

namespace zrc {
namespace {

// Blocks until the unpacker has made `need` bytes final or failed; returns false when it failed.
bool awaitBytes(UnpackProgress& progress, size_t need) {
    size_t seen = progress.done.load(std::memory_order_acquire);
    while (seen < need && seen != kUnpackFailed) {
        progress.done.wait(seen, std::memory_order_acquire);
        seen = progress.done.load(std::memory_order_acquire);
    }
    return seen != kUnpackFailed;
}

// Luma block rows the pool thread finished while the caller unpacked.
struct LumaRows {
    uint32_t transformed = 0;
    uint32_t smoothed = 0;
};

// The pool thread's part while the caller unpacks: the map, then the luma plane row by row as it arrives,
// each row smoothed once the row below it is decoded. Once the whole payload is there it stops, so that both
// threads share the rest.
void decodeLumaRows(const FrameStages& s, const uint8_t* payload, size_t expected, UnpackProgress& progress,
                    LumaRows& done) {
    const size_t map_bytes = s.mapsize / 4;
    // expandBlockMap reads whole words, which may reach into the section.
    const size_t map_words = (static_cast<size_t>(s.mapsize) + 15) / 16 * 4;
    if (!awaitBytes(progress, map_words)) return;
    expandBlockMap(payload, s.mapsize, s.time_map);
    const uint8_t* section = payload + map_bytes;
    const uint32_t columns = static_cast<uint32_t>(s.layout.columns);
    const uint32_t rows = static_cast<uint32_t>(s.layout.rows);
    const size_t row_bytes = columns * s.layout.blockBytes(0);
    for (uint32_t row = 0; row < rows; ++row) {
        if (!awaitBytes(progress, map_bytes + (row + 1) * row_bytes)) return;
        if (row > 0 && progress.done.load(std::memory_order_acquire) == expected) return;
        s.transform(0, section, row * columns, (row + 1) * columns);
        done.transformed = row + 1;
        if (s.smooth_target != nullptr && row > 0) {
            s.smooth(0, (row - 1) * columns, row * columns);
            done.smoothed = row;
        }
    }
    if (s.smooth_target != nullptr) {
        s.smooth(0, (rows - 1) * columns, rows * columns);
        done.smoothed = rows;
    }
}

}  // namespace

bool overlapPays(uint32_t mapsize) {
    return WorkerPool::instance().hasThreads() && mapsize >= 1024;
}

long decodeOverlapped(const FrameStages& s, uint8_t* payload, size_t expected,
                      const std::function<long(UnpackProgress*)>& unpack) {
    WorkerPool& pool = WorkerPool::instance();
    UnpackProgress progress;
    LumaRows luma;  // written by the pool thread until finishPosted()
    const auto luma_rows = [&] { decodeLumaRows(s, payload, expected, progress, luma); };
    const bool posted = pool.tryPost(luma_rows);
    const long produced = unpack(&progress);
    // Whatever the unpacker published last, the luma rows must learn the outcome.
    progress.done.store(produced == static_cast<long>(expected) ? expected : kUnpackFailed,
                        std::memory_order_release);
    progress.done.notify_all();
    if (posted) {
        pool.finishPosted();
    } else {
        // The pool serves another stream's frame: the same steps one after the other (the luma rows stop
        // after the map and the first row, as the payload is all there).
        luma_rows();
    }
    if (produced != static_cast<long>(expected)) return produced;

    const uint32_t columns = static_cast<uint32_t>(s.layout.columns);
    const uint32_t luma_transformed = luma.transformed * columns, luma_smoothed = luma.smoothed * columns;
    const uint8_t* section = payload + s.mapsize / 4;
    pool.run(s.mapsize, true, [&](uint32_t begin, uint32_t end) {
        for (int plane = 0; plane < 3; ++plane) {
            const size_t bytes = s.layout.blockBytes(plane);
            const size_t at = s.layout.offsets[plane] + begin * bytes;
            std::memcpy(s.coefficients + at, section + at, (end - begin) * bytes);
        }
        if (end > luma_transformed) s.transform(0, section, std::max(begin, luma_transformed), end);
        for (int plane = 1; plane < 3; ++plane)
            s.transform(plane, section, begin, end);
    });
    if (s.smooth_target != nullptr) std::memcpy(s.space_map, s.time_map, s.mapsize);
    pool.run(s.mapsize, true, [&](uint32_t begin, uint32_t end) {
        if (s.smooth_target != nullptr) {
            if (end > luma_smoothed) s.smooth(0, std::max(begin, luma_smoothed), end);
            for (int plane = 1; plane < 3; ++plane)
                s.smooth(plane, begin, end);
        }
        s.convert(begin, end);
    });
    return produced;
}

}  // namespace zrc
