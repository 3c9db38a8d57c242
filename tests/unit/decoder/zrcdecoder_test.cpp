#include "decoder/zrcdecoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/stream/support/zrcframes.h"

namespace {

TEST(ZRCDecoder, TakesOnlyWholeFramesOfTheStreamSize) {
    ZrcFrameWriter writer{64, 32};
    const std::vector<uint8_t> frame = writer.absolute(0, 0, 0);
    const int32_t length = static_cast<int32_t>(frame.size());
    const struct {
        const char* name;
        int32_t length, width, height;
        bool fits;
    } cases[] = {
        {"whole", length, 64, 32, true},
        {"longer buffer", length, 64, 32, true},
        {"payload cut short", length - 1, 64, 32, false},
        {"header only", 88, 64, 32, false},
        {"header cut short", 87, 64, 32, false},
        {"wider than the stream", length, 32, 32, false},
        {"taller than the stream", length, 64, 16, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZRCDecoder::frameFits(frame.data(), c.length, c.width, c.height), c.fits) << c.name;
    }
    EXPECT_FALSE(ZRCDecoder::frameFits(nullptr, length, 64, 32));
}

TEST(ZRCDecoder, ReportsPaintForGoodFrameAndReleasesOnError) {
    ZrcFrameWriter writer{64, 32};
    std::vector<uint8_t> picture(64 * 32 * 4);
    ZRCDecoder decoder;
    ASSERT_EQ(decoder.initial(64, 32), 0);
    const std::vector<uint8_t> frame = writer.absolute(ZrcFrameWriter::kHigh, 0, 0);
    EXPECT_EQ(decoder.decodeRecvVideo(0, frame.data(), static_cast<int32_t>(frame.size()), picture.data()),
              1);
    EXPECT_EQ(picture[0], 255);
    EXPECT_EQ(picture[3], 255);
    // Another stream size: refused without touching the picture, and the handle is gone.
    ZrcFrameWriter other{128, 32};
    const std::vector<uint8_t> wide = other.absolute(0, 0, 0);
    EXPECT_EQ(decoder.decodeRecvVideo(0, wide.data(), static_cast<int32_t>(wide.size()), picture.data()), -3);
    EXPECT_EQ(picture[0], 255);
    EXPECT_EQ(decoder.decodeRecvVideo(0, frame.data(), static_cast<int32_t>(frame.size()), picture.data()),
              -3);
}

}  // namespace
