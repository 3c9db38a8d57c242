// ZRC through the codec library's encoder: changed blocks only, an absolute frame first and every N pictures.
#pragma once

#include "codec/include/zrc.h"
#include "tools/qx-devsim/framecoder.h"

class ZrcCoder : public FrameCoder {
public:
    ZrcCoder() = default;
    ~ZrcCoder() override;
    ZrcCoder(const ZrcCoder&) = delete;
    ZrcCoder& operator=(const ZrcCoder&) = delete;

    bool open(const DevsimOptions& options, std::string* error);
    uint8_t encoderType() const override { return 7; }
    std::vector<uint8_t> config() override;
    bool encode(const uint8_t* rgba, int64_t n, std::vector<uint8_t>* payload) override;

private:
    ZrcHandle* handle_ = nullptr;
    uint32_t quality_ = 0;
    uint32_t frameFormat_ = 0;
    int64_t absoluteEvery_ = 0;
    std::vector<uint8_t> frame_;  // zrc_frame_capacity bytes
};
