#include "decoder/decodeandrender.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "codec/include/zrc.h"
#include "decoder/avcdecoder.h"
#include "decoder/zrcdecoder.h"
#include "platform/headlesswindow.h"
#include "tests/unit/stream/support/countingwindow.h"
#ifndef _WIN32
#include "tests/unit/stream/support/h264encoder.h"  // libx264 through FFmpeg: Linux only
#endif
#include "tests/unit/stream/support/logcapture.h"
#include "tests/unit/stream/support/pictures.h"
#include "tests/unit/stream/support/zrcframes.h"

namespace {

using W = ZrcFrameWriter;
constexpr int32_t kWidth = 64, kHeight = 32;  // 8 x 4 blocks

// How many WM_SET_RENDERER messages naming renderer were posted since the last call; each is taken as the
// window takes it.
int renderersAnnounced(platform::HeadlessWindow& window, DecodeAndRender& renderer) {
    constexpr uint32_t kSentinel = 0xFFFF;
    window.postMessage({kSentinel, 0, 0});
    int n = 0;
    for (platform::Message m; window.getMessage(m) && m.message != kSentinel;) {
        if (m.message == platform::WM_SET_RENDERER && m.lParam == reinterpret_cast<intptr_t>(&renderer)) {
            ++n;
            renderer.noticeTaken();
        }
    }
    return n;
}

int32_t decode(DecodeAndRender& renderer, const std::vector<uint8_t>& frame) {
    return renderer.decodeRecvVideo(0, 7, frame.data(), 0, static_cast<int32_t>(frame.size()));
}

class ZrcRender : public ::testing::Test {
protected:
    void SetUp() override {
        renderer.setHwnd(&window);
        ASSERT_EQ(renderer.initDecRender(7, 0, kWidth, kHeight), 0);
        EXPECT_EQ(renderersAnnounced(window, renderer), 1);
    }
    LogCapture log;
    platform::HeadlessWindow window{{0, 0, 320, 160}, platform::ShowState::Normal};
    DecodeAndRender renderer;
    ZrcFrameWriter writer{kWidth, kHeight};
};

TEST_F(ZrcRender, PaintsAbsoluteReplaceAndXorFramesInTheirColours) {
    const struct {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
    } steps[] = {
        {"absolute red", [&] { return writer.absolute(W::kHigh, W::kLow, W::kLow); }},
        {"replace blue",
         [&] {
             return writer.replace({0, 9, 31}, W::kLow, W::kLow, W::kHigh);
         }},
        {"xor green",
         [&] {
             return writer.xorFrame({9, 10}, W::kLow, W::kHigh, W::kLow);
         }},
        {"replace grey", [&] { return writer.replace({31}, W::kMid, W::kMid, W::kMid); }},
    };
    for (const auto& step : steps) {
        ASSERT_EQ(decode(renderer, step.make()), 0) << step.name;
        EXPECT_EQ(renderersAnnounced(window, renderer), 1) << step.name;
        auto picture = window.presented();
        ASSERT_TRUE(picture) << step.name;
        EXPECT_EQ(writer.mismatch(*picture), "") << step.name;
    }
    // The same picture, by hand: red, blue, green and grey blocks where the frames put them.
    auto picture = window.presented();
    EXPECT_EQ(pixelAt(*picture, 0, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(pixelAt(*picture, 8 * 1 + 3, 8 * 1 + 3), (Rgb{0, 255, 0}));         // block 9
    EXPECT_EQ(pixelAt(*picture, 8 * 2 + 7, 8 * 1), (Rgb{0, 255, 0}));             // block 10
    EXPECT_EQ(pixelAt(*picture, 8 * 4, 0), (Rgb{255, 0, 0}));                     // block 4
    EXPECT_EQ(pixelAt(*picture, kWidth - 1, kHeight - 1), (Rgb{128, 128, 128}));  // block 31
}

TEST_F(ZrcRender, SkipsFrameAfterIdGapAndRecoversAtNextAbsolute) {
    ASSERT_EQ(decode(renderer, writer.absolute(W::kHigh, W::kLow, W::kLow)), 0);
    auto red = window.presented();
    EXPECT_FALSE(window.paint().empty());
    writer.skipId();
    ASSERT_EQ(decode(renderer, writer.replace({0}, W::kLow, W::kLow, W::kHigh)), 0);
    // The codec said why it dropped the frame; nothing failed.
    EXPECT_EQ(log.count("ZRC decode failed"), 0);
    EXPECT_EQ(log.count("H264 decode failed"), 0);
    EXPECT_TRUE(window.paint().empty()) << "a dropped frame paints nothing";
    EXPECT_EQ(window.presented()->pixels, red->pixels);

    ASSERT_EQ(decode(renderer, writer.absolute(W::kLow, W::kLow, W::kHigh)), 0);
    auto picture = window.presented();
    EXPECT_EQ(writer.mismatch(*picture), "");
    EXPECT_EQ(pixelAt(*picture, 5, 5), (Rgb{0, 0, 255}));
}

TEST_F(ZrcRender, FailedFrameStopsRendererAndLaterFramesAreDroppedQuietly) {
    ASSERT_EQ(decode(renderer, writer.absolute(W::kHigh, W::kLow, W::kLow)), 0);
    std::vector<uint8_t> damaged = writer.replace({1}, W::kLow, W::kLow, W::kHigh);
    damaged[0] ^= 0xFF;  // magic
    EXPECT_EQ(decode(renderer, damaged), -4);
    EXPECT_EQ(log.count("DecodeAndRender::decodeRecvVideo ZRC decode failed, isdxva = 1, returned -3"), 1);
    EXPECT_EQ(decode(renderer, writer.absolute(W::kLow, W::kLow, W::kHigh)), 0);
    EXPECT_EQ(log.count("H264 decode failed"), 0) << "a ZRC stream";
    EXPECT_EQ(log.count("ZRCDecoder::decodeRecvVideo ZRC decode failed -2"), 1);
    EXPECT_EQ(log.count("ZRC decode failed"), 2);
    renderer.forwardWinMessage(0, 0, 10, 10, 90, 1);  // no decoder: nothing happens
}

// A window busy elsewhere sees one notice, however many frames arrive meanwhile; the next frame after it took
// the notice posts another.
TEST_F(ZrcRender, OneNoticeWaitsInTheWindowQueueAtATime) {
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(decode(renderer, writer.absolute(W::kHigh, W::kLow, W::kLow)), 0);
    EXPECT_EQ(renderersAnnounced(window, renderer), 1);
    ASSERT_EQ(decode(renderer, writer.absolute(W::kLow, W::kLow, W::kHigh)), 0);
    EXPECT_EQ(renderersAnnounced(window, renderer), 1);
}

// A real coded stream: a textured picture (every block has detail) under a textured square that moves and
// changes each frame, coded by the library's encoder.
std::vector<std::vector<uint8_t>> codedStream(int32_t width, int32_t height, int matrix, uint32_t format,
                                              int frames) {
    ZrcHandle* encoder = zrc_create();
    std::vector<std::vector<uint8_t>> stream;
    if (!encoder || zrc_configure(encoder, matrix, width, height, 44) != 0) return stream;
    std::vector<uint8_t> image(static_cast<size_t>(width) * height * 4);
    std::vector<uint8_t> frame(static_cast<size_t>(zrc_frame_capacity(encoder)));
    auto texture = [](uint32_t x, uint32_t y, uint32_t seed) {
        uint32_t v = (x * 73856093u) ^ (y * 19349663u) ^ (seed * 83492791u);
        v ^= v >> 13;
        return static_cast<uint8_t>((v * 2654435761u) >> 24);
    };
    for (int f = 0; f < frames; ++f) {
        const int32_t left = (f * 13) % (width - 24), top = (f * 7) % (height - 24);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const bool square = x >= left && x < left + 24 && y >= top && y < top + 24;
                uint8_t* pixel = &image[(static_cast<size_t>(y) * width + x) * 4];
                const uint32_t seed = square ? 1000u + f : 0u;
                pixel[0] = static_cast<uint8_t>(x * 2 + texture(x, y, seed) / 4);
                pixel[1] = texture(x, y, seed + 1);
                pixel[2] = static_cast<uint8_t>(y * 3 + texture(x / 2, y / 2, seed) / 2);
                pixel[3] = 255;
            }
        }
        const int n = zrc_encode(encoder, image.data(), frame.data(), 3, format);
        if (n > 0) stream.emplace_back(frame.begin(), frame.begin() + n);
    }
    zrc_release(encoder);
    return stream;
}

// The picture a decoder that decodes and converts every frame at full size shows after the first n frames.
std::vector<uint8_t> straightDecode(const std::vector<std::vector<uint8_t>>& stream, size_t n, int32_t width,
                                    int32_t height) {
    std::vector<uint8_t> image(static_cast<size_t>(width) * height * 4);
    ZrcHandle* decoder = zrc_create();
    for (size_t i = 0; i < n; ++i)
        EXPECT_GT(zrc_decompress(decoder, stream[i].data(), image.data(), nullptr), 0);
    zrc_release(decoder);
    return image;
}

bool samePixels(const platform::Picture& picture, const std::vector<uint8_t>& image) {
    return picture.pixels.size() >= image.size() &&
           memcmp(picture.pixels.data(), image.data(), image.size()) == 0;
}

struct StreamKind {
    int matrix;
    uint32_t format;
};

class ZrcAtShownSize : public ::testing::TestWithParam<StreamKind> {
protected:
    static constexpr int32_t kW = 128, kH = 96;
    void SetUp() override {
        if (!zrc_frame_format_supported(GetParam().format, GetParam().matrix)) GTEST_SKIP();
        stream = codedStream(kW, kH, GetParam().matrix, GetParam().format, 12);
        ASSERT_EQ(stream.size(), 12u);
    }
    int32_t decode(DecodeAndRender& renderer, size_t i, bool newest = true) {
        return renderer.decodeRecvVideo(0, 7, stream[i].data(), 0, static_cast<int32_t>(stream[i].size()),
                                        newest);
    }
    LogCapture log;
    std::vector<std::vector<uint8_t>> stream;
};

// A window a quarter of the picture gets a picture of its own size; grown to the picture's size it shows,
// at once and without a new frame, exactly what a full-size decode of every frame shows.
TEST_P(ZrcAtShownSize, ScaledPictureGrownWithTheWindowEqualsAStraightDecode) {
    CountingWindow window{{0, 0, kW / 4, kH / 4}};
    DecodeAndRender renderer;
    renderer.setHwnd(&window);
    ASSERT_EQ(renderer.initDecRender(7, 0, kW, kH), 0);
    for (size_t i = 0; i < 8; ++i)
        ASSERT_EQ(decode(renderer, i), 0);
    auto picture = window.presented();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, kW / 4);
    EXPECT_EQ(picture->height, kH / 4);
    EXPECT_EQ(renderer.bitmapHeader().biWidth, kW / 4);

