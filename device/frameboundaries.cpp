#include "device/frameboundaries.h"

#include <algorithm>
#include <cstring>

void FrameBoundaries::add(const uint8_t* data, size_t n) {
    while (n > 0) {
        size_t take;
        if (payloadLeft_ > 0) {
            take = static_cast<size_t>(std::min<uint64_t>(n, payloadLeft_));
            payloadLeft_ -= take;
        } else {
            take = std::min(n, static_cast<size_t>(RSUP_HEADER_SIZE) - headerBytes_);
            memcpy(header_ + headerBytes_, data, take);
            headerBytes_ += take;
            if (headerBytes_ == static_cast<size_t>(RSUP_HEADER_SIZE)) {
                headerBytes_ = 0;
                // A negative length ends the stream: that header is a whole frame of its own.
                payloadLeft_ = static_cast<uint64_t>(std::max(RsupHeader::parse(header_).payloadLength, 0));
                partial_ += take;
                if (payloadLeft_ == 0) frameEnded();
                data += take;
                n -= take;
                continue;
            }
        }
        partial_ += take;
        if (payloadLeft_ == 0 && headerBytes_ == 0) frameEnded();
        data += take;
        n -= take;
    }
}

void FrameBoundaries::frameEnded() {
    ++wholeFrames_;
    wholeBytes_ += partial_;
    partial_ = 0;
}

uint64_t FrameBoundaries::toNextHeader() const {
    if (payloadLeft_ > 0) return payloadLeft_ + RSUP_HEADER_SIZE;
    return static_cast<uint64_t>(RSUP_HEADER_SIZE) - headerBytes_;
}
