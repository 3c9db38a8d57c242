#include <gtest/gtest.h>

#include <vector>

#include "tools/qxctl/controllerclient.h"
#include "tools/qxctl/request.h"

namespace {

std::vector<uint8_t> frameOf(const std::vector<std::string>& words) {
    Request request;
    std::string error;
    EXPECT_TRUE(parseRequest(words, &request, &error)) << error;
    uint8_t buffer[1024];
    const uint32_t length = buildRequestFrame(request, buffer, sizeof(buffer));
    return {buffer, buffer + length};
}

}  // namespace

TEST(QxctlRequest, ConnectFrameCarriesRectangleAndAddress) {
    const std::vector<uint8_t> expected = {0x52, 0x43, 0x4D, 0x53, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0x29, 0x00, 0x00, 0x01, 0xF5, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0x00, 0x64, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x01, 0x68, 0x00,
                                           0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0x0D, '1',  '0',  '.',  '0',
                                           '.',  '0',  '.',  '7',  ':',  '5',  '5',  '5',  '5'};
    EXPECT_EQ(frameOf({"connect", "10.0.0.7:5555", "100", "50", "360", "640"}), expected);
}

TEST(QxctlRequest, EachCommandBuildsItsWords) {
    struct Case {
        std::vector<std::string> words;
        uint32_t code, param;
        std::vector<uint32_t> payload;
        bool reply;
    };
    const Case cases[] = {
        {{"disconnect", "3"}, 503, 0, {3}, true},
        {{"setwindow", "2", "-10", "0x20", "360", "640"}, 505, 0, {2, 0xFFFFFFF6u, 32, 360, 640}, true},
        {{"state", "1", "2"}, 509, 0, {1, 2}, true},
        {{"exit"}, 507, 0, {}, true},
        // A leading zero stays decimal.
        {{"forward", "110", "010", "1"}, 110, 10, {1}, false},
    };
    for (const Case& c : cases) {
        Request request;
        std::string error;
        ASSERT_TRUE(parseRequest(c.words, &request, &error)) << c.words[0] << ": " << error;
        EXPECT_EQ(request.code, c.code);
        EXPECT_EQ(request.param, c.param);
        EXPECT_EQ(request.words, c.payload);
        EXPECT_EQ(request.expectsReply, c.reply);
    }
    // The forwarded frame: header with length 12, code, param, identifier.
    const std::vector<uint8_t> forward = frameOf({"forward", "110", "3", "1"});
    const std::vector<uint8_t> expected = {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 12,
                                           0,    0,    0,    110,  0, 0, 0, 3, 0, 0, 0, 1};
    EXPECT_EQ(forward, expected);
}

TEST(QxctlRequest, RefusesMalformedLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"reboot"},
        {"disconnect"},
        {"disconnect", "1", "2"},
        {"disconnect", "x1"},
        {"disconnect", "1x"},
        {"disconnect", "+1"},
        {"disconnect", "4294967296"},
        {"setwindow", "1", "2", "3", "4"},
        {"connect", "10.0.0.7", "0", "0", "1", "1"},  // no port
        {"connect", std::string(60, 'a') + ":5555", "0", "0", "1", "1"},
        {"forward", "110", "3"},
        {"forward", "501", "3", "1"},  // not a pass-through code
        {"forward", "112", "3", "1"},
    };
    for (const auto& words : bad) {
        Request request;
        std::string error;
        EXPECT_FALSE(parseRequest(words, &request, &error)) << (words.empty() ? "" : words[0]);
        EXPECT_FALSE(error.empty());
    }
}

TEST(QxctlRequest, SplitsScriptLinesAndDropsComments) {
    EXPECT_EQ(splitLine("  state 1\t3  # minimise"), (std::vector<std::string>{"state", "1", "3"}));
    EXPECT_TRUE(splitLine("# only a note").empty());
    EXPECT_TRUE(splitLine("   ").empty());
}

TEST(QxctlReply, ReadsStatusWhereEachReplyKeepsIt) {
    // Connect: second word 0, status only in the reserved field.
    const uint8_t connect[] = {0, 0, 0x01, 0xF6, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    Reply reply;
    ASSERT_TRUE(parseReply(connect, sizeof(connect), 0xFFFF, &reply));
    EXPECT_EQ(reply.code, 502u);
    EXPECT_EQ(reply.status, -1);
    EXPECT_EQ(reply.deviceId, -1);
    const uint8_t disconnect[] = {0, 0, 0x01, 0xF8, 0, 0, 0, 0, 0, 0, 0, 4};
    ASSERT_TRUE(parseReply(disconnect, sizeof(disconnect), 0, &reply));
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.deviceId, 4);
    EXPECT_TRUE(reply.hasDeviceId);
    const uint8_t exitReply[] = {0, 0, 0x01, 0xFC, 0, 0, 0, 0};
    ASSERT_TRUE(parseReply(exitReply, sizeof(exitReply), 0, &reply));
    EXPECT_EQ(reply.code, 508u);
    EXPECT_FALSE(reply.hasDeviceId);
    // A device reply cut before its identifier is refused.
    EXPECT_FALSE(parseReply(disconnect, 8, 0, &reply));
}
