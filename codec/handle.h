#ifndef CODEC_HANDLE_H
#define CODEC_HANDLE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/changedruns.h"
#include "codec/include/zrc.h"
#include "codec/zrcring.h"

// The codec's state for one picture stream. Every field is guarded by `lock` (configure, decompress and the
// setters take it), except in one gap: zrc_decompress lets go of it while it calls zrc_configure for a new
// picture size (which takes it itself), so a call made on another thread in that gap sees the handle between
// two sizes.
struct ZrcHandle {
    uint32_t last_id = 0;
    uint32_t command = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t matrix = 8;
    uint32_t mapsize = 0;  // 0: not configured
    uint32_t xspan = 0;
    uint32_t yspan = 0;
    uint32_t image_format = 0x2C;
    uint32_t image_bits = 32;
    uint32_t image_length = 0;
    uint32_t frame_format = ZRC_FRAME_YUV420;
    uint32_t frame_bits = 8;
    uint32_t frame_length = 0;
    uint32_t trans_format = 1;
    uint32_t trans_bits = 8;
    uint32_t trans_length = 0;
    uint32_t quality = 2;
    uint32_t diff_type = 0;
    uint32_t diff_length = 0;
    uint32_t last_tick = 0;
    uint32_t last_timestamp = 0;
    uint32_t frame_count = 0;
    uint32_t absolute_count = 0;
    uint32_t replace_count = 0;
    uint32_t xor_count = 0;
    uint8_t* time_map = nullptr;   // mapsize + 32 bytes
    uint8_t* space_map = nullptr;  // mapsize * 4 + 128 bytes
    uint8_t* work[8] = {};
    zrc::ChangedRuns changed_runs;  // of the time map of the frame being decoded
    std::mutex lock;
    uint32_t flags = 0x8013;
    uint32_t encode_quality = 2;
    uint32_t encode_frame_format = ZRC_FRAME_YUV420;

    // Encoder (codec/encoder.cpp): the packed replace and xor candidates, sized for the packers' worst case.
    std::vector<uint8_t> packed[2];
    // Blocks whose DC a frame moved to carry the map's last entries (codec/mapoverlap.h), to be coded again.
    std::vector<uint32_t> owed;

    // Worker mode (codec/workers.cpp). Rings, callbacks, buffers and thread are set by the start calls and
    // cleared by zrc_stop under `lock`; the worker reads them without it, as they only change while no
    // worker runs.
    std::shared_ptr<ZrcRing> input_ring;
    std::shared_ptr<ZrcRing> output_ring;
    ZrcReadCallback read_callback = nullptr;
    ZrcWriteCallback write_callback = nullptr;
    void* read_context = nullptr;
    void* write_context = nullptr;
    std::vector<uint8_t> input_buffer;
    std::vector<uint8_t> output_buffer;
    std::thread thread;
    std::atomic<bool> running{false};  // the worker is inside its loop
    std::atomic<bool> stop{false};     // the worker has been asked to end
    std::atomic<int> worker_exit{0};   // exit code of the worker that ended last

    int paddedWidth() const { return width + static_cast<int>(xspan); }
    int paddedHeight() const { return height + static_cast<int>(yspan); }
    size_t paddedPixels() const {
        return static_cast<size_t>(paddedWidth()) * static_cast<size_t>(paddedHeight());
    }
    // Bytes of each of work[1..7].
    size_t workSize() const { return paddedPixels() * 3 + mapsize / 4 + 4184; }
};

namespace zrc {

// Frees both maps and every work buffer, leaving the handle unconfigured (mapsize 0).
void freeBuffers(ZrcHandle* handle);

}  // namespace zrc

#endif
