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

// The codec's state for one picture stream. Every field is guarded by `lock` (configure, decompress,
// decode_coefficients, render and the setters take it), except in one gap: a decode lets go of it while it
// configures the handle for a new picture size (which takes it itself), so a call made on another thread in
// that gap sees the handle between two sizes.
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
    zrc::ChangedRuns changed_runs;  // of the map a decoding stage walks

    // Decoder (codec/decompress.cpp, codec/render.cpp). Each buffer is sized when a frame first needs it,
    // by the frame format and the scale, and is empty otherwise.
    std::vector<uint8_t> unpacked;      // the frame's block map and sections
    std::vector<uint8_t> coefficients;  // the kept coefficient planes, always at full size
    // Inverse-transformed planes at full size, kept between renders while smoothing is on (it reads the
    // neighbours of changed blocks); any other render makes its planes a block row at a time.
    std::vector<uint8_t> planes;
    // Per block: 0, or 4 + the quality row of a block decoded since the last render (the transform reads
    // 4 + row as that row); the quality row each block was last coded with; the blocks a render converts.
    std::vector<uint8_t> pending;
    std::vector<uint8_t> rows;
    std::vector<uint8_t> converted;
    uint32_t decoded_format = 0;  // frame format of the kept coefficients, 0 before the first frame
    int scale_shift = 0;
    // How the last render made its planes (frame and image format, scale, smoothing, direct output); a
    // render made another way transforms every block again.
    uint64_t render_mode = 0;
    bool render_all = true;  // every block waits: after a configure or a change of scale or mode
    int area[4] = {};        // x, y, width, height the last render wrote
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
    // Bytes of every buffer the handle holds now (for measures and tests).
    size_t heldBytes() const {
        size_t bytes = 0;
        if (mapsize != 0) bytes += mapsize + 32u + static_cast<size_t>(mapsize) * 4 + 128;
        for (int i = 0; i < 8; ++i)
            bytes += work[i] == nullptr ? 0 : i == 0 ? paddedPixels() * 4 + 4096 : workSize();
        for (const std::vector<uint8_t>* buffer :
             {&unpacked, &coefficients, &planes, &pending, &rows, &converted})
            bytes += buffer->capacity();
        return bytes;
    }
};

namespace zrc {

// Frees both maps and every work and decoder buffer, leaving the handle unconfigured (mapsize 0).
void freeBuffers(ZrcHandle* handle);

// zrc_configure, with the encoder's work buffers only when `encoder_buffers` (a decoding handle sizes its
// own by what its frames need).
int configure(ZrcHandle* handle, int matrix, int width, int height, uint32_t image_format,
              bool encoder_buffers);

// Sizes `buffer` to `bytes` (keeping what it holds up to there); false, logged, when memory runs out.
bool sizeBuffer(std::vector<uint8_t>& buffer, size_t bytes, const char* what);

// The pixel stages for the blocks waiting in `pending`, into image, with the handle locked and configured;
// the image bytes of the whole picture, with *wrote false when no block was waiting, or -8.
int renderLocked(ZrcHandle* handle, uint8_t* image, bool* wrote);

}  // namespace zrc

#endif
