// Makes real H.264 streams for the tests and benchmarks: libx264 through libavcodec, Annex B, no frame
// delay, SPS/PPS apart as a stream's config payload.
#pragma once

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class H264Encoder {
public:
    H264Encoder(int32_t width, int32_t height);
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    bool ok() const { return context_ != nullptr; }
    // SPS and PPS, Annex B.
    std::vector<uint8_t> config() const;
    // One access unit of a picture in one colour.
    std::vector<uint8_t> encodeSolid(uint8_t red, uint8_t green, uint8_t blue);
    // One access unit of a picture given as width x height pixels of bytes R, G, B, unused.
    std::vector<uint8_t> encodeRgbx(const uint8_t* pixels);

private:
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t pts_ = 0;
};
