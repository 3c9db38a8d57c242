// zrc_encode and zrc_absolute_frame: changed blocks of successive images into frames the decoder takes.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "codec/blockmap.h"
#include "codec/changemap.h"
#include "codec/coefficients.h"
#include "codec/conversion.h"
#include "codec/forwardconversion.h"
#include "codec/forwardtransform.h"
#include "codec/frameheader.h"
#include "codec/handle.h"
#include "codec/lz.h"
#include "codec/mapoverlap.h"
#include "codec/tick.h"
#include "codec/wordrle.h"

namespace {

bool isChroma420(uint32_t frame_format) {
    return frame_format >= ZRC_FRAME_YUV420A && frame_format <= ZRC_FRAME_YUV420B;
}

bool isFrameFormat(uint32_t frame_format) {
    return frame_format == ZRC_FRAME_RGB || frame_format == ZRC_FRAME_YUV444 || isChroma420(frame_format);
}

// Largest payload a frame may carry: what the caller's frame buffer and the decoder's unpack buffer hold.
size_t payloadLimit(const ZrcHandle& h) {
    return h.workSize();
}

// Makes room for a packed candidate of `size` input bytes in the worst case of either packer.
bool reservePacked(ZrcHandle* h, size_t size) {
    const size_t bound = std::max(zrc::lzBound(size), zrc::rleBound(size));
    try {
        for (std::vector<uint8_t>& p : h->packed) {
            if (p.size() < bound) p.resize(bound);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

struct Packed {
    uint32_t format = 0;  // 0: not packed
    size_t length = 0;
};

// Packs map and section with LZ, falling back to the word run-length packing when the LZ result does not
// fit a frame. `format` 0 and the last packer's length when neither fits.
Packed packCandidate(ZrcHandle* h, int slot, const uint8_t* in, size_t size) {
    uint8_t* out = h->packed[slot].data();
    const size_t limit = payloadLimit(*h);
    const size_t lz = zrc::lzPack(in, size, out);
    if (lz <= limit) return Packed{ZRC_PACK_LZ, lz};
    zrc_log(ZRC_LOG_DEBUG, "%s: [%u] Compression failed, format=%u, ret=%d, retry...", "ZRC", h->last_id,
            ZRC_PACK_LZ, static_cast<int>(lz));
    const size_t rle = zrc::rlePack(in, size, out);
    if (rle <= limit) return Packed{ZRC_PACK_RLE, rle};
    return Packed{0, rle};
}

// The fields every frame of the handle shares.
ZrcFrameHeader headerFor(const ZrcHandle& h) {
    ZrcFrameHeader f{};
    f.magic = ZRC_MAGIC;
    f.version = ZRC_VERSION;
    f.command = h.command;
    f.width = h.width;
    f.height = h.height;
    f.matrix = h.matrix;
    f.frame_format = h.frame_format;
    f.frame_bits = h.frame_bits;
    f.frame_length = h.frame_length;
    f.trans_format = h.trans_format;
    f.trans_bits = h.trans_bits;
    f.trans_length = h.trans_length;
    f.quality = h.quality;
    return f;
}

int finishFrame(ZrcFrameHeader f, const Packed& packed, const uint8_t* payload, uint8_t* frame) {
    f.pack_format = packed.format;
    f.pack_length = static_cast<uint32_t>(packed.length);
    std::memcpy(frame + ZRC_HEADER_SIZE, payload, packed.length);
    zrc::writeHeader(f, frame);
    return static_cast<int>(packed.length + ZRC_HEADER_SIZE);
}

bool configured(const ZrcHandle& h) {
    return h.mapsize != 0 && h.work[0] != nullptr && h.work[7] != nullptr;
}

ZrcHandle* checkedHandle(ZrcHandle* handle) {
    if (handle == nullptr) zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
    return handle;
}

int notInitialized() {
    zrc_log(ZRC_LOG_ERROR, "%s: Codec is not initialized", "ZRC");
    return -2;
}

// After a frame: the blocks it coded with their own DC are no longer owed; the carrier is, when its DC
// was moved.
void settleOwed(ZrcHandle* h, const zrc::OverlapFix& overlap, bool moved) {
    std::erase_if(h->owed, [&](uint32_t b) { return b >= h->mapsize || h->time_map[b] != 0; });
    if (moved) h->owed.push_back(overlap.block);
}

// Steps of zrc_encode from the colour planes on, with the handle locked and the time map final.
int codeFrame(ZrcHandle* h, const uint8_t* image, uint8_t* frame, uint32_t predictions, bool absolute,
              const zrc::OverlapFix& overlap, uint32_t timestamp) {
    const bool chroma420 = isChroma420(h->frame_format);
    const int matrix = static_cast<int>(h->matrix);
    const bool multicore = (h->flags & ZRC_FLAG_MULTICORE) != 0;
    const size_t pp = h->paddedPixels();
    const size_t map_bytes = h->mapsize / 4;
    const size_t plane_bytes = chroma420 ? pp * 3 / 2 : pp * 3;
    const size_t block_bytes = zrc::pictureBlockBytes(matrix, chroma420);

    zrc::imageToPlanes(image, h->image_format, h->frame_format, h->work[2], h->time_map, h->mapsize, matrix,
                       h->width, h->height, multicore);
    h->frame_length = static_cast<uint32_t>(plane_bytes);

    const bool with_replace = absolute || (h->flags & ZRC_FLAG_REPLACE) != 0;
    bool with_xor = !absolute && (h->flags & ZRC_FLAG_XOR) != 0;
    // The map goes first, the section over the tail of its last word, as the decoder reads them.
    zrc::packBlockMap(h->time_map, h->mapsize, h->work[5]);
    if (with_xor) zrc::packBlockMap(h->time_map, h->mapsize, h->work[6]);
    const zrc::CodedSections sections{h->work[5] + map_bytes, with_xor ? h->work[6] + map_bytes : nullptr,
                                      reinterpret_cast<uint32_t*>(h->work[7])};
    h->trans_length = static_cast<uint32_t>(
        zrc::forwardTransformPicture(h->work[2], h->work[4], sections, h->time_map, h->mapsize, predictions,
                                     matrix, pp, chroma420, h->quality, multicore));
    zrc::applyOverlap(*h, overlap, sections);
    const zrc::XorOverlap xor_overlap = zrc::settleXor(*h, overlap, sections, predictions);
    with_xor = with_xor && xor_overlap.usable;

    Packed replace, xored;
    // The replace form stands in when the xor form cannot carry the map's last entries.
    if (with_replace || !with_xor)
        replace = packCandidate(h, 0, h->work[5], map_bytes + predictions * block_bytes);
    if (with_xor) xored = packCandidate(h, 1, h->work[6], map_bytes + xor_overlap.predictions * block_bytes);
    if (replace.format == 0 && xored.format == 0) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Compression failed, format=%u, ret=%d", "ZRC", h->last_id,
                ZRC_PACK_RLE, static_cast<int>(replace.length));
        // The kept coefficients now hold a frame nobody received: start over with an absolute frame.
        h->diff_type = ZRC_DIFF_ABSOLUTE;
        return -4;
    }

    ZrcFrameHeader f = headerFor(*h);
    f.id = h->last_id;
    f.timestamp = timestamp;
    if (absolute) {
        f.diff_type = ZRC_DIFF_ABSOLUTE;
        ++h->absolute_count;
    } else if (replace.format != 0 && (xored.format == 0 || replace.length <= xored.length)) {
        f.diff_type = ZRC_DIFF_REPLACE;
        ++h->replace_count;
    } else {
        f.diff_type = ZRC_DIFF_XOR;
        ++h->xor_count;
    }
    const bool xor_chosen = f.diff_type == ZRC_DIFF_XOR;
    if (xor_chosen) {
        zrc::commitXor(*h, overlap, xor_overlap);
        predictions = xor_overlap.predictions;
    }
    settleOwed(h, overlap,
               xor_chosen ? overlap.corners != 0 && xor_overlap.dc != overlap.own_dc : overlap.moved());
    h->diff_length = static_cast<uint32_t>(predictions * block_bytes);
    f.predictions = predictions;
    f.diff_length = h->diff_length;
    const int written =
        finishFrame(f, xor_chosen ? xored : replace, h->packed[xor_chosen ? 1 : 0].data(), frame);
    ++h->last_id;
    ++h->frame_count;
    h->command = 0;
    h->diff_type = ZRC_DIFF_XOR;
    return written;
}

}  // namespace

extern "C" int zrc_encode(ZrcHandle* handle, const void* image, void* frame, uint32_t quality,
                          uint32_t frame_format) {
    if (checkedHandle(handle) == nullptr) return -1;
    std::unique_lock<std::mutex> lock(handle->lock);
    ZrcHandle* h = handle;
    if (!configured(*h)) return notInitialized();
    if ((h->flags & (ZRC_FLAG_REPLACE | ZRC_FLAG_XOR)) == 0) h->flags |= ZRC_FLAG_REPLACE;
    if (frame_format == 0) frame_format = h->frame_format;
    // Refused before anything changes, so that the handle keeps a format it can code.
    if (!isFrameFormat(frame_format)) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Invalid frame format %u", "ZRC", h->last_id, frame_format);
        return -3;
    }
    // Frames the decoder would refuse are not made.
    if (!zrc::convertibleFrame(frame_format, static_cast<int>(h->matrix))) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Frame format %#08X has no matrix %u form", "ZRC", h->last_id,
                frame_format, h->matrix);
        return -3;
    }
    const int pixel_bytes = zrc::convertedPixelBytes(h->image_format);
    if (pixel_bytes == 0) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Cannot encode image format %#08X", "ZRC", h->last_id,
                h->image_format);
        return -3;
    }
    if (quality > 5) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Invalid encode quality %u, over maximum %u", "ZRC", h->last_id,
                quality, 5u);
        return -5;
    }
    if (!reservePacked(h, h->mapsize / 4 + h->paddedPixels() * 3)) {
        zrc_log(ZRC_LOG_ERROR, "%s: Memory not enough", "ZRC");
        return -4;
    }
    const uint32_t now = zrc::tickMs();
    if (h->command == 1) {
        h->diff_type = ZRC_DIFF_ABSOLUTE;
        h->last_id = 0;
        h->last_tick = now;
    }
    h->last_timestamp = now;

    const uint8_t* pixels = static_cast<const uint8_t*>(image);
    uint32_t predictions;
    const bool absolute =
        h->diff_type == ZRC_DIFF_ABSOLUTE || frame_format != h->frame_format || quality != h->quality;
    if (absolute) {
        if (quality != h->quality) {
            zrc_log(ZRC_LOG_INFO, "%s: [%u] Encode quality changed from %d to %u", "ZRC", h->last_id,
                    static_cast<int>(h->quality), quality);
            h->quality = quality;
        }
        if (frame_format != h->frame_format) {
            zrc_log(ZRC_LOG_INFO, "%s: [%u] Encode frame format changed from %#08X to %#08X", "ZRC",
                    h->last_id, h->frame_format, frame_format);
            h->frame_format = frame_format;
        }
        std::memset(h->time_map, 1, h->mapsize);
        predictions = h->mapsize;
        std::memcpy(h->work[0], pixels,
                    static_cast<size_t>(h->width) * static_cast<size_t>(h->height) *
                        static_cast<size_t>(pixel_bytes));
        h->diff_type = ZRC_DIFF_ABSOLUTE;
    } else {
        predictions =
            zrc::detectChanges(pixels, h->work[0], h->time_map, h->mapsize, static_cast<int>(h->matrix),
                               h->width, h->height, pixel_bytes, (h->flags & ZRC_FLAG_MULTICORE) != 0);
    }
    zrc::OverlapFix overlap;
    if (absolute) {
        h->owed.clear();
        overlap = zrc::planOverlap(*h, pixels, true);
    } else {
        // Blocks whose DC an earlier frame moved are coded again at the finest quality, even on a still
        // screen, when this frame can then carry the map's last entries without moving a DC.
        std::vector<uint32_t> added;
        for (const uint32_t b : h->owed) {
            if (b < h->mapsize && h->time_map[b] == 0) {
                h->time_map[b] = 1;
                added.push_back(b);
            }
        }
        predictions += static_cast<uint32_t>(added.size());
        if (predictions > 0) overlap = zrc::planOverlap(*h, pixels, false);
        if (!added.empty() && overlap.moved()) {
            for (const uint32_t b : added)
                h->time_map[b] = 0;
            predictions -= static_cast<uint32_t>(added.size());
            overlap = predictions > 0 ? zrc::planOverlap(*h, pixels, false) : zrc::OverlapFix{};
        }
        if (predictions == 0) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return 0;
        }
    }
    zrc::commitOverlap(*h, overlap, &predictions);
    return codeFrame(h, pixels, static_cast<uint8_t*>(frame), predictions, absolute, overlap, now);
}

