#include "avc/mftavc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/headlesswindow.h"
#include "tests/unit/stream/support/h264encoder.h"
#include "tests/unit/stream/support/pictures.h"

namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr int kTolerance = 12;

class MftavcTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(encoder.ok()) << "libx264 missing from libavcodec";
        const std::vector<uint8_t> config = encoder.config();
        ASSERT_FALSE(config.empty());
        MftavcWindow descriptor{&window, 0};
        decoder = mftavc_decoder_init(config.data(), static_cast<int32_t>(config.size()), kWidth, kHeight, 1,
                                      &descriptor, kWidth, kHeight);
        ASSERT_NE(decoder, nullptr);
    }
    void TearDown() override { mftavc_decoder_release(decoder); }

    int32_t decode(const std::vector<uint8_t>& unit, int32_t rotation = 0) {
        return mftavc_decode(decoder, nullptr, unit.data(), static_cast<int32_t>(unit.size()), 0, 0, 0, 0,
                             rotation, 0);
    }

    // A row of 90 pixels is no multiple of any vector width: converters must stay inside the picture.
    static constexpr int32_t kWidth = 90, kHeight = 50;
    H264Encoder encoder{kWidth, kHeight};
    platform::HeadlessWindow window{{0, 0, kWidth, kHeight}, platform::ShowState::Normal};
    MftavcDecoder* decoder = nullptr;
};

TEST_F(MftavcTest, PresentsEachPictureInItsColours) {
    ASSERT_EQ(decode(encoder.encodeSolid(255, 0, 0)), 1);
    auto picture = window.presented();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, kWidth);
    EXPECT_EQ(picture->height, kHeight);
    EXPECT_TRUE(near(pixelAt(*picture, 10, 10), kRed, kTolerance)) << pixelAt(*picture, 10, 10);

    ASSERT_EQ(decode(encoder.encodeSolid(0, 0, 255)), 1);
    picture = window.presented();
    EXPECT_TRUE(near(pixelAt(*picture, kWidth - 1, kHeight - 1), kBlue, kTolerance))
        << pixelAt(*picture, kWidth - 1, kHeight - 1);
}

TEST_F(MftavcTest, TurnsPicturesAndRepaintsOnWindowMessage) {
    // Left half red, right half blue.
    std::vector<uint8_t> pixels(kWidth * kHeight * 4, 0);
    for (int32_t i = 0; i < kWidth * kHeight; ++i) {
        const bool left = i % kWidth < kWidth / 2;
        pixels[i * 4] = left ? 255 : 0;
        pixels[i * 4 + 2] = left ? 0 : 255;
    }
    ASSERT_EQ(decode(encoder.encodeRgbx(pixels.data()), 90), 1);
    auto picture = window.presented();
    // Turned, the picture is 50 x 90: converted for the 90 x 50 window, it is 50 wide (the window stretches
    // it) and 50 high.
    ASSERT_EQ(picture->width, kHeight);
    ASSERT_EQ(picture->height, kHeight);
    // Turned clockwise: the left half is now on top.
    EXPECT_TRUE(near(pixelAt(*picture, 10, 4), kRed, kTolerance)) << pixelAt(*picture, 10, 4);
    EXPECT_TRUE(near(pixelAt(*picture, 10, kHeight - 4), kBlue, kTolerance));

    mftavc_decode_winmessage(decoder, 0, 0, kWidth, kHeight, 180, 1);
    picture = window.presented();
    ASSERT_EQ(picture->width, kWidth);
    EXPECT_TRUE(near(pixelAt(*picture, kWidth - 4, 10), kRed, kTolerance));
    EXPECT_TRUE(near(pixelAt(*picture, 4, 10), kBlue, kTolerance));

    // Without the repaint flag only later pictures turn.
    window.paint();
    mftavc_decode_winmessage(decoder, 0, 0, kWidth, kHeight, 0, 0);
    EXPECT_TRUE(window.paint().empty());
    EXPECT_EQ(window.presented()->pixels, picture->pixels);
}

