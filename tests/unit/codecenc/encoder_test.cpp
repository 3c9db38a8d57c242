// The encoder against the library's own decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

#include "codec/frameheader.h"
#include "codec/handle.h"
#include "tests/unit/codec/logcapture.h"
#include "tests/unit/codecenc/codecpair.h"
#include "tests/unit/codecenc/screenpicture.h"

namespace zrctest {
namespace {

struct FormatCase {
    uint32_t frame_format;
    int matrix;
};

const FormatCase kFormats[] = {{0x84, 8},  {0x84, 32}, {0x8C, 8},  {0x8C, 16}, {0x8C, 32},
                               {0x8D, 8},  {0x8D, 16}, {0x8D, 32}, {0x8E, 8},  {0x8E, 16},
                               {0x8E, 32}, {0x8F, 8},  {0x8F, 16}, {0x8F, 32}};

std::string caseName(const FormatCase& c, uint32_t quality) {
    char text[64];
    std::snprintf(text, sizeof text, "format %#x matrix %d quality %u", c.frame_format, c.matrix, quality);
    return text;
}

// Absolute, then relative frames of a changing screen: every frame decodes, the picture a late receiver
// rebuilds from zrc_absolute_frame equals the one the stream built, and it stays close to the source.
TEST(ZrcEncoder, RoundTripsEveryFormatMatrixAndQuality) {
    for (const FormatCase& c : kFormats) {
        for (uint32_t quality = 0; quality <= 5; ++quality) {
            SCOPED_TRACE(caseName(c, quality));
            ScreenPicture screen(200, 120);
            CodecPair pair(200, 120, c.matrix);
            for (int step = 0; step < 5; ++step) {
                screen.draw(step);
                const int written = pair.encode(screen.pixels(), quality, c.frame_format);
                ASSERT_GT(written, 0);
                EXPECT_EQ(pair.header().diff_type == ZRC_DIFF_ABSOLUTE, step == 0);
                ASSERT_GT(pair.decode(), 0);
                EXPECT_EQ(pair.lateReceiverPicture(), pair.decoded());
                // Every format keeps a screen recognisable; 4:4:4 at the finest quality keeps it close.
                const bool full_colour =
                    c.frame_format == ZRC_FRAME_RGB || c.frame_format == ZRC_FRAME_YUV444;
                EXPECT_GT(psnr(pair.decoded(), screen.pixels()),
                          full_colour && c.matrix == 8 && quality == 0 ? 38.0 : 24.0);
            }
        }
    }
}

}  // namespace
}  // namespace zrctest

namespace zrctest {
namespace {

// A 32 x 32 picture of 16 blocks of 8 x 8, 32-bit pixels.
struct SmallScreen {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(32 * 32 * 4, 200);

    // Changes `count` pixels of block (bx, by) of edge 8.
    void change(int bx, int by, int count, uint8_t value) {
        for (int k = 0; k < count; ++k)
            pixels[((by * 8 + k / 8) * 32 + bx * 8 + k % 8) * 4] = value;
    }
};

TEST(ZrcEncoder, TimeMapFollowsChangedPixelsAndRefinesOnce) {
    SmallScreen screen;
    CodecPair pair(32, 32, 8);
    const uint8_t* map = pair.encoder()->time_map;
    ASSERT_GT(pair.encode(screen.pixels, 3, ZRC_FRAME_YUV444), 0);
    ASSERT_GT(pair.decode(), 0);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pair.encode(screen.pixels, 3, ZRC_FRAME_YUV444), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9));

    screen.change(0, 0, 3, 10);   // 3 of 64 pixels
    screen.change(2, 1, 32, 10);  // half of the block
    ASSERT_GT(pair.encode(screen.pixels, 3, ZRC_FRAME_YUV444), 0);
    EXPECT_EQ(map[0], 1);
    EXPECT_EQ(map[6], 3);
    EXPECT_EQ(pair.header().predictions, 2u);
    ASSERT_GT(pair.decode(), 0);

