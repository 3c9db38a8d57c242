// zrc_decode_coefficients: one frame through header checks and unpacking into the kept coefficients; and
// zrc_decompress, the same followed by the render (codec/render.cpp) into the caller's image. Only blocks
// whose map entry is not 0 are touched after unpacking.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "codec/blockmap.h"
#include "codec/changedruns.h"
#include "codec/coefficients.h"
#include "codec/frameheader.h"
#include "codec/handle.h"
#include "codec/lz.h"
#include "codec/picturelayout.h"
#include "codec/tick.h"
#include "codec/wordrle.h"

namespace {

// Unpacking room kept whatever the frames' sizes, so that small frames do not allocate each time.
constexpr size_t kKeptUnpackRoom = size_t{1} << 16;

bool isChroma420(uint32_t frame_format) {
    return frame_format >= ZRC_FRAME_YUV420A && frame_format <= ZRC_FRAME_YUV420B;
}

long unpack(const ZrcFrameHeader& h, const uint8_t* payload, uint8_t* target, size_t expected) {
    switch (h.pack_format) {
        case ZRC_PACK_RLE:
            return zrc::rleUnpack(payload, h.pack_length, target, expected);
        case ZRC_PACK_LZ:
            return zrc::lzUnpack(payload, h.pack_length, target, expected);
        default:
            return 0;
    }
}

int refuseUnpacked(const ZrcFrameHeader& h, size_t expected, long produced) {
    zrc_log(ZRC_LOG_ERROR, "%s: [%u] Uncompression failed, format %u, expect %d, got %d", "ZRC", h.id,
            h.pack_format, static_cast<int>(expected), static_cast<int>(produced));
    return -6;
}

int refuseSections(uint32_t id, const char* what, uint64_t have, uint64_t room) {
    zrc_log(ZRC_LOG_ERROR, "%s: [%u] Frame sections do not fit, %s %llu, room %llu", "ZRC", id, what,
            static_cast<unsigned long long>(have), static_cast<unsigned long long>(room));
    return -6;
}

// Checks that the differential section holds what the header and the map (`coded` blocks) say it holds, so
// that no coefficient copy reads past it or writes past the planes.
int checkSections(const ZrcFrameHeader& h, const zrc::PictureLayout& layout, uint32_t coded) {
    if (h.diff_type == ZRC_DIFF_ABSOLUTE) {
        if (h.trans_length > h.diff_length)
            return refuseSections(h.id, "transform length", h.trans_length, h.diff_length);
        if (h.trans_length > layout.bytes)
            return refuseSections(h.id, "transform length", h.trans_length, layout.bytes);
    } else if (h.diff_type == ZRC_DIFF_REPLACE || h.diff_type == ZRC_DIFF_XOR) {
        if (coded > h.predictions) return refuseSections(h.id, "coded blocks", coded, h.predictions);
        const uint64_t needed = static_cast<uint64_t>(h.predictions) *
                                (layout.blockBytes(0) + layout.blockBytes(1) + layout.blockBytes(2));
        if (needed > h.diff_length) return refuseSections(h.id, "coded block bytes", needed, h.diff_length);
    }
    return 0;
}

int finishFrame(ZrcHandle* handle, const ZrcFrameHeader& h, size_t result);

// Steps after the header and sequence checks, with the handle locked and configured for the frame: the
// frame's coefficients into the kept planes, its blocks into those the next render converts. Returns the
// frame's bytes, or a negative error.
int decodeLocked(ZrcHandle* handle, const ZrcFrameHeader& h, const uint8_t* payload) {
    if (h.quality != handle->quality) {
        handle->quality = h.quality;
        zrc_log(ZRC_LOG_INFO, "%s: [%u] Decode quality changed to %u", "ZRC", h.id, h.quality);
    }
    if (h.diff_type == ZRC_DIFF_ABSOLUTE) ++handle->absolute_count;
    if (h.diff_type == ZRC_DIFF_REPLACE) ++handle->replace_count;
    if (h.diff_type == ZRC_DIFF_XOR) ++handle->xor_count;

    const size_t map_bytes = handle->mapsize / 4;
    const size_t expected = map_bytes + h.diff_length;
    if (expected > handle->workSize())
        return refuseSections(h.id, "unpacked size", expected, handle->workSize());
    // The map expansion reads whole words: up to 3 bytes past the map's bytes. The room an absolute frame
    // took, many times a relative frame's, is given back at the next small frame.
    std::vector<uint8_t>& unpacked = handle->unpacked;
    if (unpacked.size() > 4 * expected + kKeptUnpackRoom) {
        unpacked.clear();
        unpacked.shrink_to_fit();
    }
    if (!zrc::sizeBuffer(unpacked, std::max(unpacked.size(), expected + 4), "unpacking")) return -6;
    uint8_t* target = unpacked.data();

    const bool chroma420 = isChroma420(h.frame_format);
    const bool known_format =
        h.frame_format == ZRC_FRAME_RGB || h.frame_format == ZRC_FRAME_YUV444 || chroma420;
    const int matrix = static_cast<int>(handle->matrix);
    const zrc::PictureLayout layout =
        zrc::PictureLayout::of(matrix, handle->paddedWidth(), handle->paddedHeight(), chroma420);

    const long produced = unpack(h, payload, target, expected);
    if (produced != static_cast<long>(expected)) return refuseUnpacked(h, expected, produced);
    zrc::expandBlockMap(target, handle->mapsize, handle->time_map);
    if (!known_format) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Invalid frame format %u", "ZRC", h.id, h.frame_format);
        return -7;
    }
    zrc::ChangedRuns& runs = handle->changed_runs;
    runs.find(handle->time_map, handle->mapsize);
    if (int refused = checkSections(h, layout, runs.changedBlocks()); refused != 0) return refused;
    if (!zrc::sizeBuffer(handle->coefficients, layout.bytes, "coefficients") ||
        !zrc::sizeBuffer(handle->pending, handle->mapsize, "blocks") ||
        !zrc::sizeBuffer(handle->rows, handle->mapsize, "blocks"))
        return -6;
    const uint8_t* section = target + map_bytes;
    uint8_t* coefficients = handle->coefficients.data();
    if (h.diff_type == ZRC_DIFF_ABSOLUTE) {
        std::memcpy(coefficients, section, h.trans_length);
    } else if (h.diff_type == ZRC_DIFF_REPLACE || h.diff_type == ZRC_DIFF_XOR) {
        zrc::applyCodedBlocks(section, coefficients, handle->time_map, handle->mapsize, h.predictions, matrix,
                              handle->paddedPixels(), chroma420, h.diff_type == ZRC_DIFF_XOR);
    }
    // Kept coefficients of another layout must all be drawn again.
    if (h.frame_format != handle->decoded_format) handle->render_all = true;
    handle->decoded_format = h.frame_format;
    // A block is transformed with the quality row of the frame that coded it last: row 0 for map entry 1.
    const uint8_t* map = handle->time_map;
    for (uint32_t b = zrc::nextChanged(map, 0, handle->mapsize); b < handle->mapsize;
         b = zrc::nextChanged(map, b + 1, handle->mapsize)) {
        const uint8_t row = map[b] == 1 ? 0 : static_cast<uint8_t>(h.quality);
        handle->rows[b] = row;
        handle->pending[b] = static_cast<uint8_t>(4 + row);
    }
    return finishFrame(handle, h, ZRC_HEADER_SIZE + h.pack_length);
}

