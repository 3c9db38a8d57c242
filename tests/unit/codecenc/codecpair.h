#ifndef TESTS_UNIT_CODECENC_CODECPAIR_H
#define TESTS_UNIT_CODECENC_CODECPAIR_H

#include <cstdint>
#include <vector>

#include "codec/include/zrc.h"
#include "tests/unit/codecenc/screenpicture.h"

namespace zrctest {

// An encoder and a decoder handle for pictures of 32-bit pixels (image format 44), with their buffers.
class CodecPair {
public:
    CodecPair(int width, int height, int matrix);
    ~CodecPair();
    CodecPair(const CodecPair&) = delete;
    CodecPair& operator=(const CodecPair&) = delete;

    // Encodes `image` into frame(); returns zrc_encode's result.
    int encode(const std::vector<uint8_t>& image, uint32_t quality, uint32_t frame_format);
    // Decodes frame() into decoded(); returns zrc_decompress's result.
    int decode();
    // The header of frame() in its plain form.
    ZrcFrameHeader header() const;
    // Decodes zrc_absolute_frame of the encoder on a fresh decoder: the picture a late receiver sees.
    std::vector<uint8_t> lateReceiverPicture();

    ZrcHandle* encoder() { return encoder_; }
    ZrcHandle* decoder() { return decoder_; }
    std::vector<uint8_t>& frame() { return frame_; }
    int frameLength() const { return frame_length_; }
    const std::vector<uint8_t>& decoded() const { return decoded_; }

private:
    ZrcHandle* encoder_;
    ZrcHandle* decoder_;
    std::vector<uint8_t> frame_;
    int frame_length_ = 0;
    std::vector<uint8_t> decoded_;
};

}  // namespace zrctest

#endif