    // The coarse block is sent once more at the finest quality, then drops out.
    ASSERT_GT(pair.encode(screen.pixels, 3, ZRC_FRAME_YUV444), 0);
    EXPECT_EQ(map[0], 0);
    EXPECT_EQ(map[6], 1);
    EXPECT_EQ(pair.header().predictions, 1u);
    ASSERT_GT(pair.decode(), 0);
    EXPECT_EQ(pair.encode(screen.pixels, 3, ZRC_FRAME_YUV444), 0);
    EXPECT_EQ(map[6], 0);
    EXPECT_EQ(pair.lateReceiverPicture(), pair.decoded());
}

TEST(ZrcEncoder, EdgeBlocksCountOnlyPixelsInsideThePicture) {
    // 20 x 20 with matrix 8: the last column of blocks is 4 pixels wide.
    std::vector<uint8_t> image(20 * 20 * 4, 90);
    CodecPair pair(20, 20, 8);
    ASSERT_GT(pair.encode(image, 0, ZRC_FRAME_YUV420), 0);
    ASSERT_GT(pair.decode(), 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 16; x < 20; ++x)
            image[(y * 20 + x) * 4 + 1] = 0;  // 16 of the 32 pixels inside block 2
    image[(9 * 20 + 19) * 4] = 0;             // 1 pixel of block 5
    ASSERT_GT(pair.encode(image, 0, ZRC_FRAME_YUV420), 0);
    EXPECT_EQ(pair.encoder()->time_map[2], 3);
    EXPECT_EQ(pair.encoder()->time_map[5], 1);
    ASSERT_GT(pair.decode(), 0);
}

TEST(ZrcEncoder, IdsCountOnAndRestartsAreAbsolute) {
    LogCapture log;
    ScreenPicture screen(64, 48);
    CodecPair pair(64, 48, 8);
    struct Step {
        uint32_t quality;
        uint32_t frame_format;
        bool reset;
        uint32_t id, command, diff_type;
    };
    const Step steps[] = {
        {0, ZRC_FRAME_YUV420, false, 0, 1, ZRC_DIFF_ABSOLUTE},  // first frame after configuration
        {0, ZRC_FRAME_YUV420, false, 1, 0, ZRC_DIFF_REPLACE},   // relative (either form)
        {3, ZRC_FRAME_YUV420, false, 2, 0, ZRC_DIFF_ABSOLUTE},  // quality changed
        {3, ZRC_FRAME_RGB, false, 3, 0, ZRC_DIFF_ABSOLUTE},     // frame format changed
        {3, 0, true, 4, 0, ZRC_DIFF_ABSOLUTE},                  // after a reset; 0 keeps the format
        {3, 0, false, 5, 0, ZRC_DIFF_REPLACE},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(n);
        screen.draw(++n);
        if (s.reset) zrc_reset_encoder(pair.encoder());
        ASSERT_GT(pair.encode(screen.pixels(), s.quality, s.frame_format), 0);
        const ZrcFrameHeader h = pair.header();
        EXPECT_EQ(h.id, s.id);
        EXPECT_EQ(h.command, s.command);
        if (s.diff_type == ZRC_DIFF_ABSOLUTE) {
            EXPECT_EQ(h.diff_type, 0u);
            EXPECT_EQ(h.predictions, 48u);
        } else {
            EXPECT_NE(h.diff_type, 0u);
        }
        ASSERT_GT(pair.decode(), 0);
    }
    EXPECT_TRUE(log.contains("ZRC: [2] Encode quality changed from 0 to 3"));
    EXPECT_TRUE(log.contains("ZRC: [3] Encode frame format changed from 0X00008E to 0X000084"));
    EXPECT_EQ(pair.encoder()->absolute_count, 4u);
    EXPECT_EQ(pair.encoder()->frame_count, 6u);

    // The rebuilt absolute frame carries the last id, so the next relative frame follows on.
    std::vector<uint8_t> frame(pair.frame().size());
    ASSERT_GT(zrc_absolute_frame(pair.encoder(), frame.data()), 0);
    EXPECT_EQ(zrc::restoreHeader(frame.data()).id, 5u);
    EXPECT_EQ(zrc::restoreHeader(frame.data()).diff_type, 0u);
}

