#include "avc/yuvconvert.h"

#include "avc/rotation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace {

struct Bgr {
    int b, g, r;
};

Bgr convertOne(uint8_t y, uint8_t u, uint8_t v) {
    Yuv420View view{&y, 1, &u, &v, 1, 1, 1, 1};
    uint8_t out[4] = {};
    yuv420ToBgrx(view, out, 4);
    EXPECT_EQ(out[3], 0);
    return Bgr{out[0], out[1], out[2]};
}

TEST(YuvConvert, StudioRangeColoursComeOutAsRgb) {
    struct Case {
        const char* name;
        uint8_t y, u, v;
        Bgr expected;
    } const cases[] = {
        {"black", 16, 128, 128, {0, 0, 0}},
        {"white", 235, 128, 128, {255, 255, 255}},
        {"red", 81, 90, 240, {0, 0, 255}},
        {"green", 145, 54, 34, {0, 255, 0}},
        {"blue", 41, 240, 110, {255, 0, 0}},
        {"below black clamps", 0, 128, 128, {0, 0, 0}},
        {"above white clamps", 255, 128, 128, {255, 255, 255}},
    };
    for (const Case& c : cases) {
        const Bgr got = convertOne(c.y, c.u, c.v);
        EXPECT_LE(std::abs(got.b - c.expected.b), 2) << c.name;
        EXPECT_LE(std::abs(got.g - c.expected.g), 2) << c.name;
        EXPECT_LE(std::abs(got.r - c.expected.r), 2) << c.name;
    }
}

// A 3 x 3 picture: four chroma samples, one per 2 x 2 block (the last row and column have their own).
// Interleaved (NV12) and planar layouts of the same picture give the same pixels, each from its own block.
TEST(YuvConvert, EachPixelTakesTheChromaOfItsBlockInEveryLayout) {
    const std::vector<uint8_t> luma(3 * 3, 128);
    const uint8_t u[4] = {90, 54, 240, 128};  // red, green, blue, grey blocks
    const uint8_t v[4] = {240, 34, 110, 128};
    const uint8_t interleaved[8] = {u[0], v[0], u[1], v[1], u[2], v[2], u[3], v[3]};
    const Yuv420View planar{luma.data(), 3, u, v, 2, 1, 3, 3};
    const Yuv420View nv12{luma.data(), 3, interleaved, interleaved + 1, 4, 2, 3, 3};
    std::vector<uint8_t> fromPlanar(3 * 3 * 4), fromNv12(3 * 3 * 4);
    yuv420ToBgrx(planar, fromPlanar.data(), 12);
    yuv420ToBgrx(nv12, fromNv12.data(), 12);
    EXPECT_EQ(fromPlanar, fromNv12);
    auto reddest = [&](int x, int y) {
        const uint8_t* p = &fromPlanar[(y * 3 + x) * 4];
        return p[2] > p[1] + 40 && p[2] > p[0] + 40;
    };
    auto bluest = [&](int x, int y) {
        const uint8_t* p = &fromPlanar[(y * 3 + x) * 4];
        return p[0] > p[1] + 40 && p[0] > p[2] + 40;
    };
    EXPECT_TRUE(reddest(0, 0) && reddest(1, 1));  // first block
    EXPECT_TRUE(bluest(0, 2) && bluest(1, 2));    // the last row's own block
    EXPECT_FALSE(reddest(2, 0) || bluest(2, 2));  // the last column has other blocks
}

// A 7x5 picture (odd edges: the last chroma column and row cover one pixel) with every sample different.
struct OddPicture {
    static constexpr int32_t kW = 7, kH = 5;
    std::array<uint8_t, kW * kH> luma{};
    std::array<uint8_t, 4 * 3> u{}, v{};
    Yuv420View view{};
    OddPicture() {
        for (size_t i = 0; i < luma.size(); ++i)
            luma[i] = static_cast<uint8_t>(16 + i * 7);
        for (size_t i = 0; i < u.size(); ++i) {
            u[i] = static_cast<uint8_t>(60 + i * 15);
            v[i] = static_cast<uint8_t>(200 - i * 11);
        }
        view = Yuv420View{luma.data(), kW, u.data(), v.data(), 4, 1, kW, kH};
    }
    OddPicture(const OddPicture&) = delete;  // view points into this one's planes
    OddPicture& operator=(const OddPicture&) = delete;
};

// Converting to a smaller size picks the pixels a nearest-neighbour stretch of the whole conversion would;
// at the picture's own size nothing changes.
TEST(YuvConvert, ScaledConversionTakesThePixelsTheStretchWould) {
    const OddPicture picture;
    const Yuv420View& view = picture.view;
    const int32_t kW = OddPicture::kW, kH = OddPicture::kH;
    std::vector<uint8_t> whole(kW * kH * 4), same(kW * kH * 4);
    yuv420ToBgrx(view, whole.data(), kW * 4);
    yuv420ToBgrxScaled(view, same.data(), kW, kH, kW * 4);
    EXPECT_EQ(same, whole);
    for (const auto& size : {std::pair{3, 2}, std::pair{1, 1}, std::pair{14, 9}}) {
        const int32_t w = size.first, h = size.second;
        std::vector<uint8_t> scaled(static_cast<size_t>(w) * h * 4);
        yuv420ToBgrxScaled(view, scaled.data(), w, h, w * 4);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t* got = &scaled[(y * w + x) * 4];
                const uint8_t* want = &whole[((y * kH / h) * kW + x * kW / w) * 4];
                EXPECT_TRUE(std::equal(got, got + 4, want)) << w << "x" << h << " at " << x << "," << y;
            }
        }
    }
}

// Turned as it is written: the same pixels as the upright conversion turned afterwards, for every angle, at
// the picture's own size, smaller and larger, odd sizes included.
TEST(YuvConvert, TurnedConversionEqualsTheUprightOneTurned) {
    const OddPicture picture;
    const Yuv420View& view = picture.view;
    const int32_t kW = OddPicture::kW, kH = OddPicture::kH;
    for (const auto& size : {std::pair{kW, kH}, std::pair{3, 2}, std::pair{1, 1}, std::pair{14, 9}}) {
        const int32_t w = size.first, h = size.second;
        std::vector<uint8_t> upright(static_cast<size_t>(w) * h * 4);
        yuv420ToBgrxScaled(view, upright.data(), w, h, w * 4);
        for (int32_t angle : {0, 90, 180, 270}) {
            std::vector<uint8_t> want(upright.size()), got(upright.size(), 0xAA);
            rotatePixels(upright.data(), w, h, w * 4, angle, want.data());
            yuv420ToBgrxTurned(view, got.data(), w, h, angle);
            EXPECT_EQ(got, want) << w << "x" << h << " turned " << angle;
        }
    }
}

}  // namespace
