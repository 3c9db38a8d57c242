#include "control/mrcp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/unit/control/testframes.h"
#include "tests/unit/control/testlog.h"

TEST(Mrcp, BuildsHeaderAndCommandWords) {
    uint8_t frame[20] = {};
    const uint32_t words[2] = {501, 0x10000};
    uint8_t* end = mrcp_build_command(mrcp_build_header(frame, 8, 0), words);
    EXPECT_EQ(frame + 20, end);
    const uint8_t expected[20] = {0x52, 0x43, 0x4D, 0x53, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x08, 0x00, 0x00, 0x01, 0xF5, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(expected, frame, sizeof(expected)));

    mrcp_build_header(frame, 12, static_cast<uint16_t>(-1));
    EXPECT_EQ(0xFF, frame[6]);
    EXPECT_EQ(0xFF, frame[7]);
}

// The one header writer and reader against known wire bytes: the header of a forwarded frame (code 110,
// param 3), of a DisConnect reply, of a failed reply, and of the largest body.
TEST(Mrcp, HeaderGoldenBytes) {
    struct Case {
        const char* name;
        uint32_t length;
        uint16_t reserved;
        const char* wire;
    } cases[] = {
        {"forward 110 param 3", 8, 3, "52 43 4D 53 00 01 00 03 00 00 00 08"},
        {"disconnect reply", 12, 0, "52 43 4D 53 00 01 00 00 00 00 00 0C"},
        {"failed reply", 12, 0xFFFF, "52 43 4D 53 00 01 FF FF 00 00 00 0C"},
        {"largest body", MRCP_MAX_BODY, 0x1234, "52 43 4D 53 00 01 12 34 00 00 03 F4"},
    };
    for (const Case& c : cases) {
        const Bytes golden = hexBytes(c.wire);
        uint8_t written[MRCP_HEADER_SIZE + 1] = {};
        written[MRCP_HEADER_SIZE] = 0xEE;
        EXPECT_EQ(written + MRCP_HEADER_SIZE, mrcp_build_header(written, c.length, c.reserved)) << c.name;
        EXPECT_EQ(golden, Bytes(written, written + MRCP_HEADER_SIZE)) << c.name;
        EXPECT_EQ(0xEE, written[MRCP_HEADER_SIZE]) << c.name;

        MrcpHeader read{};
        EXPECT_TRUE(mrcp_read_header(golden.data(), &read)) << c.name;
        EXPECT_EQ(MRCP_MAGIC, read.magic) << c.name;
        EXPECT_EQ(MRCP_VERSION, read.version) << c.name;
        EXPECT_EQ(c.reserved, read.reserved) << c.name;
        EXPECT_EQ(c.length, read.length) << c.name;
    }
}