TEST(ZrcEncoder, RefusesWhatItCannotCode) {
    LogCapture log;
    std::vector<uint8_t> image(16 * 16 * 4), frame(1 << 16);
    EXPECT_EQ(zrc_encode(nullptr, image.data(), frame.data(), 0, 0), -1);
    EXPECT_EQ(zrc_absolute_frame(nullptr, frame.data()), -1);
    ZrcHandle* h = zrc_create();
    EXPECT_EQ(zrc_encode(h, image.data(), frame.data(), 0, 0), -2);
    EXPECT_TRUE(log.contains("ZRC: Codec is not initialized"));
    ASSERT_EQ(zrc_configure(h, 8, 16, 16, 44), 0);
    EXPECT_EQ(zrc_absolute_frame(h, frame.data()), -3);
    EXPECT_TRUE(log.contains("ZRC: Absolute frame unavailable"));
    EXPECT_EQ(zrc_encode(h, image.data(), frame.data(), 0, 0x85), -3);
    EXPECT_TRUE(log.contains("ZRC: [0] Invalid frame format 133"));
    EXPECT_EQ(zrc_encode(h, image.data(), frame.data(), 6, 0), -5);
    // Refusals leave the handle as it was: its frame format still codes.
    EXPECT_GT(zrc_encode(h, image.data(), frame.data(), 0, 0), 0);
    ASSERT_EQ(zrc_configure(h, 8, 16, 16, 0x8C), 0);  // 24-bit input is not an encoder input
    EXPECT_EQ(zrc_encode(h, image.data(), frame.data(), 0, 0), -3);
    // The red-green-blue planes have no matrix 16 form: the decoder would refuse such frames.
    ASSERT_EQ(zrc_configure(h, 16, 16, 16, 44), 0);
    EXPECT_EQ(zrc_encode(h, image.data(), frame.data(), 0, ZRC_FRAME_RGB), -3);
    EXPECT_TRUE(log.contains("Frame format 0X000084 has no matrix 16 form"));
    EXPECT_GT(zrc_encode(h, image.data(), frame.data(), 0, ZRC_FRAME_YUV444), 0);
    zrc_release(h);
    for (const int matrix : {4, 8, 16, 32}) {
        for (const uint32_t format : {0x84u, 0x85u, 0x8Cu, 0x8Du, 0x8Eu, 0x8Fu}) {
            const bool known = format != 0x85 && matrix != 4;
            EXPECT_EQ(zrc_frame_format_supported(format, matrix), known && !(format == 0x84 && matrix == 16))
                << std::hex << format << " matrix " << std::dec << matrix;
        }
    }
}

TEST(ZrcEncoder, RelativeFrameOfAStillScreenIsSmall) {
    ScreenPicture screen(640, 480);
    CodecPair pair(640, 480, 8);
    const int absolute = pair.encode(screen.pixels(), 2, ZRC_FRAME_YUV420);
    ASSERT_GT(absolute, 0);
    screen.draw(1);  // one glyph typed, the pointer moved
    const int relative = pair.encode(screen.pixels(), 2, ZRC_FRAME_YUV420);
    ASSERT_GT(relative, 0);
    EXPECT_LT(relative * 20, absolute) << relative << " of " << absolute;
}

