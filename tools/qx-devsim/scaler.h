// Converts pictures of any size and FFmpeg pixel format to the stream's size as bytes R, G, B, 255.
#pragma once

#include <cstdint>

struct SwsContext;

class Scaler {
public:
    Scaler(int32_t width, int32_t height) : width_(width), height_(height) {}
    ~Scaler();
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;

    // planes / strides as FFmpeg lays them out; format an AVPixelFormat. False when no conversion exists.
    bool convert(const uint8_t* const planes[], const int strides[], int32_t width, int32_t height,
                 int format, uint8_t* rgba);

private:
    int32_t width_;
    int32_t height_;
    SwsContext* context_ = nullptr;  // reused while the input geometry stays the same
};
