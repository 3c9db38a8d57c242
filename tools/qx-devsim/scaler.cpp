#include "tools/qx-devsim/scaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

Scaler::~Scaler() {
    sws_freeContext(context_);
}

bool Scaler::convert(const uint8_t* const planes[], const int strides[], int32_t width, int32_t height,
                     int format, uint8_t* rgba) {
    context_ = sws_getCachedContext(context_, width, height, static_cast<AVPixelFormat>(format), width_,
                                    height_, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!context_) return false;
    uint8_t* out[4] = {rgba, nullptr, nullptr, nullptr};
    const int outStrides[4] = {width_ * 4, 0, 0, 0};
    return sws_scale(context_, planes, strides, 0, height, out, outStrides) == height_;
}