// Each differential form alone, chosen by the flags; without either, the replace form is used.
TEST(ZrcEncoder, FlagsChooseTheDifferentialForm) {
    struct Case {
        uint32_t cleared;
        uint32_t diff_type;
    };
    for (const Case c : {Case{ZRC_FLAG_REPLACE, ZRC_DIFF_XOR}, Case{ZRC_FLAG_XOR, ZRC_DIFF_REPLACE},
                         Case{ZRC_FLAG_REPLACE | ZRC_FLAG_XOR, ZRC_DIFF_REPLACE}}) {
        SCOPED_TRACE(c.cleared);
        ScreenPicture screen(96, 64);
        CodecPair pair(96, 64, 8);
        zrc_clear_flags(pair.encoder(), c.cleared);
        for (int step = 0; step < 4; ++step) {
            screen.draw(step);
            screen.scribble(0.05, step);
            ASSERT_GT(pair.encode(screen.pixels(), 1, ZRC_FRAME_YUV444), 0);
            EXPECT_EQ(pair.header().diff_type, step == 0 ? 0u : c.diff_type);
            ASSERT_GT(pair.decode(), 0);
        }
        EXPECT_EQ(pair.lateReceiverPicture(), pair.decoded());
    }
}

// With the xor form alone, a frame whose xor section cannot carry the map's last entries goes as replace.
TEST(ZrcEncoder, XorOnlyFallsBackWhereTheMapNeedsIt) {
    ScreenPicture screen(40, 40, 3);  // 25 blocks of 8: the last entry comes from the section
    CodecPair pair(40, 40, 8);
    zrc_clear_flags(pair.encoder(), ZRC_FLAG_REPLACE);
    int replaced = 0;
    for (int step = 0; step < 12; ++step) {
        screen.draw(step);
        screen.scribble(0.2, step);
        ASSERT_GT(pair.encode(screen.pixels(), 2, ZRC_FRAME_YUV444), 0);
        replaced += pair.header().diff_type == ZRC_DIFF_REPLACE;
        ASSERT_GT(pair.decode(), 0);
    }
    EXPECT_GT(replaced, 0);
    EXPECT_LT(replaced, 11);
}

// 16-bit input pictures in each of their layouts come back from a decoder writing the same layout.
TEST(ZrcEncoder, CodesSixteenBitPictures) {
    ScreenPicture screen(64, 32);
    for (uint32_t format : {9u, 14u, 15u, 20u}) {
        SCOPED_TRACE(format);
        // The screen in this layout: 5 bits a colour (6 for the green of 9 and 14), from the 8-bit picture.
        std::vector<uint8_t> image(64 * 32 * 2);
        for (size_t i = 0; i < image.size() / 2; ++i) {
            const uint8_t* p = &screen.pixels()[4 * i];
            const bool wide_green = format == 9 || format == 14;
            const uint32_t first = format == 9 || format == 15 ? p[0] : p[2];
            const uint32_t last = format == 9 || format == 15 ? p[2] : p[0];
            const uint16_t word =
                static_cast<uint16_t>(wide_green ? (first >> 3) << 11 | (p[1] >> 2) << 5 | last >> 3
                                                 : (first >> 3) << 10 | (p[1] >> 3) << 5 | last >> 3);
            std::memcpy(&image[2 * i], &word, 2);
        }
        ZrcHandle* encoder = zrc_create();
        ZrcHandle* decoder = zrc_create();
        ASSERT_EQ(zrc_configure(encoder, 8, 64, 32, format), 0);
        ASSERT_EQ(zrc_configure(decoder, 8, 64, 32, format), 0);
        std::vector<uint8_t> frame(static_cast<size_t>(zrc_frame_capacity(encoder))), decoded(image.size());
        ASSERT_GT(zrc_encode(encoder, image.data(), frame.data(), 0, ZRC_FRAME_RGB), 0);
        ASSERT_EQ(zrc_decompress(decoder, frame.data(), decoded.data(), nullptr),
                  static_cast<int>(image.size()));
        int far = 0;  // colour fields more than one step off
        for (size_t i = 0; i < image.size(); i += 2) {
            uint16_t a, b;
            std::memcpy(&a, &image[i], 2);
            std::memcpy(&b, &decoded[i], 2);
            const bool wide_green = format == 9 || format == 14;
            struct Field {
                int shift, mask;
            };
            for (const Field f :
                 {Field{0, 31}, Field{5, wide_green ? 63 : 31}, Field{wide_green ? 11 : 10, 31}})
                far += std::abs(((a >> f.shift) & f.mask) - ((b >> f.shift) & f.mask)) > 1;
        }
        EXPECT_LT(far, 64 * 32 / 20);
        zrc_release(encoder);
        zrc_release(decoder);
    }
}

