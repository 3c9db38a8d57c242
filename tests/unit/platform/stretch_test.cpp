#include "platform/stretch.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using platform::Picture;
using platform::PixelFormat;

// A picture whose pixel (x, y) has red x, green y and blue 7, in the given byte order.
Picture gradient(int32_t width, int32_t height, PixelFormat format) {
    Picture picture{width, height, format, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &picture.pixels[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = format == PixelFormat::Bgrx ? 7 : static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = format == PixelFormat::Bgrx ? static_cast<uint8_t>(x) : 7;
        }
    }
    return picture;
}

uint32_t pixel(uint32_t red, uint32_t green, uint32_t blue) {
    return (red << 16) | (green << 8) | blue;
}

TEST(StretchNearest, HalvesByDroppingRowsAndColumns) {
    for (PixelFormat format : {PixelFormat::Bgrx, PixelFormat::Rgbx}) {
        std::vector<uint32_t> out(2 * 2, 0xDEADBEEF);
        platform::stretchNearest(gradient(4, 4, format), out.data(), 2, 2);
        EXPECT_EQ(out,
                  (std::vector<uint32_t>{pixel(0, 0, 7), pixel(2, 0, 7), pixel(0, 2, 7), pixel(2, 2, 7)}));
    }
}

TEST(StretchNearest, DoublesByRepeatingRowsAndColumns) {
    std::vector<uint32_t> out(4 * 2);
    platform::stretchNearest(gradient(2, 1, PixelFormat::Bgrx), out.data(), 4, 2);
    const uint32_t a = pixel(0, 0, 7), b = pixel(1, 0, 7);
    EXPECT_EQ(out, (std::vector<uint32_t>{a, a, b, b, a, a, b, b}));
}

TEST(StretchNearest, PictureShorterThanItsSizeDrawsBlack) {
    Picture picture = gradient(4, 4, PixelFormat::Bgrx);
    picture.pixels.resize(4 * 4 * 4 - 1);
    std::vector<uint32_t> out(3 * 3, 0xDEADBEEF);
    platform::stretchNearest(picture, out.data(), 3, 3);
    EXPECT_EQ(out, std::vector<uint32_t>(9, 0));
}

}  // namespace
