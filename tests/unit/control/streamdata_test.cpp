#include "control/streamdata.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

TEST(StreamData, WritesBigEndianAndReadsItBack) {
    uint8_t buffer[15] = {};
    StreamData out(buffer, sizeof(buffer));
    EXPECT_TRUE(out.putUInt32(0x52434D53));
    EXPECT_TRUE(out.putUInt16(0x0102));
    EXPECT_TRUE(out.putUInt64(0x1122334455667788ull));
    EXPECT_TRUE(out.putUInt8(0xAB));
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(15u, out.length());
    const uint8_t expected[15] = {0x52, 0x43, 0x4D, 0x53, 0x01, 0x02, 0x11, 0x22,
                                  0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0xAB};
    EXPECT_EQ(0, memcmp(expected, buffer, sizeof(buffer)));

    StreamData in(buffer, sizeof(buffer));
    EXPECT_EQ(0x52434D53u, in.getUInt32());
    EXPECT_EQ(0x0102u, in.getUInt16());
    EXPECT_EQ(0x1122334455667788ull, in.getUInt64());
    EXPECT_EQ(0xABu, in.getUInt8());
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(buffer, in.data());
}

TEST(StreamData, RefusesReadPastEnd) {
    uint8_t buffer[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    StreamData in(buffer, sizeof(buffer));
    in.getUInt32();
    in.getUInt32();
    EXPECT_EQ(0x090A0B0Cu, in.getUInt32());
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(0u, in.getUInt32());
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(12u, in.length());
}

// Each operation that does not fit is refused without touching a byte outside the buffer; the guard bytes
// around the usable part stay as they were.
TEST(StreamData, FailedOperationTouchesNothingAndStaysFailed) {
    struct Case {
        const char* name;
        uint32_t size;
        bool (*op)(StreamData&);
    } cases[] = {
        {"putUInt32 in 3", 3, [](StreamData& s) { return s.putUInt32(0xFFFFFFFF); }},
        {"putUInt16 in 1", 1, [](StreamData& s) { return s.putUInt16(0xFFFF); }},
        {"putUInt64 in 7", 7, [](StreamData& s) { return s.putUInt64(~0ull); }},
        {"putUInt8 in 0", 0, [](StreamData& s) { return s.putUInt8(0xFF); }},
        {"putBytes 5 in 4", 4,
         [](StreamData& s) {
             const uint8_t src[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
             return s.putBytes(src, 5);
         }},
        {"skip 5 in 4", 4, [](StreamData& s) { return s.skip(5); }},
        {"skip huge", 4, [](StreamData& s) { return s.skip(0xFFFFFFFF); }},
        {"setUInt32At past end", 6, [](StreamData& s) { return s.setUInt32At(0xFFFFFFFF, 3); }},
        {"setUInt32At huge offset", 6, [](StreamData& s) { return s.setUInt32At(0xFFFFFFFF, 0xFFFFFFFE); }},
        {"getBytes past end", 4,
         [](StreamData& s) {
             uint8_t dst[16];
             return s.getBytes(5, dst, sizeof(dst)) != nullptr;
         }},
    };
    for (const Case& c : cases) {
        std::array<uint8_t, 32> memory{};
        uint8_t* usable = memory.data() + 8;
        StreamData stream(usable, c.size);
        EXPECT_FALSE(c.op(stream)) << c.name;
        EXPECT_FALSE(stream.ok()) << c.name;
        EXPECT_EQ(0u, stream.length()) << c.name;
        for (uint8_t byte : memory)
            ASSERT_EQ(0, byte) << c.name;
        // A later operation that would fit is refused as well: the caller sees one failed state.
        EXPECT_EQ(0u, stream.getUInt8()) << c.name;
        EXPECT_FALSE(stream.ok()) << c.name;
    }
}

TEST(StreamData, GetBytesRefusesADestinationTooSmall) {
    std::vector<uint8_t> source(100, 0x41);
    StreamData in(source.data(), static_cast<uint32_t>(source.size()));
    uint8_t destination[64 + 1] = {};
    EXPECT_EQ(nullptr, in.getBytes(70, destination, 64));
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(0, destination[0]);
    EXPECT_EQ(0u, in.length());
}

TEST(StreamData, SkipLeavesRoomForALengthWrittenLater) {
    uint8_t buffer[16] = {};
    StreamData out(buffer, sizeof(buffer));
    out.putUInt32(0x52434D53);
    out.skip(4);
    out.putUInt32(7);
    EXPECT_TRUE(out.setUInt32At(out.length() - 4, 4));
    EXPECT_EQ(12u, out.length());
    const uint8_t expected[12] = {0x52, 0x43, 0x4D, 0x53, 0, 0, 0, 8, 0, 0, 0, 7};
    EXPECT_EQ(0, memcmp(expected, buffer, sizeof(expected)));
    EXPECT_TRUE(out.ok());
}
