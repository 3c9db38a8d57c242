// The encoder against the library's own decoder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

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
                EXPECT_EQ(pair.header().diff_type, step == 0 ? 0u : pair.header().diff_type);
                ASSERT_GT(pair.decode(), 0);
                EXPECT_EQ(pair.lateReceiverPicture(), pair.decoded());
                EXPECT_GT(psnr(pair.decoded(), screen.pixels()), 24.0);
            }
        }
    }
}

}  // namespace
}  // namespace zrctest
