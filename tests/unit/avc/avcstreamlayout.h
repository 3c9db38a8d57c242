// The pictures of the H.264 test stream: each has a left half in one colour and a right half in another,
// different for every picture, so a test can tell which picture it sees and which way it is turned.
#pragma once

#include <cstdint>

namespace avcstream {

// A width that is no multiple of 16 and a height that is: decoders pad the frame to 96 columns and some say
// where the picture lies only when the height was padded too, so the padding must be cut off by the size the
// stream announced.
constexpr int32_t kWidth = 90;
constexpr int32_t kHeight = 48;
constexpr int kPictures = 6;

struct Colour {
    uint8_t r, g, b;
};

constexpr Colour kLeft[kPictures] = {{255, 0, 0},   {0, 255, 0},     {0, 0, 255},
                                     {255, 255, 0}, {255, 255, 255}, {0, 0, 0}};
constexpr Colour kRight[kPictures] = {{0, 0, 255}, {255, 0, 255}, {255, 255, 0},
                                      {0, 0, 0},   {0, 255, 255}, {255, 0, 0}};

// Picture n as width x height pixels of bytes R, G, B, unused.
inline void drawPicture(int n, uint8_t* pixels) {
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const Colour& c = x < kWidth / 2 ? kLeft[n] : kRight[n];
            uint8_t* p = pixels + (static_cast<size_t>(y) * kWidth + x) * 4;
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = 0;
        }
    }
}

}  // namespace avcstream
