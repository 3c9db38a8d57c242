#include "tests/unit/codecenc/codecpair.h"

#include <cstring>

#include "codec/frameheader.h"

namespace zrctest {

CodecPair::CodecPair(int width, int height, int matrix)
    : encoder_(zrc_create()), decoder_(zrc_create()), decoded_(static_cast<size_t>(width) * height * 4) {
    zrc_configure(encoder_, matrix, width, height, 44);
    // Smoothing depends on which blocks a frame changed; without it, every decoder of the stream agrees.
    zrc_clear_flags(decoder_, ZRC_FLAG_SMOOTH);
    frame_.resize(static_cast<size_t>(zrc_frame_capacity(encoder_)));
}

CodecPair::~CodecPair() {
    zrc_release(encoder_);
    zrc_release(decoder_);
}

int CodecPair::encode(const std::vector<uint8_t>& image, uint32_t quality, uint32_t frame_format) {
    const int result = zrc_encode(encoder_, image.data(), frame_.data(), quality, frame_format);
    frame_length_ = result > 0 ? result : 0;
    return result;
}

int CodecPair::decode() {
    return zrc_decompress(decoder_, frame_.data(), decoded_.data(), nullptr);
}

ZrcFrameHeader CodecPair::header() const {
    return zrc::restoreHeader(frame_.data());
}

std::vector<uint8_t> CodecPair::lateReceiverPicture() {
    std::vector<uint8_t> frame(frame_.size());
    std::vector<uint8_t> picture(decoded_.size());
    ZrcHandle* late = zrc_create();
    zrc_clear_flags(late, ZRC_FLAG_SMOOTH);
    if (zrc_absolute_frame(encoder_, frame.data()) <= 0 ||
        zrc_decompress(late, frame.data(), picture.data(), nullptr) <= 0) {
        picture.clear();
    }
    zrc_release(late);
    return picture;
}

}  // namespace zrctest
