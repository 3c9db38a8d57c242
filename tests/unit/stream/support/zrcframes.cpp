#include "tests/unit/stream/support/zrcframes.h"

#include <algorithm>
#include <sstream>

#include "codec/frameheader.h"
#include "codec/lz.h"
#include "codec/wordrle.h"

namespace {

constexpr int32_t kMatrix = 8;
constexpr int32_t kBlockBytes = kMatrix * kMatrix;

int32_t blocksFor(int32_t pixels) {
    return (pixels + kMatrix - 1) / kMatrix;
}

}  // namespace

int ZrcFrameWriter::flatSample(int8_t dc) {
    // DC << 4, then 91 * 91 through the two passes of the 8-point transform, level shift 0x800000.
    const int32_t y = dc * 16 * 91 * 91 + 0x800000;
    return y < 1 ? 0 : y >= 0xFF0000 ? 255 : y >> 16;
}

ZrcFrameWriter::ZrcFrameWriter(int32_t width, int32_t height, bool lzPacked)
    : width_(width),
      height_(height),
      across_(blocksFor(width)),
      down_(blocksFor(height)),
      lzPacked_(lzPacked) {
    for (auto& plane : dc_)
        plane.assign(static_cast<size_t>(across_) * down_, kMid);
}

Rgb ZrcFrameWriter::blockColour(int32_t block) const {
    return {flatSample(dc_[0][block]), flatSample(dc_[1][block]), flatSample(dc_[2][block])};
}

std::string ZrcFrameWriter::mismatch(const platform::Picture& picture) const {
    if (picture.width != width_ || picture.height != height_) {
        std::ostringstream out;
        out << "picture is " << picture.width << "x" << picture.height;
        return out.str();
    }
    for (int32_t y = 0; y < height_; ++y) {
        for (int32_t x = 0; x < width_; ++x) {
            const Rgb want = blockColour((y / kMatrix) * across_ + x / kMatrix);
            const Rgb got = pixelAt(picture, x, y);
            if (got != want) {
                std::ostringstream out;
                out << "pixel (" << x << ", " << y << ") is " << got << ", expected " << want;
                return out.str();
            }
        }
    }
    return {};
}

std::vector<uint8_t> ZrcFrameWriter::absolute(int8_t red, int8_t green, int8_t blue) {
    const int8_t dc[3] = {red, green, blue};
    const size_t blocks = dc_[0].size();
    std::vector<uint8_t> diff(3 * blocks * kBlockBytes, 0);
    for (int p = 0; p < 3; ++p) {
        std::fill(dc_[p].begin(), dc_[p].end(), dc[p]);
        for (size_t b = 0; b < blocks; ++b)
            diff[(p * blocks + b) * kBlockBytes] = static_cast<uint8_t>(dc[p]);
    }
    // Every entry 1: coded, dequantised with quality row 0.
    return frame(ZRC_DIFF_ABSOLUTE, static_cast<uint32_t>(blocks), std::vector<uint8_t>(blocks / 4, 0x55),
                 diff);
}

std::vector<uint8_t> ZrcFrameWriter::replace(const std::vector<int32_t>& blocks, int8_t red, int8_t green,
                                             int8_t blue) {
    const int8_t dc[3] = {red, green, blue};
    return relative(ZRC_DIFF_REPLACE, blocks, dc);
}

std::vector<uint8_t> ZrcFrameWriter::xorFrame(const std::vector<int32_t>& blocks, int8_t red, int8_t green,
                                              int8_t blue) {
    const int8_t dc[3] = {red, green, blue};
    return relative(ZRC_DIFF_XOR, blocks, dc);
}

std::vector<uint8_t> ZrcFrameWriter::relative(uint32_t diffType, const std::vector<int32_t>& blocks,
                                              const int8_t dc[3]) {
    std::vector<int32_t> coded = blocks;
    std::sort(coded.begin(), coded.end());
    coded.erase(std::unique(coded.begin(), coded.end()), coded.end());
    std::vector<uint8_t> map(dc_[0].size() / 4, 0);
    for (int32_t b : coded)
        map[b / 4] |= static_cast<uint8_t>(1 << (2 * (b % 4)));
    std::vector<uint8_t> diff(3 * coded.size() * kBlockBytes, 0);
    for (int p = 0; p < 3; ++p) {
        for (size_t i = 0; i < coded.size(); ++i) {
            int8_t& held = dc_[p][coded[i]];
            const uint8_t value = diffType == ZRC_DIFF_XOR ? static_cast<uint8_t>(held ^ dc[p]) : dc[p];
            diff[(p * coded.size() + i) * kBlockBytes] = value;
            held = dc[p];
        }
    }
    return frame(diffType, static_cast<uint32_t>(coded.size()), map, diff);
}

std::vector<uint8_t> ZrcFrameWriter::frame(uint32_t diffType, uint32_t predictions,
                                           const std::vector<uint8_t>& map,
                                           const std::vector<uint8_t>& diff) {
    std::vector<uint8_t> payload(map);
    payload.insert(payload.end(), diff.begin(), diff.end());
    std::vector<uint8_t> out(ZRC_HEADER_SIZE +
                             (lzPacked_ ? zrc::lzBound(payload.size()) : zrc::rleBound(payload.size())));
    const size_t packed = lzPacked_
                              ? zrc::lzPack(payload.data(), payload.size(), out.data() + ZRC_HEADER_SIZE)
                              : zrc::rlePack(payload.data(), payload.size(), out.data() + ZRC_HEADER_SIZE);
    out.resize(ZRC_HEADER_SIZE + packed);

    const uint32_t planeBytes = static_cast<uint32_t>(across_ * down_ * kBlockBytes);
    ZrcFrameHeader header{};
    header.magic = ZRC_MAGIC;
    header.version = ZRC_VERSION;
    header.id = id_++;
    header.width = width_;
    header.height = height_;
    header.matrix = kMatrix;
    header.predictions = predictions;
    header.frame_format = ZRC_FRAME_RGB;
    header.frame_bits = 8;
    header.trans_format = 1;
    header.trans_bits = 8;
    header.trans_length = diffType == ZRC_DIFF_ABSOLUTE ? 3 * planeBytes : static_cast<uint32_t>(diff.size());
    header.quality = 2;
    header.diff_type = diffType;
    header.diff_length = static_cast<uint32_t>(diff.size());
    header.pack_format = lzPacked_ ? ZRC_PACK_LZ : ZRC_PACK_RLE;
    header.pack_length = static_cast<uint32_t>(packed);
    zrc::writeHeader(header, out.data());
    return out;
}
