#include "tests/unit/codec/framebuilder.h"

#include <cstring>

#include "codec/blockmap.h"
#include "codec/frameheader.h"
#include "codec/lz.h"
#include "codec/wordrle.h"

namespace zrctest {

std::vector<uint8_t> unpackedPayload(const FrameSpec& spec) {
    const uint32_t mapsize = spec.geometry.mapsize();
    const size_t map_bytes = mapsize / 4;
    std::vector<uint8_t> payload(map_bytes + spec.section.size() + 4, 0);
    zrc::packBlockMap(spec.map.data(), mapsize, payload.data());
    payload.resize(map_bytes + spec.section.size());
    if (!spec.section.empty())
        std::memcpy(payload.data() + map_bytes, spec.section.data(), spec.section.size());
    return payload;
}

std::vector<uint8_t> buildFrame(const FrameSpec& spec) {
    const std::vector<uint8_t> payload = unpackedPayload(spec);
    std::vector<uint8_t> frame(ZRC_HEADER_SIZE + zrc::lzBound(payload.size()) +
                               zrc::rleBound(payload.size()));
    size_t packed = 0;
    if (spec.pack_format == ZRC_PACK_LZ) {
        packed = zrc::lzPack(payload.data(), payload.size(), frame.data() + ZRC_HEADER_SIZE);
    } else if (spec.pack_format == ZRC_PACK_RLE) {
        packed = zrc::rlePack(payload.data(), payload.size(), frame.data() + ZRC_HEADER_SIZE);
    }
    frame.resize(ZRC_HEADER_SIZE + packed);

    uint32_t coded = 0;
    for (uint8_t entry : spec.map)
        coded += entry != 0;
    ZrcFrameHeader h{};
    h.magic = ZRC_MAGIC;
    h.version = spec.version;
    h.id = spec.id;
    h.command = spec.command;
    h.width = spec.geometry.width;
    h.height = spec.geometry.height;
    h.matrix = static_cast<uint32_t>(spec.geometry.matrix);
    h.predictions = spec.predictions >= 0 ? static_cast<uint32_t>(spec.predictions) : coded;
    h.frame_format = spec.frame_format;
    h.frame_bits = 8;
    h.trans_format = 1;
    h.trans_bits = 8;
    h.trans_length = spec.trans_length >= 0                ? static_cast<uint32_t>(spec.trans_length)
                     : spec.diff_type == ZRC_DIFF_ABSOLUTE ? static_cast<uint32_t>(spec.section.size())
                                                           : 0;
    h.quality = spec.quality;
    h.diff_type = spec.diff_type;
    h.diff_length = static_cast<uint32_t>(spec.section.size());
    h.pack_format = spec.pack_format;
    h.pack_length = static_cast<uint32_t>(packed);
    h.timestamp = spec.timestamp;
    zrc::writeHeader(h, frame.data());
    return frame;
}

FrameSpec absoluteSpec(const Geometry& g, uint32_t frame_format, const std::vector<uint8_t>& planes,
                       uint8_t entry) {
    FrameSpec spec;
    spec.geometry = g;
    spec.frame_format = frame_format;
    spec.map.assign(g.mapsize(), entry);
    spec.section = planes;
    return spec;
}

FrameSpec relativeSpec(const Geometry& g, uint32_t frame_format, uint32_t diff_type,
                       const std::vector<uint8_t>& map, const std::vector<uint8_t>& planes, uint32_t id) {
    FrameSpec spec;
    spec.geometry = g;
    spec.frame_format = frame_format;
    spec.diff_type = diff_type;
    spec.id = id;
    spec.map = map;
    for (int plane = 0; plane < 3; ++plane) {
        const size_t bytes = static_cast<size_t>(g.edge(plane) * g.edge(plane));
        for (uint32_t b = 0; b < g.mapsize(); ++b) {
            if (map[b] == 0) continue;
            const uint8_t* block = planes.data() + g.blockOffset(plane, b);
            spec.section.insert(spec.section.end(), block, block + bytes);
        }
    }
    return spec;
}

}  // namespace zrctest