// The reader refuses what is not ours without logging, and still hands back the fields for the caller's
// own log line; the length is never judged by it.
TEST(Mrcp, ReadHeaderRefusesForeignBytesSilently) {
    TestLog log;
    struct Case {
        const char* wire;
        bool ours;
        MrcpHeader fields;
    } cases[] = {
        {"53 4D 43 52 00 01 00 00 00 00 00 08", false, {0x534D4352, 1, 0, 8}},
        {"52 43 4D 53 00 02 00 05 00 00 00 08", false, {MRCP_MAGIC, 2, 5, 8}},
        {"52 43 4D 53 00 01 00 00 FF FF FF FE", true, {MRCP_MAGIC, 1, 0, 0xFFFFFFFE}},
        {"52 43 4D 53 00 01 00 00 00 00 00 00", true, {MRCP_MAGIC, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        MrcpHeader read{};
        EXPECT_EQ(c.ours, mrcp_read_header(hexBytes(c.wire).data(), &read)) << c.wire;
        EXPECT_EQ(c.fields.magic, read.magic) << c.wire;
        EXPECT_EQ(c.fields.version, read.version) << c.wire;
        EXPECT_EQ(c.fields.reserved, read.reserved) << c.wire;
        EXPECT_EQ(c.fields.length, read.length) << c.wire;
    }
    EXPECT_EQ("", log.text());
}

TEST(Mrcp, SendWritesOneWholeFrame) {
    SocketPair pair;
    const uint32_t words[2] = {111, 0x10000};
    const uint8_t payload[20] = {0, 0, 0, 2, 1, 2, 3, 4};
    EXPECT_EQ(0, mrcp_send(pair.fd[0], words, 0, payload, sizeof(payload), NO_TIMEOUT));
    Bytes got = readAvailable(pair.fd[1]);
    ASSERT_EQ(40u, got.size());
    EXPECT_EQ(28, got[11]);  // length: words + payload
    EXPECT_EQ(111, got[15]);
    EXPECT_EQ(0, memcmp(payload, got.data() + 20, sizeof(payload)));
}

TEST(Mrcp, SendWithoutPayloadStillAnnouncesItsLength) {
    SocketPair pair;
    const uint32_t words[2] = {110, 3};
    EXPECT_EQ(0, mrcp_send(pair.fd[0], words, 7, nullptr, 16, 1000));
    Bytes got = readAvailable(pair.fd[1]);
    ASSERT_EQ(20u, got.size());
    EXPECT_EQ(7, got[7]);
    EXPECT_EQ(24, got[11]);
}

TEST(Mrcp, SendReportsFailures) {
    TestLog log;
    SocketPair pair;
    const uint32_t words[2] = {111, 0};
    std::vector<uint8_t> tooBig(MRCP_MAX_FRAME);
    EXPECT_EQ(
        -1, mrcp_send(pair.fd[0], words, 0, tooBig.data(), static_cast<uint32_t>(tooBig.size()), NO_TIMEOUT));
    EXPECT_TRUE(readAvailable(pair.fd[1]).empty());
    pair.closeEnd(1);
    // The peer is gone: the send fails and raises no signal. Over TCP (Windows) the first send may still be
    // taken before the peer's reset arrives.
    int sent = 0;
    for (int attempt = 0; attempt < 100 && sent == 0; ++attempt) {
        sent = mrcp_send(pair.fd[0], words, 0, nullptr, 0, NO_TIMEOUT);
        if (sent == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(-1, sent);
}

TEST(Mrcp, ParseHeaderChecksMagicAndVersion) {
    TestLog log;
    const uint8_t good[12] = {0x52, 0x43, 0x4D, 0x53, 0x00, 0x01, 0xFF, 0xFE, 0x00, 0x00, 0x00, 0x0C};
    MrcpHeader h{};
    EXPECT_EQ(0, mrcp_parse_header(good, &h));
    EXPECT_EQ(MRCP_MAGIC, h.magic);
    EXPECT_EQ(1, h.version);
    EXPECT_EQ(0xFFFE, h.reserved);
    EXPECT_EQ(12u, h.length);

    const uint8_t reversed[12] = {0x53, 0x4D, 0x43, 0x52, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08};
    EXPECT_EQ(-2, mrcp_parse_header(reversed, &h));
    EXPECT_TRUE(
        log.contains("mrcp_parse_header: <mrcp header>: magic 0x534d4352 version 1 reserved 0 length 8\n"));

    const uint8_t version2[12] = {0x52, 0x43, 0x4D, 0x53, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08};
    EXPECT_EQ(-2, mrcp_parse_header(version2, &h));

    EXPECT_EQ(-1, mrcp_parse_header(nullptr, &h));
    EXPECT_EQ(-1, mrcp_parse_header(good, nullptr));
    MrcpCommand c{};
    EXPECT_EQ(-1, mrcp_parse_command(nullptr, &c));
    EXPECT_EQ(3, log.count("Invalid parameters"));
}

TEST(Mrcp, RecvReadsOneFrame) {
    struct Case {
        const char* name;
        std::vector<uint8_t> wire;
        int wordsOnly;
        int expected;
    } cases[] = {
        {"whole frame",
         {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 12, 0, 0, 1, 0xF7, 0, 0, 0, 5, 0, 0, 0, 1},
         0,
         0},
        {"words only", {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 12, 0, 0, 1, 0xF7, 0, 0, 0, 5}, 1, 0},
        {"short header", {0x52, 0x43, 0x4D}, 0, -1},
        {"bad magic", {0x52, 0x43, 0x4D, 0x54, 0, 1, 0, 0, 0, 0, 0, 8}, 0, -2},
        {"short body", {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 12, 0, 0, 1, 0xF7}, 0, -2},
        {"length beyond the buffer", {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0x04, 0x00}, 0, -2},
        {"length below the words", {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 4, 1, 2, 3, 4}, 0, -2},
    };
    TestLog log;
    for (const Case& c : cases) {
        SocketPair pair;
        const int size = static_cast<int>(c.wire.size());
        ASSERT_EQ(size,
                  net::sendSome(pair.fd[1], reinterpret_cast<const char*>(c.wire.data()), size, 0, false));
        pair.closeEnd(1);
        uint8_t buffer[MRCP_MAX_FRAME];
        MrcpHeader h{};
        MrcpCommand cmd{};
        EXPECT_EQ(c.expected, mrcp_recv(pair.fd[0], buffer, &h, &cmd, 1000, c.wordsOnly)) << c.name;
        if (c.expected == 0) {
            EXPECT_EQ(503u, cmd.code) << c.name;
            EXPECT_EQ(5u, cmd.param) << c.name;
        }
    }
}