// A photo-like picture over the whole frame: smooth colours with fine noise.
std::vector<uint8_t> photo(int width, int height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    uint32_t state = 7;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>(state >> 16) % 16;
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            p[0] =
                static_cast<uint8_t>(std::min(255, static_cast<int>(128 + 100 * std::sin(x * 0.07)) + noise));
            p[1] =
                static_cast<uint8_t>(std::min(255, static_cast<int>(128 + 100 * std::cos(y * 0.05)) + noise));
            p[2] = static_cast<uint8_t>(120 + (x + y) % 64);
            p[3] = 255;
        }
    }
    return pixels;
}

// The change the xor form is made for: one pixel in nine of the middle of a photo moved by one level.
void nudgePhoto(std::vector<uint8_t>& pixels, int width, int height, int step) {
    for (int y = height / 4; y < height * 3 / 4; ++y)
        for (int x = width / 4; x < width * 3 / 4; ++x)
            if ((y * width + x + step) % 9 == 0)
                ++pixels[(static_cast<size_t>(y) * width + x) * 4 + step % 3];
}

// The xor form is kept wherever its first byte gives the map's last entries correctly: at block counts that
// are not a multiple of 4 it codes such a change about as small as where they are, and every decoder of
// either form shows the same picture.
TEST(ZrcEncoder, XorFormServesBlockCountsNotAMultipleOfFour) {
    struct Case {
        int width, height, matrix;
    };
    const Case cases[] = {{256, 160, 8},  {262, 174, 8},  {256, 160, 16},
                          {262, 174, 16}, {256, 160, 32}, {262, 174, 32}};
    for (const Case c : cases) {
        const uint32_t blocks = static_cast<uint32_t>(((c.width + c.matrix - 1) / c.matrix) *
                                                      ((c.height + c.matrix - 1) / c.matrix));
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " matrix " +
                     std::to_string(c.matrix) + ", " + std::to_string(blocks) + " blocks");
        std::vector<uint8_t> image = photo(c.width, c.height);
        CodecPair xored(c.width, c.height, c.matrix), replaced(c.width, c.height, c.matrix);
        zrc_clear_flags(xored.encoder(), ZRC_FLAG_REPLACE);
        zrc_clear_flags(replaced.encoder(), ZRC_FLAG_XOR);
        int xor_bytes = 0, replace_bytes = 0, xor_frames = 0;
        for (int step = 0; step < 5; ++step) {
            if (step > 0) nudgePhoto(image, c.width, c.height, step);
            ASSERT_GT(xored.encode(image, 2, ZRC_FRAME_YUV444), 0);
            ASSERT_GT(replaced.encode(image, 2, ZRC_FRAME_YUV444), 0);
            ASSERT_GT(xored.decode(), 0);
            ASSERT_GT(replaced.decode(), 0);
            // The next xor frame is made against the coefficients the encoder keeps: the decoder's own.
            for (CodecPair* pair : {&xored, &replaced}) {
                EXPECT_EQ(std::memcmp(pair->encoder()->work[4], pair->decoder()->coefficients.data(),
                                      pair->encoder()->trans_length),
                          0);
            }
            if (step == 0) continue;
            xor_frames += xored.header().diff_type == ZRC_DIFF_XOR;
            xor_bytes += xored.frameLength();
            replace_bytes += replaced.frameLength();
            EXPECT_EQ(xored.decoded(), replaced.decoded());
        }
        EXPECT_GE(xor_frames, 3);
        EXPECT_LT(xor_bytes * 2, replace_bytes) << xor_bytes << " against " << replace_bytes;
        EXPECT_GT(psnr(xored.decoded(), image), 30.0);
    }
}

