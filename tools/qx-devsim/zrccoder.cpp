#include "tools/qx-devsim/zrccoder.h"

#include <cstdio>

namespace {

// Bytes R, G, B, 255 in memory.
constexpr uint32_t kImageFormat = 44;

}  // namespace

ZrcCoder::~ZrcCoder() {
    zrc_release(handle_);
}

bool ZrcCoder::open(const DevsimOptions& options, std::string* error) {
    // A combination the client's decoder refuses would leave its window black: refused here instead.
    if (zrc_frame_format_supported(options.frameFormat, static_cast<int>(options.matrix)) != 1) {
        char text[96];
        snprintf(text, sizeof text, "frame format 0x%X cannot be coded with matrix %u", options.frameFormat,
                 options.matrix);
        *error = text;
        return false;
    }
    handle_ = zrc_create();
    if (!handle_ || zrc_configure(handle_, static_cast<int>(options.matrix), options.width, options.height,
                                  kImageFormat) < 0) {
        *error = "the ZRC encoder refused its settings";
        return false;
    }
    const int capacity = zrc_frame_capacity(handle_);
    if (capacity <= 0) {
        *error = "the ZRC encoder has no frame capacity";
        return false;
    }
    frame_.resize(static_cast<size_t>(capacity));
    quality_ = options.quality;
    frameFormat_ = options.frameFormat;
    absoluteEvery_ = options.absoluteEvery;
    return true;
}

std::vector<uint8_t> ZrcCoder::config() {
    // The client reads a ZRC stream's config payload and does not use it; it must not be empty.
    return {'Z', 'R', 'C', '2'};
}

bool ZrcCoder::encode(const uint8_t* rgba, int64_t n, std::vector<uint8_t>* payload) {
    payload->clear();
    if (absoluteEvery_ > 0 && n > 1 && (n - 1) % absoluteEvery_ == 0) zrc_reset_encoder(handle_);
    const int r = zrc_encode(handle_, rgba, frame_.data(), quality_, frameFormat_);
    if (r < 0) return false;
    payload->assign(frame_.begin(), frame_.begin() + r);
    return true;
}
