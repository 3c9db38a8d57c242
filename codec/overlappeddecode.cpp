#include "codec/overlappeddecode.h"

#include <algorithm>
#include <cstring>

#include "codec/blockmap.h"
#include "codec/workerpool.h"

namespace zrc {
namespace {

// Coefficient bytes the pool thread waits for at a time: about 1/12 of a 1080p frame's payload.
constexpr size_t kBatchBytes = 256 * 1024;

// Block rows of each plane the pool thread finished while the caller unpacked.
struct ArrivedRows {
    uint32_t transformed[3] = {};
    uint32_t smoothed[3] = {};
};

// The pool thread's part while the caller unpacks: the map, then the planes row by row as they arrive, each
// row smoothed once the row below it is decoded. Once the whole payload is there it stops, so that both
// threads share the rest.
void decodeArrivedRows(const FrameStages& s, const uint8_t* payload, size_t expected,
                       UnpackProgress& progress, ArrivedRows& done) {
    const size_t map_bytes = s.mapsize() / 4;
    // expandBlockMap reads whole words, which may reach into the section.
    const size_t map_words = (static_cast<size_t>(s.mapsize()) + 15) / 16 * 4;
    if (!progress.await(map_words)) return;
    expandBlockMap(payload, s.mapsize(), s.time_map);
    const uint8_t* section = payload + map_bytes;
    const uint32_t columns = static_cast<uint32_t>(s.layout.columns);
    const uint32_t rows = static_cast<uint32_t>(s.layout.rows);
    for (int plane = 0; plane < 3; ++plane) {
        const size_t start = map_bytes + s.layout.offsets[plane];
        const size_t row_bytes = columns * s.layout.blockBytes(plane);
        // Each wait ends with a wake-up the unpacking thread pays for, so rows are awaited in batches.
        const uint32_t batch = static_cast<uint32_t>(std::max<size_t>(1, kBatchBytes / row_bytes));
        uint32_t row = 0;
        while (row < rows) {
            if (!progress.await(start + std::min(rows, row + batch) * row_bytes)) return;
            const size_t seen = progress.done.load(std::memory_order_acquire);
            if (seen == kUnpackFailed || seen == expected) return;
            const uint32_t arrived =
                static_cast<uint32_t>(std::min<size_t>(rows, (seen - start) / row_bytes));
            for (; row < arrived; ++row) {
                s.transform(plane, section, row * columns, (row + 1) * columns);
                done.transformed[plane] = row + 1;
                if (s.smooth_target != nullptr && row > 0) {
                    s.smooth(plane, (row - 1) * columns, row * columns);
                    done.smoothed[plane] = row;
                }
            }
        }
        if (s.smooth_target != nullptr) {
            s.smooth(plane, (rows - 1) * columns, rows * columns);
            done.smoothed[plane] = rows;
        }
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
    ArrivedRows arrived;  // written by the pool thread until finishPosted()
    const auto arrived_rows = [&] { decodeArrivedRows(s, payload, expected, progress, arrived); };
    const bool posted = pool.tryPost(arrived_rows);
    const long produced = unpack(&progress);
    // Whatever the unpacker published last, the pool thread must learn the outcome.
    progress.publish(produced == static_cast<long>(expected) ? expected : kUnpackFailed);
    if (posted) {
        pool.finishPosted();
    } else {
        // The pool serves another stream's frame: the same steps one after the other (the rows stop after
        // the map, as the payload is all there).
        arrived_rows();
    }
    if (produced != static_cast<long>(expected)) return produced;

    // What the pool thread left: the copy into the kept coefficient planes (only now that the frame is known
    // to be whole), the rows it did not reach, and the conversion.
    const uint32_t columns = static_cast<uint32_t>(s.layout.columns);
    const uint8_t* section = payload + s.mapsize() / 4;
    pool.run(s.mapsize(), true, [&](uint32_t begin, uint32_t end) {
        for (int plane = 0; plane < 3; ++plane) {
            const size_t bytes = s.layout.blockBytes(plane);
            const size_t at = s.layout.offsets[plane] + begin * bytes;
            std::memcpy(s.coefficients + at, section + at, (end - begin) * bytes);
            const uint32_t from = std::max(begin, arrived.transformed[plane] * columns);
            if (from < end) s.transform(plane, section, from, end);
        }
    });
    if (s.smooth_target != nullptr) std::memcpy(s.space_map, s.time_map, s.mapsize());
    pool.run(s.mapsize(), true, [&](uint32_t begin, uint32_t end) {
        for (int plane = 0; plane < 3 && s.smooth_target != nullptr; ++plane) {
            const uint32_t from = std::max(begin, arrived.smoothed[plane] * columns);
            if (from < end) s.smooth(plane, from, end);
        }
        s.convert(begin, end);
    });
    return produced;
}

}  // namespace zrc