// A block whose DC was moved to carry the map's last entries is coded again once a frame can carry them
// without moving it: a screen that stands still after changes at the coarsest quality ends on the picture
// that quality 0 gives. (Block 0 has no block before it to carry the entries for it, so it is restored only
// by a frame whose entries its own DC gives; these pictures have such a frame.)
TEST(ZrcEncoder, StillScreenRestoresTheBlockThatCarriedTheLastEntries) {
    struct Case {
        int width, height, matrix;
    };
    for (const Case c : {Case{262, 174, 32}, Case{262, 174, 16}, Case{200, 120, 32}}) {
        for (uint32_t format : {ZRC_FRAME_YUV420, ZRC_FRAME_YUV444}) {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " matrix " +
                         std::to_string(c.matrix) + " format " + std::to_string(format));
            ScreenPicture screen(c.width, c.height, 3);
            CodecPair stream(c.width, c.height, c.matrix), reference(c.width, c.height, c.matrix);
            for (int step = 0; step < 4; ++step) {
                screen.draw(step);
                if (step > 0) screen.scribble(0.05, step);
                ASSERT_GT(stream.encode(screen.pixels(), 5, format), 0);
                ASSERT_GT(stream.decode(), 0);
            }
            ASSERT_GT(reference.encode(screen.pixels(), 0, format), 0);
            ASSERT_GT(reference.decode(), 0);
            for (CodecPair* pair : {&stream, &reference}) {
                int frames = 0;
                while (frames < 4 && pair->encode(screen.pixels(), pair == &stream ? 5 : 0, format) > 0) {
                    ASSERT_GT(pair->decode(), 0);
                    ++frames;
                }
                EXPECT_LT(frames, 4) << "a still screen keeps sending";
            }
            size_t differing = 0;
            for (size_t i = 0; i < stream.decoded().size(); i += 4)
                differing += std::memcmp(&stream.decoded()[i], &reference.decoded()[i], 3) != 0;
            EXPECT_EQ(differing, 0u);
        }
    }
}

// Map sizes that are not a multiple of 4: the decoder takes the last entries from the first section byte.
// Every frame decodes without garbage, a still screen falls silent, and its picture is then the one an
// absolute frame of the same image gives, but for the DC of a block that carried the corner entries.
TEST(ZrcEncoder, LastMapEntriesAgreeWithTheSection) {
    // Encodes the same image until nothing is sent (at most 4 frames); returns the frames sent.
    auto settle = [](CodecPair& pair, const std::vector<uint8_t>& image, uint32_t format) {
        int frames = 0;
        while (frames < 4 && pair.encode(image, 4, format) > 0) {
            EXPECT_GT(pair.decode(), 0);
            ++frames;
        }
        return frames;
    };
    struct Case {
        int width, height, matrix;
    };
    for (const Case c : {Case{40, 40, 8}, Case{72, 40, 32}, Case{48, 24, 8}, Case{24, 8, 8}, Case{8, 8, 8}}) {
        for (uint32_t format : {ZRC_FRAME_RGB, ZRC_FRAME_YUV420}) {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " matrix " +
                         std::to_string(c.matrix) + " format " + std::to_string(format));
            ScreenPicture screen(c.width, c.height, 7);
            CodecPair pair(c.width, c.height, c.matrix);
            for (int step = 0; step < 6; ++step) {
                screen.draw(step);
                if (step % 2) screen.scribble(0.1, step);
                ASSERT_GT(pair.encode(screen.pixels(), 4, format), 0);
                ASSERT_GT(pair.decode(), 0);
                EXPECT_GT(psnr(pair.decoded(), screen.pixels()), 18.0);
            }
            EXPECT_LT(settle(pair, screen.pixels(), format), 4) << "a still screen keeps sending";
            CodecPair fresh(c.width, c.height, c.matrix);
            ASSERT_GT(fresh.encode(screen.pixels(), 4, format), 0);
            ASSERT_GT(fresh.decode(), 0);
            settle(fresh, screen.pixels(), format);
            EXPECT_GT(psnr(pair.decoded(), fresh.decoded()), 30.0);
        }
    }
}

}  // namespace
}  // namespace zrctest