// Pictures are converted at the size the window shows, never beyond their own, and again at once when the
// window changes; a picture a newer one follows is decoded without being shown.
TEST_F(MftavcTest, ConvertsOnlyPicturesToShowAtTheShownSize) {
    const std::vector<uint8_t> red = encoder.encodeSolid(255, 0, 0);
    ASSERT_EQ(mftavc_decode_only(decoder, red.data(), static_cast<int32_t>(red.size())), 1);
    EXPECT_FALSE(window.presented());

    ASSERT_EQ(decode(encoder.encodeSolid(0, 0, 255)), 1);
    ASSERT_TRUE(window.presented());
    EXPECT_EQ(window.presented()->width, kWidth);
    mftavc_decode_winmessage(decoder, 0, 0, kWidth / 4, kHeight / 4, 0, 1);
    auto picture = window.presented();
    EXPECT_EQ(picture->width, kWidth / 4);
    EXPECT_EQ(picture->height, kHeight / 4);
    EXPECT_TRUE(near(pixelAt(*picture, 3, 3), kBlue, kTolerance)) << pixelAt(*picture, 3, 3);

    ASSERT_EQ(decode(encoder.encodeSolid(0, 255, 0)), 1);
    EXPECT_EQ(window.presented()->width, kWidth / 4);
    mftavc_decode_winmessage(decoder, 0, 0, kWidth * 2, kHeight * 2, 0, 1);
    picture = window.presented();
    EXPECT_EQ(picture->width, kWidth);
    EXPECT_EQ(picture->height, kHeight);
    EXPECT_TRUE(near(pixelAt(*picture, kWidth - 1, kHeight - 1), {0, 255, 0}, kTolerance));
    EXPECT_EQ(mftavc_decode_only(nullptr, red.data(), 1), -1);
}

// A window a few times lower than the picture is converted from every few rows of it only: each row shown
// is still the colour of the picture's row at its place, in luma and chroma alike.
TEST_F(MftavcTest, ShowsTheRightRowsInAMuchLowerWindow) {
    // Bands of red, blue and green, each many rows high.
    std::vector<uint8_t> pixels(kWidth * kHeight * 4, 0);
    for (int32_t y = 0; y < kHeight; ++y) {
        const Rgb band = y < 16 ? kRed : y < 32 ? kBlue : Rgb{0, 255, 0};
        for (int32_t x = 0; x < kWidth; ++x) {
            pixels[(y * kWidth + x) * 4 + 0] = static_cast<uint8_t>(band.r);
            pixels[(y * kWidth + x) * 4 + 1] = static_cast<uint8_t>(band.g);
            pixels[(y * kWidth + x) * 4 + 2] = static_cast<uint8_t>(band.b);
        }
    }
    mftavc_decode_winmessage(decoder, 0, 0, kWidth / 3, kHeight / 4, 0, 0);
    ASSERT_EQ(decode(encoder.encodeRgbx(pixels.data())), 1);
    const auto picture = window.presented();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->height, kHeight / 4);
    const struct {
        int32_t row;
        Rgb colour;
    } rows[] = {{1, kRed}, {6, kBlue}, {10, {0, 255, 0}}};
    for (const auto& r : rows) {
        for (const int32_t x : {0, kWidth / 6, kWidth / 3 - 1}) {
            EXPECT_TRUE(near(pixelAt(*picture, x, r.row), r.colour, kTolerance))
                << "row " << r.row << " column " << x << ": " << pixelAt(*picture, x, r.row);
        }
    }
}