    // Half the picture and one pixel more does not fit 1/2: the picture comes back at full size.
    const int presents = window.presents;
    renderer.forwardWinMessage(0, 0, kW / 2 + 1, kH / 2, 0, 1);
    EXPECT_EQ(window.presents, presents + 1);
    picture = window.presented();
    ASSERT_EQ(picture->width, kW);
    ASSERT_EQ(picture->height, kH);
    EXPECT_TRUE(samePixels(*picture, straightDecode(stream, 8, kW, kH)));

    // Later frames at full size stay exact; a smaller window takes its scale with the next frame.
    ASSERT_EQ(decode(renderer, 8), 0);
    EXPECT_TRUE(samePixels(*window.presented(), straightDecode(stream, 9, kW, kH)));
    renderer.windowSized(kW / 8, kH / 8);
    EXPECT_EQ(window.presented()->width, kW) << "a shrinking window waits for the next frame";
    ASSERT_EQ(decode(renderer, 9), 0);
    EXPECT_EQ(window.presented()->width, kW / 8);
    renderer.windowSized(kW, kH);
    EXPECT_TRUE(samePixels(*window.presented(), straightDecode(stream, 10, kW, kH)));
    EXPECT_EQ(log.count("decode failed"), 0);
}

// Frames that a newer one follows are decoded but not shown: fewer presents, and the picture shown after the
// burst is exactly the straight decode.
TEST_P(ZrcAtShownSize, BurstsAreDecodedWholeAndShownOnce) {
    CountingWindow window{{0, 0, kW, kH}};
    DecodeAndRender renderer;
    renderer.setHwnd(&window);
    ASSERT_EQ(renderer.initDecRender(7, 0, kW, kH), 0);
    for (size_t i = 0; i < stream.size(); ++i) {
        const bool newest = i % 5 == 4 || i + 1 == stream.size();
        ASSERT_EQ(decode(renderer, i, newest), 0);
        if (newest) {
            EXPECT_TRUE(samePixels(*window.presented(), straightDecode(stream, i + 1, kW, kH))) << i;
        }
    }
    EXPECT_EQ(window.presents, 3);
    EXPECT_EQ(log.count("decode failed"), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, ZrcAtShownSize,
                         ::testing::Values(StreamKind{8, ZRC_FRAME_RGB}, StreamKind{8, ZRC_FRAME_YUV444},
                                           StreamKind{16, ZRC_FRAME_YUV444}, StreamKind{8, ZRC_FRAME_YUV420},
                                           StreamKind{16, ZRC_FRAME_YUV420A},
                                           StreamKind{16, ZRC_FRAME_YUV420B}));

TEST(ZrcScale, LargestShiftThatStillCoversTheWindow) {
    const struct {
        int32_t width, height, shownWidth, shownHeight, shift;
    } cases[] = {
        {720, 1280, 720, 1280, 0}, {720, 1280, 361, 640, 0}, {720, 1280, 360, 640, 1},
        {720, 1280, 180, 320, 2},  {720, 1280, 90, 160, 3},  {720, 1280, 10, 10, 3},
        {720, 1280, 0, 0, 3},      {721, 1281, 91, 161, 3},  {720, 1280, 180, 321, 1},
        {100, 50, 2000, 10, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZRCDecoder::scaleFor(c.width, c.height, c.shownWidth, c.shownHeight), c.shift)
            << c.width << "x" << c.height << " in " << c.shownWidth << "x" << c.shownHeight;
    }
}

TEST(DecodeAndRenderSetUp, RefusesWhatCannotBeShown) {
    LogCapture log;
    platform::HeadlessWindow window{{0, 0, 64, 64}, platform::ShowState::Normal};
    {
        DecodeAndRender renderer;
        // No window for H.264: an H.264 decoder without a library handle stays in place.
        const uint8_t config[] = {0, 0, 0, 1, 0x67};
        EXPECT_EQ(renderer.initAVCDecRender(config, sizeof config, 64, 64, 1, 64, 64), -1);
        EXPECT_EQ(log.count("gonna stop itself mhWnd == NULL decoder/decodeandrender:"), 1);
        renderer.forwardWinMessage(0, 0, 64, 64, 90, 1);
        // No window for a frame.
        EXPECT_EQ(renderer.decodeRecvVideo(0, 7, config, 0, sizeof config), 0);
        EXPECT_EQ(log.count("DecodeAndRender::Hwnd not initialed,so no need to decode data"), 1);
    }
    DecodeAndRender renderer;
    renderer.setHwnd(&window);
    EXPECT_EQ(renderer.initDecRender(7, 0, 0, 64), -2);
    EXPECT_EQ(renderer.initDecRender(7, 0, 64, 4097), -2);
    EXPECT_EQ(log.count("DecodeAndRender::initDecRender allocate new dec buf failed"), 2);
    EXPECT_EQ(renderersAnnounced(window, renderer), 0);
    EXPECT_EQ(renderer.initDecRender(7, 0, 64, 48), 0);
    EXPECT_EQ(renderer.bitmapHeader().biWidth, 64);
    EXPECT_EQ(renderer.bitmapHeader().biHeight, -48);
    EXPECT_EQ(renderer.bitmapHeader().biBitCount, 32);
    EXPECT_EQ(renderer.bitmapHeader().biSize, 40u);
}

// The encoder of this fixture is libx264 through FFmpeg, which the Windows build does not have; the Windows
// decoder has its own tests (mftavcwindows_test.cpp).
#ifndef _WIN32
class H264Render : public ::testing::Test {
protected:
    static constexpr int32_t kW = 96, kH = 64;
    void SetUp() override {
        ASSERT_TRUE(encoder.ok());
        renderer.setHwnd(&window);
        const std::vector<uint8_t> config = encoder.config();
        ASSERT_EQ(
            renderer.initAVCDecRender(config.data(), static_cast<int32_t>(config.size()), kW, kH, 1, kW, kH),
            0);
        EXPECT_EQ(renderersAnnounced(window, renderer), 1);
    }
    int32_t decodeUnit(const std::vector<uint8_t>& unit) {
        return renderer.decodeRecvVideo(0, 0, unit.data(), 0, static_cast<int32_t>(unit.size()));
    }
    LogCapture log;
    H264Encoder encoder{kW, kH};
    platform::HeadlessWindow window{{0, 0, kW, kH}, platform::ShowState::Normal};
    DecodeAndRender renderer;
};

TEST_F(H264Render, ShowsEachPictureAndTurnsOnWindowMessage) {
    ASSERT_EQ(decodeUnit(encoder.encodeSolid(255, 0, 0)), 0);
    EXPECT_EQ(renderersAnnounced(window, renderer), 1);
    EXPECT_TRUE(near(pixelAt(*window.presented(), 3, 3), {255, 0, 0}, 12));
    ASSERT_EQ(decodeUnit(encoder.encodeSolid(0, 0, 255)), 0);
    EXPECT_TRUE(near(pixelAt(*window.presented(), kW - 1, kH - 1), {0, 0, 255}, 12));

    renderer.forwardWinMessage(0, 0, kW, kH, 90, 1);
    EXPECT_EQ(window.presented()->width, kH);
    ASSERT_EQ(decodeUnit(encoder.encodeSolid(0, 255, 0)), 0);
    EXPECT_EQ(window.presented()->width, kH) << "later pictures keep the rotation";
    EXPECT_TRUE(near(pixelAt(*window.presented(), 0, 0), {0, 255, 0}, 12));
}

#endif

TEST(AVCDecoder, ReleasesTheLibraryOnce) {
    LogCapture log;
    AVCDecoder decoder;
    ASSERT_EQ(decoder.initial(0, 0), 0);
    decoder.release();
    decoder.release();
    EXPECT_EQ(log.count("release dxva decoder"), 1);
}

}  // namespace
