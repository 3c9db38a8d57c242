// zrc_decompress: one frame through header checks, unpacking, coefficients, inverse transform, smoothing
// and conversion into the caller's image. Only blocks whose map entry is not 0 are touched after unpacking.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "codec/blockmap.h"
#include "codec/changedruns.h"
#include "codec/coefficients.h"
#include "codec/frameheader.h"
#include "codec/framestages.h"
#include "codec/handle.h"
#include "codec/lz.h"
#include "codec/picturelayout.h"
#include "codec/tick.h"
#include "codec/wordrle.h"
#include "codec/workerpool.h"

namespace {

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

// Changed pixels (luma) from which a frame's passes are spread over the cores: 1/8 of a 1080p picture.
constexpr size_t kSpreadPixels = size_t{1} << 18;

// Steps after the header and sequence checks, with the handle locked and configured for the frame.
int decodeLocked(ZrcHandle* handle, const ZrcFrameHeader& h, const uint8_t* payload, uint8_t* image) {
    if (h.quality != handle->quality) {
        handle->quality = h.quality;
        zrc_log(ZRC_LOG_INFO, "%s: [%u] Decode quality changed to %u", "ZRC", h.id, h.quality);
    }
    if (h.diff_type == ZRC_DIFF_ABSOLUTE) ++handle->absolute_count;
    if (h.diff_type == ZRC_DIFF_REPLACE) ++handle->replace_count;
    if (h.diff_type == ZRC_DIFF_XOR) ++handle->xor_count;
    uint8_t* target = h.diff_type == ZRC_DIFF_REPLACE ? handle->work[5] : handle->work[6];

    const size_t map_bytes = handle->mapsize / 4;
    const size_t expected = map_bytes + h.diff_length;
    if (expected > handle->workSize())
        return refuseSections(h.id, "unpacked size", expected, handle->workSize());

    const bool chroma420 = isChroma420(h.frame_format);
    const bool known_format =
        h.frame_format == ZRC_FRAME_RGB || h.frame_format == ZRC_FRAME_YUV444 || chroma420;
    const bool direct = handle->image_format == h.frame_format;
    const bool smooth = (handle->flags & ZRC_FLAG_SMOOTH) != 0;
    const bool multicore = (handle->flags & ZRC_FLAG_MULTICORE) != 0;
    const int matrix = static_cast<int>(handle->matrix);
    const zrc::PictureLayout layout =
        zrc::PictureLayout::of(matrix, handle->paddedWidth(), handle->paddedHeight(), chroma420);
    const zrc::FrameStages stages{layout,
                                  handle->quality,
                                  handle->time_map,
                                  handle->space_map,
                                  handle->work[4],
                                  matrix == 32 ? handle->work[3] : nullptr,
                                  direct && !smooth ? image : handle->work[2],
                                  smooth ? (direct ? image : handle->work[1]) : nullptr,
                                  (handle->flags & ZRC_FLAG_MARK_EDGES) != 0,
                                  direct ? nullptr : image,
                                  h.frame_format,
                                  handle->image_format,
                                  handle->width,
                                  handle->height};

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
    const uint8_t* section = target + map_bytes;
    uint8_t* coefficients = handle->work[4];
    // An absolute frame of full planes is copied into the kept planes a range at a time in the transform's
    // pass, while the range is in cache, and transformed from the section.
    const bool whole = h.diff_type == ZRC_DIFF_ABSOLUTE && h.trans_length == layout.bytes;
    if (h.diff_type == ZRC_DIFF_ABSOLUTE && !whole) {
        std::memcpy(coefficients, section, h.trans_length);
    } else if (h.diff_type == ZRC_DIFF_REPLACE || h.diff_type == ZRC_DIFF_XOR) {
        zrc::applyCodedBlocks(section, coefficients, handle->time_map, handle->mapsize, h.predictions, matrix,
                              handle->paddedPixels(), chroma420, h.diff_type == ZRC_DIFF_XOR);
    }

    // A block's conversion needs only that block's planes, so it runs in the same pass as the last stage
    // before it; the smoothing of a block needs its neighbours decoded, hence a pass of its own.
    const size_t converted = direct ? 0 : stages.convert(0, 0);
    // Handing a pass to the other cores costs a thread wake-up, tens of microseconds on a virtual machine:
    // more than a few percent of a 1080p picture must have changed to gain from it.
    const bool spread = multicore && runs.changedBlocks() * layout.blockBytes(0) >= kSpreadPixels;
    const bool convert = converted != 0;
    const auto transform = [&](const uint8_t* source, uint32_t begin, uint32_t end) {
        for (int plane = 0; plane < 3; ++plane)
            stages.transform(plane, source, begin, end);
        if (convert && !smooth) stages.convert(begin, end);
    };
    if (whole) {
        zrc::WorkerPool::instance().run(handle->mapsize, spread, [&](uint32_t begin, uint32_t end) {
            for (int plane = 0; plane < 3; ++plane) {
                const size_t bytes = layout.blockBytes(plane);
                const size_t at = layout.offsets[plane] + begin * bytes;
                std::memcpy(coefficients + at, section + at, (end - begin) * bytes);
            }
            transform(section, begin, end);
        });
    } else {
        runs.forEach(spread, [&](uint32_t begin, uint32_t end) { transform(coefficients, begin, end); });
    }
    if (smooth) {
        std::memcpy(handle->space_map, handle->time_map, handle->mapsize);
        runs.forEach(spread, [&](uint32_t begin, uint32_t end) {
            for (int plane = 0; plane < 3; ++plane)
                stages.smooth(plane, begin, end);
            if (convert) stages.convert(begin, end);
        });
    }
    if (direct) return finishFrame(handle, h, layout.bytes);
    if (!convert) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Cannot convert frame format %#08X to image format %#08X", "ZRC",
                h.id, h.frame_format, handle->image_format);
        return -8;
    }
    return finishFrame(handle, h, converted);
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

}  // namespace

extern "C" int zrc_decompress(ZrcHandle* handle, const void* frame, void* image, uint32_t* quality_out) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return -1;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(frame);
    const ZrcFrameHeader h = zrc::restoreHeader(bytes);
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

    std::unique_lock<std::mutex> lock(handle->lock);
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
        if (zrc_configure(handle, static_cast<int>(h.matrix), h.width, h.height, 0) != 0) {
            zrc_log(ZRC_LOG_ERROR, "%s: [%u] Configure decoder failed", "ZRC", h.id);
            return -5;
        }
        lock.lock();
        // The encoder's buffers are not needed for decoding.
        for (int i : {0, 7}) {
            std::free(handle->work[i]);
            handle->work[i] = nullptr;
        }
    }
    const int result = decodeLocked(handle, h, bytes + ZRC_HEADER_SIZE, static_cast<uint8_t*>(image));
    // Only a decoded frame advances the sequence: after a failed one the next relative frame is a gap, and
    // the picture recovers at the next absolute frame instead of building on planes the failure left
    // half-done.
    if (result > 0) handle->last_id = h.id;
    return result;
}
