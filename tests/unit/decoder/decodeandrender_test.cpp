#include "decoder/decodeandrender.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "decoder/avcdecoder.h"
#include "platform/headlesswindow.h"
#include "tests/unit/stream/support/h264encoder.h"
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
    writer.skipId();
    ASSERT_EQ(decode(renderer, writer.replace({0}, W::kLow, W::kLow, W::kHigh)), 0);
    // The codec said why it dropped the frame; nothing failed.
    EXPECT_EQ(log.count("ZRC decode failed"), 0);
    EXPECT_EQ(log.count("H264 decode failed"), 0);
    EXPECT_EQ(window.presented(), red) << "a dropped frame paints nothing";

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

TEST(AVCDecoder, ReleasesTheLibraryOnce) {
    LogCapture log;
    AVCDecoder decoder;
    ASSERT_EQ(decoder.initial(0, 0), 0);
    decoder.release();
    decoder.release();
    EXPECT_EQ(log.count("release dxva decoder"), 1);
}

}  // namespace