// Pacing and frame counting after a decoded frame; returns the result.
int finishFrame(ZrcHandle* handle, const ZrcFrameHeader& h, size_t result) {
    const uint32_t now = zrc::tickMs();
    const int32_t delay =
        static_cast<int32_t>((h.timestamp - handle->last_timestamp) - (now - handle->last_tick));
    if ((handle->flags & ZRC_FLAG_PACE) != 0 && delay >= 1 && delay <= 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    handle->last_timestamp = h.timestamp;
    handle->last_tick = zrc::tickMs();
    ++handle->frame_count;
    return static_cast<int>(result);
}

// Header and sequence checks, configuration for the frame's geometry, then decodeLocked; returns with
// `lock` holding the handle's lock.
int decodeFrame(ZrcHandle* handle, const void* frame, std::unique_lock<std::mutex>& lock,
                uint32_t* quality_out, uint32_t* previous_id = nullptr) {
    const uint8_t* bytes = static_cast<const uint8_t*>(frame);
    const ZrcFrameHeader h = zrc::restoreHeader(bytes);
    lock = std::unique_lock<std::mutex>(handle->lock);
    if (int check = zrc_check_header(&h); check != 0) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame header: %d", "ZRC", check);
        return -2;
    }
    const unsigned major = h.version >> 24, minor = (h.version >> 16) & 0xFF, patch = h.version & 0xFFFF;
    if (major != 2) {
        zrc_log(
            ZRC_LOG_ERROR,
            "%s: Frame %u major version mismatch, frame encode version=%u.%u.%u, decoder version=%u.%u.%u",
            "ZRC", h.id, major, minor, patch, 2u, 0u, 12u);
        return -3;
    }
    if (h.id != handle->last_id + 1 && h.diff_type != ZRC_DIFF_ABSOLUTE) {
        zrc_log(ZRC_LOG_ERROR, "%s: Unexpect relative frame id: %u", "ZRC", h.id);
        return 0;
    }
    if (quality_out != nullptr) *quality_out = h.quality;
    handle->frame_format = h.frame_format;
    handle->frame_bits = h.frame_bits;
    handle->trans_format = h.trans_format;
    handle->trans_bits = h.trans_bits;
    handle->command = h.command;
    handle->diff_type = h.diff_type;

    if (handle->width != h.width || handle->height != h.height || handle->matrix != h.matrix ||
        h.command == 1 || handle->mapsize == 0) {
        zrc_log(ZRC_LOG_INFO,
                "%s: [%u] Initializing decoder, frame encode version=%u.%u.%u, decoder version=%u.%u.%u",
                "ZRC", h.id, major, minor, patch, 2u, 0u, 12u);
        if (h.diff_type != ZRC_DIFF_ABSOLUTE) {
            zrc_log(ZRC_LOG_ERROR, "%s: [%u] Expect absolute frame", "ZRC", h.id);
            return -4;
        }
        lock.unlock();
        // The encoder's buffers are not needed for decoding.
        if (zrc::configure(handle, static_cast<int>(h.matrix), h.width, h.height, 0, false) != 0) {
            lock.lock();
            zrc_log(ZRC_LOG_ERROR, "%s: [%u] Configure decoder failed", "ZRC", h.id);
            return -5;
        }
        lock.lock();
    }
    const int result = decodeLocked(handle, h, bytes + ZRC_HEADER_SIZE);
    // Only a decoded frame advances the sequence: after a failed one the next relative frame is a gap, and
    // the picture recovers at the next absolute frame instead of building on planes the failure left
    // half-done.
    if (previous_id != nullptr) *previous_id = handle->last_id;
    if (result > 0) handle->last_id = h.id;
    return result;
}

}  // namespace

extern "C" int zrc_decode_coefficients(ZrcHandle* handle, const void* frame) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return -1;
    }
    std::unique_lock<std::mutex> lock;
    return decodeFrame(handle, frame, lock, nullptr);
}

extern "C" int zrc_decompress(ZrcHandle* handle, const void* frame, void* image, uint32_t* quality_out) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return -1;
    }
    std::unique_lock<std::mutex> lock;
    uint32_t last_id = 0;
    const int decoded = decodeFrame(handle, frame, lock, quality_out, &last_id);
    if (decoded <= 0) return decoded;
    bool wrote = false;
    const int result = zrc::renderLocked(handle, static_cast<uint8_t*>(image), &wrote);
    // A frame whose picture cannot be made does not advance the sequence either.
    if (result < 0) handle->last_id = last_id;
    return result;
}
