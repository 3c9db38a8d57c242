#include "platform/stretch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

namespace {

using platform::Picture;
using platform::PixelFormat;
using platform::Rect;

// A picture whose pixel (x, y) has red x, green y and blue 7, in the given byte order.
Picture gradient(int32_t width, int32_t height, PixelFormat format) {
    Picture picture{width, height, format, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4),
                    nullptr};
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

// Every byte random, the unused one too, so that a byte left in place or moved to the wrong lane shows.
Picture noise(int32_t width, int32_t height, PixelFormat format, uint32_t seed) {
    Picture picture{width, height, format, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4),
                    nullptr};
    std::mt19937 random(seed);
    for (uint8_t& byte : picture.pixels)
        byte = static_cast<uint8_t>(random());
    return picture;
}

struct Size {
    int32_t width, height;
};

// Up- and down-scaling, odd sizes, one-pixel sizes, widths on both sides of the four-pixel steps.
const Size kPictures[] = {{1, 1}, {1, 7}, {7, 1}, {5, 3}, {64, 48}, {181, 97}, {720, 1280 / 8}};
const Size kWindows[] = {{1, 1}, {3, 1}, {1, 5}, {4, 4}, {7, 9}, {33, 17}, {180, 320 / 8}, {401, 211}};

TEST(StretchNearestArea, WholeWindowEqualsThePlainForm) {
    for (PixelFormat format : {PixelFormat::Bgrx, PixelFormat::Rgbx}) {
        for (const Size& source : kPictures) {
            const Picture picture = noise(source.width, source.height, format, 1);
            for (const Size& window : kWindows) {
                SCOPED_TRACE(testing::Message() << source.width << "x" << source.height << " -> "
                                                << window.width << "x" << window.height);
                const size_t pixels = static_cast<size_t>(window.width) * window.height;
                std::vector<uint32_t> plain(pixels), vector(pixels, 0xDEADBEEF);
                platform::stretchNearest(picture, plain.data(), window.width, window.height);
                platform::stretchNearestArea(picture, vector.data(), window.width, window.height,
                                             Rect{0, 0, window.width, window.height});
                ASSERT_EQ(vector, plain);
            }
        }
    }
}

// Only the area is written, with the pixels of the whole stretch; areas reaching outside are clipped.
TEST(StretchNearestArea, WritesOnlyTheAreaWithThePixelsOfTheWholeStretch) {
    const int32_t width = 37, height = 23;
    const Rect areas[] = {{0, 0, 1, 1},    {5, 3, 9, 1},     {36, 0, 1, 23}, {3, 4, 17, 11},
                          {-4, -2, 10, 8}, {30, 20, 50, 50}, {0, 0, 0, 5},   {40, 0, 3, 3}};
    for (PixelFormat format : {PixelFormat::Bgrx, PixelFormat::Rgbx}) {
        for (const Size& source : {Size{13, 9}, Size{100, 61}}) {
            const Picture picture = noise(source.width, source.height, format, 2);
            std::vector<uint32_t> whole(static_cast<size_t>(width) * height);
            platform::stretchNearest(picture, whole.data(), width, height);
            for (const Rect& area : areas) {
                SCOPED_TRACE(testing::Message() << source.width << " " << area.x << "," << area.y << " "
                                                << area.width << "x" << area.height);
                std::vector<uint32_t> out(whole.size(), 0xDEADBEEF);
                platform::stretchNearestArea(picture, out.data(), width, height, area);
                for (int32_t y = 0; y < height; ++y) {
                    for (int32_t x = 0; x < width; ++x) {
                        const bool inside =
                            x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
                        const size_t i = static_cast<size_t>(y) * width + x;
                        ASSERT_EQ(out[i], inside ? whole[i] : 0xDEADBEEF) << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(StretchNearestArea, PictureShorterThanItsSizeDrawsTheAreaBlack) {
    Picture picture = gradient(4, 4, PixelFormat::Rgbx);
    picture.pixels.pop_back();
    std::vector<uint32_t> out(3 * 3, 0xDEADBEEF);
    platform::stretchNearestArea(picture, out.data(), 3, 3, Rect{1, 1, 2, 2});
    const uint32_t k = 0xDEADBEEF;
    EXPECT_EQ(out, (std::vector<uint32_t>{k, k, k, k, 0, 0, k, 0, 0}));
}

// The stretched area of a picture area is exactly the bounding box of the window pixels taken from it.
TEST(StretchedArea, IsTheBoundingBoxOfThePixelsTakenFromTheSource) {
    const Rect sources[] = {{0, 0, 1, 1},   {2, 1, 1, 1},   {3, 2, 4, 5}, {6, 0, 1, 9}, {0, 8, 7, 1},
                            {-3, -3, 5, 5}, {5, 7, 10, 10}, {0, 0, 7, 9}, {7, 0, 2, 2}};
    for (const Size& window : {Size{2, 3}, Size{7, 9}, Size{16, 31}, Size{1, 1}}) {
        for (const Rect& source : sources) {
            int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
            for (int32_t y = 0; y < window.height; ++y) {
                for (int32_t x = 0; x < window.width; ++x) {
                    const int32_t sx = x * 7 / window.width, sy = y * 9 / window.height;
                    if (sx < source.x || sx >= source.x + source.width || sy < source.y ||
                        sy >= source.y + source.height)
                        continue;
                    left = std::min(left, x), top = std::min(top, y);
                    right = std::max(right, x), bottom = std::max(bottom, y);
                }
            }
            const Rect expected = right < 0 ? Rect{} : Rect{left, top, right - left + 1, bottom - top + 1};
            EXPECT_EQ(platform::stretchedArea(source, 7, 9, window.width, window.height), expected)
                << window.width << "x" << window.height << " from " << source.x << "," << source.y << " "
                << source.width << "x" << source.height;
        }
    }
}

// A window that shrank a lot does not keep the image of its largest size; a small shrink keeps the memory.
TEST(SizeImage, GivesMemoryBackWhenTheWindowShrinksALot) {
    std::vector<uint32_t> image;
    platform::sizeImage(image, 1000);
    platform::sizeImage(image, 600);
    EXPECT_EQ(image.size(), 600u);
    EXPECT_GE(image.capacity(), 1000u);
    platform::sizeImage(image, 100);
    EXPECT_EQ(image.size(), 100u);
    EXPECT_LT(image.capacity(), 1000u);
}

}  // namespace
