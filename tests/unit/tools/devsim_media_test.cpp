#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "codec/include/zrc.h"
#include "tools/qx-devsim/h264coder.h"
#include "tools/qx-devsim/pngfolder.h"
#include "tools/qx-devsim/syntheticscreen.h"
#include "tools/qx-devsim/videofile.h"
#include "tools/qx-devsim/zrccoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int32_t kWidth = 180;
constexpr int32_t kHeight = 320;
constexpr uint32_t kAccent = 0xD4552A;

using Picture = std::vector<uint8_t>;

Picture blank() {
    return Picture(static_cast<size_t>(kWidth) * kHeight * 4);
}

// The number the status bar cells of a picture show (cells read at their centres, white is 1).
uint32_t readNumber(const Picture& p, int32_t width, int32_t height) {
    const SyntheticScreen::Layout l = SyntheticScreen::layout(width, height);
    uint32_t n = 0;
    for (int i = 0; i < SyntheticScreen::kNumberCells; ++i) {
        const int32_t x = l.x + i * l.cellWidth + l.cellWidth / 2;
        const int32_t y = l.y + l.cellHeight / 2;
        n = (n << 1) | (p[(static_cast<size_t>(y) * width + x) * 4 + 1] > 128 ? 1 : 0);
    }
    return n;
}

// The colour at (x, y) is within tolerance of colour, channel by channel.
void expectColour(const Picture& p, int32_t x, int32_t y, uint32_t colour, int tolerance) {
    const uint8_t* px = &p[(static_cast<size_t>(y) * kWidth + x) * 4];
    EXPECT_NEAR(px[0], (colour >> 16) & 0xFF, tolerance) << x << "," << y;
    EXPECT_NEAR(px[1], (colour >> 8) & 0xFF, tolerance) << x << "," << y;
    EXPECT_NEAR(px[2], colour & 0xFF, tolerance) << x << "," << y;
}

double meanDifference(const Picture& a, const Picture& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 != 3) sum += std::abs(a[i] - b[i]);
    }
    return sum / (a.size() * 3 / 4);
}

// Decodes config + one access unit with libavcodec into RGBA.
Picture decodeH264(const std::vector<uint8_t>& config, const std::vector<uint8_t>& unit) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
    std::vector<uint8_t> stream = config;
    stream.insert(stream.end(), unit.begin(), unit.end());
    stream.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    AVPacket* packet = av_packet_alloc();
    packet->data = stream.data();
    packet->size = static_cast<int>(stream.size() - AV_INPUT_BUFFER_PADDING_SIZE);
    AVFrame* frame = av_frame_alloc();
    Picture out = blank();
    EXPECT_EQ(avcodec_send_packet(context, packet), 0);
    avcodec_send_packet(context, nullptr);
    if (avcodec_receive_frame(context, frame) == 0) {
        SwsContext* sws =
            sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), kWidth,
                           kHeight, AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr);
        uint8_t* planes[4] = {out.data()};
        int strides[4] = {kWidth * 4};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
        sws_freeContext(sws);
    } else {
        ADD_FAILURE() << "no picture decoded";
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return out;
}

}  // namespace

TEST(SyntheticScreen, ShowsItsNumberAndAccentAndMoves) {
    SyntheticScreen screen(kWidth, kHeight, kAccent);
    Picture a = blank();
    Picture b = blank();
    for (uint32_t n : {0u, 1u, 0x5A5Au, 0xFFFFu}) {
        screen.draw(n, a.data());
        EXPECT_EQ(readNumber(a, kWidth, kHeight), n);
    }
    // The number wraps at 16 bits.
    screen.draw(0x10003, a.data());
    EXPECT_EQ(readNumber(a, kWidth, kHeight), 3u);
    expectColour(a, 2, 2, kAccent, 0);
    screen.draw(7, a.data());
    screen.draw(8, b.data());
    EXPECT_GT(meanDifference(a, b), 0.5);  // list and shapes move between pictures
    screen.next(b.data());
    EXPECT_EQ(readNumber(b, kWidth, kHeight), 0u);  // next() counts from 0
}

TEST(H264Coder, StreamDecodesToThePicture) {
    H264Coder coder;
    std::string error;
    ASSERT_TRUE(coder.open(kWidth, kHeight, 30, &error)) << error;
    const std::vector<uint8_t> config = coder.config();
    ASSERT_GE(config.size(), 8u);
    EXPECT_EQ(config[0] | config[1], 0);  // Annex B start code
    SyntheticScreen screen(kWidth, kHeight, kAccent);
    Picture picture = blank();
    screen.draw(0x1234, picture.data());
    std::vector<uint8_t> unit;
    ASSERT_TRUE(coder.encode(picture.data(), 1, &unit));
    const Picture decoded = decodeH264(config, unit);
    expectColour(decoded, 2, 2, kAccent, 24);
    EXPECT_EQ(readNumber(decoded, kWidth, kHeight), 0x1234u);
    EXPECT_LT(meanDifference(picture, decoded), 8.0);
}

