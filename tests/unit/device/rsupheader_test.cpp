#include "device/rsupheader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Where the fields sit: coding, frame flag, width, height, payload length.
bool isFieldByte(size_t i) {
    return i == 5 || i == 7 || (i >= 28 && i < 36) || (i >= 44 && i < 48);
}

}  // namespace

TEST(RsupHeader, GoldenBytes) {
    struct Case {
        const char* name;
        RsupHeader fields;
        const char* hex;  // bytes 0..51
    } cases[] = {
        {"ZRC config 720x1280",
         {7, 1, 720, 1280, 0x1234},
         "00 00 00 00 00 07 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 02 D0 00 00 05 00 00 00 00 00 00 00 00 00 00 00 12 34 00 00 00 00"},
        {"H.264 picture, largest edges",
         {1, 0, 4096, 4096, 0x7FFFFFFF},
         "00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 10 00 00 00 10 00 00 00 00 00 00 00 00 00 7F FF FF FF 00 00 00 00"},
        {"negative length",
         {7, 0xFF, 0, 0, -2},
         "00 00 00 00 00 07 00 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 FF FF FF FE 00 00 00 00"},
    };
    for (const Case& c : cases) {
        Bytes golden;
        for (const char* p = c.hex; *p;) {
            golden.push_back(static_cast<uint8_t>(strtoul(p, nullptr, 16)));
            p += p[2] ? 3 : 2;
        }
        ASSERT_EQ(golden.size(), static_cast<size_t>(RSUP_HEADER_SIZE)) << c.name;
        Bytes written(RSUP_HEADER_SIZE, 0xEE);
        c.fields.write(written.data());
        EXPECT_EQ(golden, written) << c.name;

        // The reader takes the fields alone, whatever the bytes around them hold.
        Bytes noisy = golden;
        for (size_t i = 0; i < noisy.size(); ++i)
            if (!isFieldByte(i)) noisy[i] = 0xA5;
        for (const Bytes& bytes : {golden, noisy}) {
            const RsupHeader read = RsupHeader::parse(bytes.data());
            EXPECT_EQ(c.fields.encoderType, read.encoderType) << c.name;
            EXPECT_EQ(c.fields.frameFlag, read.frameFlag) << c.name;
            EXPECT_EQ(c.fields.width, read.width) << c.name;
            EXPECT_EQ(c.fields.height, read.height) << c.name;
            EXPECT_EQ(c.fields.payloadLength, read.payloadLength) << c.name;
        }
    }
}
