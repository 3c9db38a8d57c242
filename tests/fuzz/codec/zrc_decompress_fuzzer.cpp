// Fuzzes zrc_decompress, and zrc_decode_coefficients with zrc_render at every scale, over a sequence of
// frames on one handle. Each frame in the input is a plain
// (unchained) 88-byte header followed by its payload; the harness sets pack_length to the bytes that
// follow, fixes the checksum and chains the words, so that the fuzzer reaches the payload stages. The
// reserved word steers the harness: bit 0 keeps the header bytes as they are (chained, checksum unfixed),
// bits 1-3 choose the flags, bits 4-7 the image format; bits 8-9 the scale for this frame, bit 10 decodes
// the coefficients only (rendered with a later frame), bit 11 decodes and renders in two calls.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/frameheader.h"
#include "codec/handle.h"
#include "codec/include/zrc.h"

namespace {

constexpr uint32_t kImageFormats[] = {44, 9,    14,   15,   20,   39,   51,   56,
                                      33, 0x84, 0x8C, 0x8D, 0x8E, 0x8F, 0x88, 63};
constexpr int64_t kMaxPixels = 512 * 512;  // keeps each run fast; larger sizes take the same paths

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Only emergencies: a log line per refused frame would make the file I/O the whole run.
    setenv("LOG_LEVEL", "0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZrcHandle* handle = zrc_create();
    if (handle == nullptr) return 0;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> image;
    bool first = true;
    while (size >= ZRC_HEADER_SIZE) {
        ZrcFrameHeader plain;
        std::memcpy(&plain, data, ZRC_HEADER_SIZE);
        const uint32_t steer = plain.reserved;
        const size_t available = size - ZRC_HEADER_SIZE;
        const size_t payload = plain.pack_length < available ? plain.pack_length : available;
        frame.assign(data, data + ZRC_HEADER_SIZE + payload);
        data += ZRC_HEADER_SIZE + payload;
        size -= ZRC_HEADER_SIZE + payload;
        if (first) {
            uint32_t flags = ZRC_FLAG_SMOOTH;
            if (steer & 2) flags = 0;
            if (steer & 4) flags |= ZRC_FLAG_MULTICORE;
            if (steer & 8) flags |= ZRC_FLAG_MARK_EDGES;
            zrc_clear_flags(handle, 0xFFFFFFFFu);
            zrc_set_flags(handle, flags);
            zrc_set_decode_image_format(handle, kImageFormats[(steer >> 4) & 15]);
            first = false;
        }
        if (steer & 1) {
            // Raw wire bytes: pack_length must still fit what the caller hands over.
            if (zrc::restoreHeader(frame.data()).pack_length > payload) continue;
        } else {
            plain.pack_length = static_cast<uint32_t>(payload);
            plain.checksum = zrc::headerChecksum(plain);
            zrc::writeHeader(plain, frame.data());
        }
        const ZrcFrameHeader h = zrc::restoreHeader(frame.data());
        if (h.width < 1 || h.height < 1 || h.width > 4096 || h.height > 4096 ||
            static_cast<int64_t>(h.width) * h.height > kMaxPixels) {
            continue;
        }
        // Room for the largest output the handle may be configured for: converted pixels or the planes.
        const int64_t padded = static_cast<int64_t>(h.width + 32) * (h.height + 32);
        const int64_t bytes = static_cast<int64_t>(h.width) * h.height * 4 > padded * 3
                                  ? static_cast<int64_t>(h.width) * h.height * 4
                                  : padded * 3;
        // Kept across frames: a render may draw blocks of an earlier frame's larger geometry.
        if (static_cast<size_t>(bytes) > image.size()) image.assign(static_cast<size_t>(bytes), 0);
        zrc_set_decode_scale(handle, static_cast<int>((steer >> 8) & 3));
        if (steer & 0x400) {
            zrc_decode_coefficients(handle, frame.data());
        } else if (steer & 0x800) {
            zrc_decode_coefficients(handle, frame.data());
            zrc_render(handle, image.data());
        } else {
            uint32_t quality = 0;
            zrc_decompress(handle, frame.data(), image.data(), &quality);
        }
        int area[4];
        zrc_rendered_area(handle, &area[0], &area[1], &area[2], &area[3]);
        if (area[0] < 0 || area[1] < 0 || area[2] < 0 || area[3] < 0 || area[0] + area[2] > handle->width ||
            area[1] + area[3] > handle->height)
            std::abort();
    }
    zrc_release(handle);
    return 0;
}