TEST(ZrcCoder, FramesDecodeToThePictureAndStillPicturesSendNothing) {
    DevsimOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.absoluteEvery = 3;
    ZrcCoder coder;
    std::string error;
    ASSERT_TRUE(coder.open(options, &error)) << error;
    EXPECT_FALSE(coder.config().empty());
    ZrcHandle* decoder = zrc_create();
    ASSERT_NE(decoder, nullptr);
    SyntheticScreen screen(kWidth, kHeight, kAccent);
    Picture picture = blank();
    Picture decoded = blank();
    std::vector<uint8_t> frame;
    for (int64_t n = 1; n <= 4; ++n) {
        screen.draw(static_cast<uint32_t>(n * 9), picture.data());
        ASSERT_TRUE(coder.encode(picture.data(), n, &frame)) << n;
        ASSERT_GT(frame.size(), static_cast<size_t>(ZRC_HEADER_SIZE)) << n;
        ASSERT_GT(zrc_decompress(decoder, frame.data(), decoded.data(), nullptr), 0) << n;
        EXPECT_EQ(readNumber(decoded, kWidth, kHeight), static_cast<uint32_t>(n * 9)) << n;
        EXPECT_LT(meanDifference(picture, decoded), 8.0) << n;
    }
    expectColour(decoded, 2, 2, kAccent, 24);
    ASSERT_TRUE(coder.encode(picture.data(), 5, &frame));
    EXPECT_TRUE(frame.empty());
    zrc_release(decoder);
}

// Settings whose frames the client's decoder would refuse are refused when the coder opens.
TEST(ZrcCoder, RefusesAFrameFormatWithoutAFormAtItsMatrix) {
    DevsimOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.frameFormat = 0x84;
    for (const uint32_t matrix : {8u, 16u, 32u}) {
        options.matrix = matrix;
        ZrcCoder coder;
        std::string error;
        EXPECT_EQ(coder.open(options, &error), matrix != 16) << matrix;
        if (matrix == 16) {
            EXPECT_EQ(error, "frame format 0x84 cannot be coded with matrix 16");
        }
    }
}

TEST(PngFolder, ReadsFilesInNameOrderScaledAndOverAgain) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("devsim-png-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    // Two 8x4 pictures in one colour each, and a file that is no PNG at all.
    const uint32_t colours[] = {0xFF0000, 0x00FF00};
    for (int i = 0; i < 2; ++i) {
        std::vector<uint8_t> rgba(8 * 4 * 4);
        for (size_t p = 0; p < rgba.size(); p += 4) {
            rgba[p] = static_cast<uint8_t>(colours[i] >> 16);
            rgba[p + 1] = static_cast<uint8_t>(colours[i] >> 8);
            rgba[p + 2] = static_cast<uint8_t>(colours[i]);
            rgba[p + 3] = 255;
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 8;
        image.height = 4;
        image.format = PNG_FORMAT_RGBA;
        const std::string file = (folder / (std::string(i ? "b" : "a") + ".png")).string();
        ASSERT_TRUE(png_image_write_to_file(&image, file.c_str(), 0, rgba.data(), 0, nullptr));
    }
    PngFolder source(kWidth, kHeight);
    std::string error;
    ASSERT_TRUE(source.open(folder.string(), &error)) << error;
    Picture picture = blank();
    for (uint32_t expected : {colours[0], colours[1], colours[0]}) {
        ASSERT_TRUE(source.next(picture.data()));
        expectColour(picture, kWidth / 2, kHeight / 2, expected, 2);
        expectColour(picture, kWidth - 1, kHeight - 1, expected, 2);
    }
    std::filesystem::remove_all(folder);
    PngFolder empty(kWidth, kHeight);
    EXPECT_FALSE(empty.open(folder.string(), &error));
    EXPECT_FALSE(error.empty());
}

TEST(VideoFile, ReadsTheVideoInOrderAndStartsAgainAtItsEnd) {
    // A raw H.264 file of three numbered pictures, made with the simulator's own coder.
    H264Coder coder;
    std::string error;
    ASSERT_TRUE(coder.open(kWidth, kHeight, 30, &error)) << error;
    const std::string path =
        (std::filesystem::temp_directory_path() / ("devsim-video-" + std::to_string(getpid()) + ".h264"))
            .string();
    {
        std::ofstream file(path, std::ios::binary);
        const std::vector<uint8_t> config = coder.config();
        file.write(reinterpret_cast<const char*>(config.data()), static_cast<std::streamsize>(config.size()));
        SyntheticScreen screen(kWidth, kHeight, kAccent);
        Picture picture = blank();
        std::vector<uint8_t> unit;
        for (uint32_t n = 1; n <= 3; ++n) {
            screen.draw(n * 100, picture.data());
            ASSERT_TRUE(coder.encode(picture.data(), n, &unit));
            file.write(reinterpret_cast<const char*>(unit.data()), static_cast<std::streamsize>(unit.size()));
        }
    }
    VideoFile video(kWidth, kHeight);
    ASSERT_TRUE(video.open(path, &error)) << error;
    Picture picture = blank();
    for (uint32_t expected : {100u, 200u, 300u, 100u, 200u}) {
        ASSERT_TRUE(video.next(picture.data()));
        EXPECT_EQ(readNumber(picture, kWidth, kHeight), expected);
    }
    expectColour(picture, 2, 2, kAccent, 24);
    std::filesystem::remove(path);
    VideoFile missing(kWidth, kHeight);
    EXPECT_FALSE(missing.open(path, &error));
}