extern "C" int zrc_absolute_frame(ZrcHandle* handle, void* frame) {
    if (checkedHandle(handle) == nullptr) return -1;
    std::lock_guard<std::mutex> lock(handle->lock);
    ZrcHandle* h = handle;
    if (!configured(*h)) return notInitialized();
    // Nothing encoded since the (re)configuration: there is no picture to rebuild.
    if (h->last_id == 0 || h->command == 1) {
        zrc_log(ZRC_LOG_ERROR, "%s: Absolute frame unavailable", "ZRC");
        return -3;
    }
    for (uint32_t b = 0; b < h->mapsize; ++b)
        h->time_map[b] |= 1;
    const size_t map_bytes = h->mapsize / 4;
    zrc::packBlockMap(h->time_map, h->mapsize, h->work[5]);
    std::memcpy(h->work[5] + map_bytes, h->work[4], h->trans_length);
    zrc::settleOverlapKept(*h, h->work[5] + map_bytes);
    const Packed packed = packCandidate(h, 0, h->work[5], map_bytes + h->trans_length);
    if (packed.format == 0) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Compression failed, format=%u, ret=%d", "ZRC", h->last_id,
                ZRC_PACK_RLE, static_cast<int>(packed.length));
        return -4;
    }
    ZrcFrameHeader f = headerFor(*h);
    f.id = h->last_id - 1;
    f.predictions = h->mapsize;
    f.diff_type = ZRC_DIFF_ABSOLUTE;
    f.diff_length = h->trans_length;
    f.timestamp = h->last_timestamp;
    ++h->frame_count;
    ++h->absolute_count;
    return finishFrame(f, packed, h->packed[0].data(), static_cast<uint8_t*>(frame));
}

extern "C" int zrc_frame_format_supported(uint32_t frame_format, int matrix) {
    return zrc::convertibleFrame(frame_format, matrix) ? 1 : 0;
}

extern "C" int zrc_frame_capacity(ZrcHandle* handle) {
    if (checkedHandle(handle) == nullptr) return -1;
    std::lock_guard<std::mutex> lock(handle->lock);
    if (handle->mapsize == 0) return -2;
    return static_cast<int>(ZRC_HEADER_SIZE + payloadLimit(*handle));
}
