// zrctool's readers of untrusted files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/codecenc/codecpair.h"
#include "tools/zrctool/framefile.h"
#include "tools/zrctool/pictureio.h"

namespace {

std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(ZrcToolPpm, ParsesBinaryPpmAndRefusesTheRest) {
    struct Case {
        const char* name;
        std::string data;
        bool ok;
    };
    const std::string pixels(12, '\x80');
    const Case cases[] = {
        {"plain", "P6\n2 2\n255\n" + pixels, true},
        {"comment and spaces", "P6 # made by hand\n 2\t2 255\n" + pixels, true},
        {"text PPM", "P3\n2 2\n255\n" + pixels, false},
        {"short samples", "P6\n2 2\n255\n" + pixels.substr(1), false},
        {"depth 0", "P6\n2 2\n0\n" + pixels, false},
        {"16-bit depth", "P6\n2 2\n65535\n" + pixels + pixels, false},
        {"too wide", "P6\n4097 1\n255\n" + std::string(3 * 4097, 'x'), false},
        {"size overflows", "P6\n99999999999 1\n255\n" + pixels, false},
        {"no whitespace before samples", "P6\n2 2\n255" + pixels, false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture;
        std::string error;
        const std::vector<uint8_t> data = bytes(c.data);
        EXPECT_EQ(parsePpm(data.data(), data.size(), &picture, &error), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(picture.width, 2);
            EXPECT_EQ(picture.rgba, std::vector<uint8_t>({128, 128, 128, 255, 128, 128, 128, 255, 128, 128,
                                                          128, 255, 128, 128, 128, 255}));
        }
    }
}

TEST(ZrcToolFrames, SplitsFramesAndStopsAtDamage) {
    zrctest::ScreenPicture screen(40, 24);
    zrctest::CodecPair pair(40, 24, 8);
    std::vector<uint8_t> file;
    for (int step = 0; step < 2; ++step) {
        screen.draw(step);
        const int length = pair.encode(screen.pixels(), 0, ZRC_FRAME_YUV420);
        ASSERT_GT(length, 0);
        file.insert(file.end(), pair.frame().begin(), pair.frame().begin() + length);
    }
    std::vector<FrameRef> frames;
    std::string error;
    ASSERT_TRUE(splitFrames(file.data(), file.size(), &frames, &error)) << error;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].offset, frames[0].length);
    EXPECT_EQ(frames[1].header.id, 1u);

    struct Case {
        const char* name;
        size_t cut;    // bytes kept
        size_t spoil;  // byte flipped, or 0
        const char* reason;
    };
    const Case cases[] = {{"truncated payload", file.size() - 1, 0, "truncated payload"},
                          {"truncated header", frames[1].offset + 40, 0, "truncated header"},
                          {"bad checksum", file.size(), frames[1].offset + 84, "invalid header"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> damaged(file.begin(), file.begin() + static_cast<long>(c.cut));
        if (c.spoil != 0) damaged[c.spoil] ^= 1;
        std::vector<FrameRef> found;
        EXPECT_FALSE(splitFrames(damaged.data(), damaged.size(), &found, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(found.size(), 1u);
    }
}

}  // namespace
