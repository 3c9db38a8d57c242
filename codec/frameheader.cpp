// The 88-byte frame header: chained little-endian words, checksum, validity checks and the text dump.
#include "codec/frameheader.h"

#include <cstdio>
#include <cstring>

#include "codec/littleendian.h"

namespace zrc {
namespace {

void toWords(const ZrcFrameHeader& header, uint32_t* words) {
    static_assert(sizeof(ZrcFrameHeader) == ZRC_HEADER_SIZE);
    std::memcpy(words, &header, ZRC_HEADER_SIZE);
}

}  // namespace

ZrcFrameHeader restoreHeader(const uint8_t* wire) {
    uint32_t words[ZRC_HEADER_WORDS];
    words[0] = readLe32(wire);
    for (int i = 1; i < ZRC_HEADER_WORDS; ++i)
        words[i] = readLe32(wire + 4 * i) ^ words[i - 1];
    ZrcFrameHeader header;
    std::memcpy(&header, words, ZRC_HEADER_SIZE);
    return header;
}

uint32_t headerChecksum(const ZrcFrameHeader& header) {
    uint32_t words[ZRC_HEADER_WORDS];
    toWords(header, words);
    uint32_t sum = 0;
    for (int i = 0; i < ZRC_HEADER_WORDS - 1; ++i)
        sum += words[i];
    return sum;
}

void writeHeader(const ZrcFrameHeader& header, uint8_t* wire) {
    ZrcFrameHeader plain = header;
    plain.checksum = headerChecksum(plain);
    uint32_t words[ZRC_HEADER_WORDS];
    toWords(plain, words);
    writeLe32(wire, words[0]);
    for (int i = 1; i < ZRC_HEADER_WORDS; ++i)
        writeLe32(wire + 4 * i, words[i] ^ words[i - 1]);
}

}  // namespace zrc

extern "C" int zrc_check_header(const ZrcFrameHeader* header) {
    uint8_t magic[4];
    std::memcpy(magic, &header->magic, 4);
    if (header->magic != ZRC_MAGIC) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame magic %#02X %#02X %#02X %#02X", "ZRC", magic[0], magic[1],
                magic[2], magic[3]);
        return -1;
    }
    uint32_t computed = zrc::headerChecksum(*header);
    if (computed != header->checksum) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame checksum, expect %#08X, got %#08X", "ZRC", header->checksum,
                computed);
        return -2;
    }
    if (header->matrix != 8 && header->matrix != 16 && header->matrix != 32) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame matrix %u", "ZRC", header->matrix);
        return -3;
    }
    if (header->width > ZRC_MAX_EDGE || header->height > ZRC_MAX_EDGE) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame width %u height %u, over maximum %u*%u", "ZRC",
                static_cast<uint32_t>(header->width), static_cast<uint32_t>(header->height), ZRC_MAX_EDGE,
                ZRC_MAX_EDGE);
        return -4;
    }
    // An empty or negative picture cannot be configured; refused like an oversized one.
    if (header->width < 1 || header->height < 1) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame width %d height %d, below minimum 1*1", "ZRC",
                header->width, header->height);
        return -4;
    }
    if (header->pack_length > ZRC_MAX_LENGTH) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame packet length %u, over maximum %u bytes", "ZRC",
                header->pack_length, ZRC_MAX_LENGTH);
        return -5;
    }
    if (header->diff_length > ZRC_MAX_LENGTH) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame differential length %u, over maximum %u bytes", "ZRC",
                header->diff_length, ZRC_MAX_LENGTH);
        return -6;
    }
    if (header->trans_length > ZRC_MAX_LENGTH) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame transform length %u, over maximum %u bytes", "ZRC",
                header->trans_length, ZRC_MAX_LENGTH);
        return -7;
    }
    // Qualities above 5 have no dequantisation rows.
    if (header->quality > 5) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid frame quality %u, over maximum %u", "ZRC", header->quality, 5u);
        return -8;
    }
    return 0;
}

extern "C" int zrc_dump_header(const void* header, char* text) {
    ZrcFrameHeader h = zrc::restoreHeader(static_cast<const uint8_t*>(header));
    uint8_t magic[4];
    std::memcpy(magic, &h.magic, 4);
    char buffer[ZRC_HEADER_TEXT_SIZE];
    int length = std::snprintf(
        buffer, sizeof buffer,
        "magic=%02X%02X%02X%02X\nversion=%#08X\nreserved=%#08X\nid=%u\ncommand=%#08X\nwidth=%d\nheight=%d\n"
        "matrix=%u\npredictions=%u\nframe_format=%#08X\nframe_bits=%u\nframe_length=%u\ntrans_format=%#08X\n"
        "trans_bits=%u\ntrans_length=%u\nquality=%u\ndiff_type=%u\ndiff_length=%u\npack_format=%#08X\n"
        "pack_length=%u\ntimestamp=%u\nchecksum=%d\n",
        magic[0], magic[1], magic[2], magic[3], h.version, h.reserved, h.id, h.command, h.width, h.height,
        h.matrix, h.predictions, h.frame_format, h.frame_bits, h.frame_length, h.trans_format, h.trans_bits,
        h.trans_length, h.quality, h.diff_type, h.diff_length, h.pack_format, h.pack_length, h.timestamp,
        static_cast<int>(h.checksum));
    if (text == nullptr) {
        zrc_log(ZRC_LOG_DEBUG, "%s: %s", "ZRC", buffer);
        return length + 1;
    }
    std::memcpy(text, buffer, static_cast<size_t>(length) + 1);
    return length + 1;
}
