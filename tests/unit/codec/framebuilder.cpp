#include "tests/unit/codec/framebuilder.h"

#include <cstring>

#include "codec/blockmap.h"
#include "codec/frameheader.h"
#include "codec/lz.h"
#include "codec/wordrle.h"

namespace zrctest {

std::vector<uint8_t> unpackedPayload(const FrameSpec& desc) {
    const uint32_t mapsize = desc.geometry.mapsize();
    const size_t map_bytes = mapsize / 4;
    std::vector<uint8_t> payload(map_bytes + desc.section.size() + 4, 0);
    zrc::packBlockMap(desc.map.data(), mapsize, payload.data());
    payload.resize(map_bytes + desc.section.size());
    if (!desc.section.empty())
        std::memcpy(payload.data() + map_bytes, desc.section.data(), desc.section.size());
    return payload;
}

std::vector<uint8_t> buildFrame(const FrameSpec& desc) {
    const std::vector<uint8_t> payload = unpackedPayload(desc);
    std::vector<uint8_t> frame(ZRC_HEADER_SIZE + zrc::lzBound(payload.size()) +
                               zrc::rleBound(payload.size()));
    size_t packed = 0;
    if (desc.pack_format == ZRC_PACK_LZ) {
        packed = zrc::lzPack(payload.data(), payload.size(), frame.data() + ZRC_HEADER_SIZE);
    } else if (desc.pack_format == ZRC_PACK_RLE) {
        packed = zrc::rlePack(payload.data(), payload.size(), frame.data() + ZRC_HEADER_SIZE);
    }
    frame.resize(ZRC_HEADER_SIZE + packed);

    uint32_t coded = 0;
    for (uint8_t entry : desc.map)
        coded += entry != 0;
    ZrcFrameHeader h{};
    h.magic = ZRC_MAGIC;
    h.version = desc.version;
    h.id = desc.id;
    h.command = desc.command;
    h.width = desc.geometry.width;
    h.height = desc.geometry.height;
    h.matrix = static_cast<uint32_t>(desc.geometry.matrix);
    h.predictions = desc.predictions >= 0 ? static_cast<uint32_t>(desc.predictions) : coded;
    h.frame_format = desc.frame_format;
    h.frame_bits = 8;
    h.trans_format = 1;
    h.trans_bits = 8;
    h.trans_length = desc.trans_length >= 0                ? static_cast<uint32_t>(desc.trans_length)
                     : desc.diff_type == ZRC_DIFF_ABSOLUTE ? static_cast<uint32_t>(desc.section.size())
                                                           : 0;
    h.quality = desc.quality;
    h.diff_type = desc.diff_type;
    h.diff_length = static_cast<uint32_t>(desc.section.size());
    h.pack_format = desc.pack_format;
    h.pack_length = static_cast<uint32_t>(packed);
    h.timestamp = desc.timestamp;
    zrc::writeHeader(h, frame.data());
    return frame;
}

FrameSpec absoluteSpec(const Geometry& g, uint32_t frame_format, const std::vector<uint8_t>& planes,
                       uint8_t entry) {
    FrameSpec desc;
    desc.geometry = g;
    desc.frame_format = frame_format;
    desc.map.assign(g.mapsize(), entry);
    desc.section = planes;
    return desc;
}

FrameSpec relativeSpec(const Geometry& g, uint32_t frame_format, uint32_t diff_type,
                       const std::vector<uint8_t>& map, const std::vector<uint8_t>& planes, uint32_t id) {
    FrameSpec desc;
    desc.geometry = g;
    desc.frame_format = frame_format;
    desc.diff_type = diff_type;
    desc.id = id;
    desc.map = map;
    for (int plane = 0; plane < 3; ++plane) {
        const size_t bytes = static_cast<size_t>(g.edge(plane) * g.edge(plane));
        for (uint32_t b = 0; b < g.mapsize(); ++b) {
            if (map[b] == 0) continue;
            const uint8_t* block = planes.data() + g.blockOffset(plane, b);
            desc.section.insert(desc.section.end(), block, block + bytes);
        }
    }
    return desc;
}

}  // namespace zrctest