// Each unit is copied into a buffer the decoder gets again for the next one: a small unit after a large one
// is decoded from its own bytes only, never with the rest of the one before.
TEST_F(MftavcTest, DecodesUnitsOfChangingSizesFromTheirOwnBytes) {
    // Noise in the top left third makes a large unit; the colours are checked away from it, where a solid
    // picture after it is exact at once.
    std::vector<uint8_t> noisy(kWidth * kHeight * 4, 0);
    uint32_t seed = 7;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            uint8_t* p = &noisy[(y * kWidth + x) * 4];
            const bool noise = x < kWidth / 3 && y < kHeight / 3;
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1103515245 + 12345;
                p[c] = noise ? static_cast<uint8_t>(seed >> 16) : c == 0 ? 255 : 0;
            }
        }
    }
    // In the order coded: each unit refers to the picture before it.
    const struct {
        bool noisy;
        Rgb colour;
    } steps[] = {{true, {}}, {false, kRed}, {true, {}}, {false, kBlue}, {false, kRed}};
    size_t largest = 0;
    for (const auto& step : steps) {
        const std::vector<uint8_t> unit = step.noisy
                                              ? encoder.encodeRgbx(noisy.data())
                                              : encoder.encodeSolid(static_cast<uint8_t>(step.colour.r),
                                                                    static_cast<uint8_t>(step.colour.g),
                                                                    static_cast<uint8_t>(step.colour.b));
        if (!step.noisy) {
            EXPECT_LT(4 * unit.size(), largest);
        }
        largest = std::max(largest, unit.size());
        ASSERT_EQ(decode(unit), 1);
        if (step.noisy) continue;
        const auto picture = window.presented();
        for (const auto& [x, y] :
             {std::pair{kWidth - 1, 0}, std::pair{kWidth / 2, kHeight / 2}, std::pair{0, kHeight - 1}})
            EXPECT_TRUE(near(pixelAt(*picture, x, y), step.colour, kTolerance))
                << x << "," << y << ": " << pixelAt(*picture, x, y);
    }
}

// A repaint shows the newest picture decoded, also when it was decoded without being shown: the picture
// kept for it is always the newest.
TEST_F(MftavcTest, RepaintsTheNewestPictureDecoded) {
    ASSERT_EQ(decode(encoder.encodeSolid(255, 0, 0)), 1);
    const std::vector<uint8_t> blue = encoder.encodeSolid(0, 0, 255);
    ASSERT_EQ(mftavc_decode_only(decoder, blue.data(), static_cast<int32_t>(blue.size())), 1);
    EXPECT_TRUE(near(pixelAt(*window.presented(), 5, 5), kRed, kTolerance));
    mftavc_decode_winmessage(decoder, 0, 0, kWidth / 2, kHeight / 2, 0, 1);
    const auto picture = window.presented();
    EXPECT_EQ(picture->width, kWidth / 2);
    EXPECT_TRUE(near(pixelAt(*picture, 5, 5), kBlue, kTolerance)) << pixelAt(*picture, 5, 5);
}

TEST_F(MftavcTest, RejectsDamagedDataWithoutHarm) {
    const std::vector<uint8_t> junk = {0, 0, 0, 1, 0x65, 0xFF, 0x00, 0x13, 0x77, 0x12, 0x00, 0x00, 0x01};
    EXPECT_LE(decode(junk), 0);
    EXPECT_EQ(mftavc_decode(decoder, nullptr, nullptr, 10, 0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(mftavc_decode(decoder, nullptr, junk.data(), 0, 0, 0, 0, 0, 0, 0), -1);
    // The stream goes on afterwards.
    EXPECT_EQ(decode(encoder.encodeSolid(0, 0, 255)), 1);
}

TEST(Mftavc, RefusesImpossibleSetUp) {
    const uint8_t config[] = {0, 0, 0, 1, 0x67};
    EXPECT_EQ(mftavc_decoder_init(config, -1, 64, 64, 1, nullptr, 0, 0), nullptr);
    EXPECT_EQ(mftavc_decoder_init(nullptr, 5, 64, 64, 1, nullptr, 0, 0), nullptr);
    EXPECT_EQ(mftavc_decoder_init(config, 5, 4097, 64, 1, nullptr, 0, 0), nullptr);
    EXPECT_EQ(mftavc_decoder_init(config, 5, 64, -1, 1, nullptr, 0, 0), nullptr);
    // No config and no window: a decoder that takes its parameters in band.
    MftavcDecoder* bare = mftavc_decoder_init(nullptr, 0, 0, 0, 1, nullptr, 0, 0);
    EXPECT_NE(bare, nullptr);
    mftavc_decoder_release(bare);
    mftavc_decoder_release(nullptr);
}

}  // namespace
