#include <gtest/gtest.h>

#include <cstring>

#include "codec/frameheader.h"
#include "codec/include/zrc.h"
#include "tests/support/testsystem.h"
#include "tests/unit/codec/logcapture.h"

namespace {

ZrcFrameHeader validHeader() {
    ZrcFrameHeader h{};
    h.magic = ZRC_MAGIC;
    h.version = ZRC_VERSION;
    h.id = 7;
    h.width = 640;
    h.height = 480;
    h.matrix = 8;
    h.predictions = 4800;
    h.frame_format = ZRC_FRAME_YUV420;
    h.frame_bits = 8;
    h.quality = 2;
    h.pack_format = ZRC_PACK_LZ;
    h.checksum = zrc::headerChecksum(h);
    return h;
}

uint32_t wireWord(const uint8_t* wire, int i) {
    return static_cast<uint32_t>(wire[4 * i]) | static_cast<uint32_t>(wire[4 * i + 1]) << 8 |
           static_cast<uint32_t>(wire[4 * i + 2]) << 16 | static_cast<uint32_t>(wire[4 * i + 3]) << 24;
}

TEST(FrameHeader, ChainsEachWordWithThePreviousPlainWord) {
    ZrcFrameHeader h = validHeader();
    uint8_t wire[ZRC_HEADER_SIZE];
    zrc::writeHeader(h, wire);
    EXPECT_EQ(0, std::memcmp(wire, "ZRC2", 4));
    EXPECT_EQ(wireWord(wire, 1), ZRC_VERSION ^ ZRC_MAGIC);
    EXPECT_EQ(wireWord(wire, 4), 0u ^ 7u);    // command ^ id
    EXPECT_EQ(wireWord(wire, 5), 640u ^ 0u);  // width ^ command
    ZrcFrameHeader back = zrc::restoreHeader(wire);
    EXPECT_EQ(0, std::memcmp(&back, &h, sizeof h));
}

TEST(FrameHeader, EqualPlainWordsSendZerosAfterTheMagic) {
    // 0x40000000 summed 21 times wraps to itself, so the checksum word equals the others too.
    uint32_t words[ZRC_HEADER_WORDS];
    for (uint32_t& w : words)
        w = 0x40000000u;
    ZrcFrameHeader h;
    std::memcpy(&h, words, sizeof h);
    uint8_t wire[ZRC_HEADER_SIZE];
    zrc::writeHeader(h, wire);
    EXPECT_EQ(wireWord(wire, 0), 0x40000000u);
    for (int i = 1; i < ZRC_HEADER_WORDS; ++i)
        EXPECT_EQ(wireWord(wire, i), 0u) << i;
}

TEST(FrameHeader, ChecksumIsTheSumOfTheOtherWords) {
    ZrcFrameHeader h{};
    h.magic = 0xFFFFFFFFu;
    h.version = 2;
    h.checksum = 99;  // not counted
    EXPECT_EQ(zrc::headerChecksum(h), 1u);
}

struct CheckCase {
    const char* name;
    void (*change)(ZrcFrameHeader&);
    bool refresh_checksum;
    int expected;
    const char* log;
};

const CheckCase kCheckCases[] = {
    {"valid", [](ZrcFrameHeader&) {}, true, 0, nullptr},
    {"magic", [](ZrcFrameHeader& h) { h.magic = 0x3343525A; }, true, -1,
     "Invalid frame magic 0X5A 0X52 0X43 0X33"},
    {"checksum before matrix",
     [](ZrcFrameHeader& h) {
         h.matrix = 12;
         h.checksum = zrc::headerChecksum(h) + 1;
     },
     false, -2, "Invalid frame checksum"},
    {"matrix", [](ZrcFrameHeader& h) { h.matrix = 4; }, true, -3, "Invalid frame matrix 4"},
    {"largest size",
     [](ZrcFrameHeader& h) {
         h.width = 4096;
         h.height = 4096;
     },
     true, 0, nullptr},
    {"width over", [](ZrcFrameHeader& h) { h.width = 4097; }, true, -4,
     "Invalid frame width 4097 height 480, over maximum 4096*4096"},
    {"zero height", [](ZrcFrameHeader& h) { h.height = 0; }, true, -4, "Invalid frame width 640 height 0"},
    {"negative width", [](ZrcFrameHeader& h) { h.width = -8; }, true, -4, "Invalid frame width -8"},
    {"size before packet",
     [](ZrcFrameHeader& h) {
         h.width = 5000;
         h.pack_length = 0xFFFFFFFF;
     },
     true, -4, nullptr},
    {"largest packet", [](ZrcFrameHeader& h) { h.pack_length = 0x4000000; }, true, 0, nullptr},
    {"packet over", [](ZrcFrameHeader& h) { h.pack_length = 0x4000001; }, true, -5,
     "Invalid frame packet length 67108865, over maximum 67108864 bytes"},
    {"differential over", [](ZrcFrameHeader& h) { h.diff_length = 0x4000001; }, true, -6,
     "Invalid frame differential length"},
    {"transform over", [](ZrcFrameHeader& h) { h.trans_length = 0x4000001; }, true, -7,
     "Invalid frame transform length"},
    {"quality over", [](ZrcFrameHeader& h) { h.quality = 6; }, true, -8, "Invalid frame quality 6"},
};

TEST(FrameHeader, ChecksRunInOrderWithTheirCodes) {
    for (const CheckCase& c : kCheckCases) {
        zrctest::LogCapture log;
        ZrcFrameHeader h = validHeader();
        c.change(h);
        if (c.refresh_checksum) h.checksum = zrc::headerChecksum(h);
        EXPECT_EQ(zrc_check_header(&h), c.expected) << c.name;
        if (c.log != nullptr) {
            EXPECT_TRUE(log.contains(c.log)) << c.name << "\n" << log.text();
        }
    }
}

TEST(FrameHeader, DumpRestoresAndFormatsEveryField) {
    ZrcFrameHeader h = validHeader();
    uint8_t wire[ZRC_HEADER_SIZE];
    zrc::writeHeader(h, wire);
    char text[ZRC_HEADER_TEXT_SIZE];
    const int length = zrc_dump_header(wire, text);
    EXPECT_EQ(length, static_cast<int>(std::strlen(text)) + 1);
    EXPECT_NE(std::strstr(text, "magic=5A524332\nversion=0X200000C\nreserved=00000000\nid=7\n"), nullptr)
        << text;
    EXPECT_NE(std::strstr(text, "width=640\nheight=480\nmatrix=8\npredictions=4800\nframe_format=0X00008E\n"),
              nullptr)
        << text;
    EXPECT_NE(std::strstr(text, "pack_format=0X000002\n"), nullptr) << text;

    zrctest::LogCapture log;
    testsystem::setEnv("LOG_LEVEL", "7");
    EXPECT_EQ(zrc_dump_header(wire, nullptr), length);
    testsystem::unsetEnv("LOG_LEVEL");
    EXPECT_TRUE(log.contains("DEBUG USER ZRC: magic=5A524332\nversion="));
}

}  // namespace
