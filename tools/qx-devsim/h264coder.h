// H.264 through libavcodec's libx264 encoder: Annex B, no B-frames, zero-latency tuning, so every picture
// comes out as one access unit at once. SPS and PPS form the config payload.
#pragma once

#include "tools/qx-devsim/framecoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class H264Coder : public FrameCoder {
public:
    H264Coder() = default;
    ~H264Coder() override;
    H264Coder(const H264Coder&) = delete;
    H264Coder& operator=(const H264Coder&) = delete;

    bool open(int32_t width, int32_t height, int32_t fps, std::string* error);
    uint8_t encoderType() const override { return 1; }
    std::vector<uint8_t> config() override;
    bool encode(const uint8_t* rgba, int64_t n, std::vector<uint8_t>* payload) override;

private:
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* toYuv_ = nullptr;
    int32_t sourceWidth_ = 0;
    int32_t sourceHeight_ = 0;
};
