#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <vector>

#include "tools/qx-devsim/controlframetext.h"
#include "tools/qx-devsim/devicehandshake.h"
#include "tools/qx-devsim/devsimoptions.h"

namespace {

std::vector<uint8_t> touchFrame(uint32_t action, int32_t x, int32_t y) {
    const uint32_t words[] = {111, 0x10000, 1, action, static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0};
    std::vector<uint8_t> frame = {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 28};
    for (uint32_t w : words) {
        for (int shift = 24; shift >= 0; shift -= 8)
            frame.push_back(static_cast<uint8_t>(w >> shift));
    }
    return frame;
}

}  // namespace

TEST(ControlFrameText, DescribesTouchAndForwardedFrames) {
    std::string line;
    const std::vector<uint8_t> down = touchFrame(2, 32768, -5);
    EXPECT_EQ(describeControlFrame(down.data(), down.size(), &line), 40);
    EXPECT_EQ(line, "touch down x=32768 y=-5");
    const std::vector<uint8_t> up = touchFrame(1, 0, 65536);
    describeControlFrame(up.data(), up.size(), &line);
    EXPECT_EQ(line, "touch up x=0 y=65536");
    // A touch frame with an unknown action is shown by its words.
    const std::vector<uint8_t> odd = touchFrame(9, 1, 2);
    describeControlFrame(odd.data(), odd.size(), &line);
    EXPECT_EQ(line, "frame reserved 0 words 111 65536 1 9 1 2 0");
    // What the client forwards for code 110, param 3, device 1.
    const uint8_t forwarded[] = {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 3, 0, 0, 0, 8, 0, 0, 0, 3, 0, 0, 0, 1};
    EXPECT_EQ(describeControlFrame(forwarded, sizeof(forwarded), &line), 20);
    EXPECT_EQ(line, "frame reserved 3 words 3 1");
}

TEST(ControlFrameText, WaitsForWholeFramesAndRefusesForeignBytes) {
    std::string line;
    const std::vector<uint8_t> down = touchFrame(2, 1, 1);
    for (size_t cut : {size_t{0}, size_t{11}, size_t{12}, size_t{39}}) {
        EXPECT_EQ(describeControlFrame(down.data(), cut, &line), 0) << cut;
    }
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Case foreign[] = {
        {"magic", {0x53, 0x4D, 0x43, 0x52, 0, 1, 0, 0, 0, 0, 0, 8}},
        {"version", {0x52, 0x43, 0x4D, 0x53, 0, 2, 0, 0, 0, 0, 0, 8}},
        {"length below the words", {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 7}},
        {"length beyond a frame", {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0x03, 0xF5}},
        {"huge length", {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : foreign)
        EXPECT_EQ(describeControlFrame(c.bytes.data(), c.bytes.size(), &line), -1) << c.name;
}

class DeviceHandshake : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override {
        close(fds_[0]);
        close(fds_[1]);
    }
    // The client's half: SYN with a token, then (when told) the final ACK it would send.
    void sendSyn(const char* text) {
        char syn[12] = {0x12, 0x34, 0x56, 0x78};
        memcpy(syn + 4, text, 8);
        ASSERT_EQ(send(fds_[1], syn, 12, 0), 12);
    }
    int fds_[2];
};

TEST_F(DeviceHandshake, EchoesTheTokenAndWaitsForTheFinalAck) {
    auto device =
        std::async(std::launch::async, [&] { return answerHandshake(fds_[0], HandshakeMode::Normal, 2000); });
    sendSyn("RSUP SYN");
    char ack[12];
    ASSERT_EQ(recv(fds_[1], ack, 12, MSG_WAITALL), 12);
    const char expected[12] = {0x12, 0x34, 0x56, 0x78, 'R', 'S', 'U', 'P', ' ', 'A', 'C', 'K'};
    EXPECT_EQ(memcmp(ack, expected, 12), 0);
    ASSERT_EQ(send(fds_[1], ack, 12, 0), 12);
    EXPECT_EQ(device.get(), 0);
}

TEST_F(DeviceHandshake, MisbehavesAsAsked) {
    auto bad = std::async(std::launch::async,
                          [&] { return answerHandshake(fds_[0], HandshakeMode::BadToken, 2000); });
    sendSyn("RSUP SYN");
    char ack[12];
    ASSERT_EQ(recv(fds_[1], ack, 12, MSG_WAITALL), 12);
    EXPECT_NE(ack[0], 0x12);
    EXPECT_EQ(memcmp(ack + 4, "RSUP ACK", 8), 0);
    EXPECT_EQ(bad.get(), 2);

    auto silent = std::async(std::launch::async,
                             [&] { return answerHandshake(fds_[0], HandshakeMode::NoAnswer, 2000); });
    sendSyn("RSUP SYN");
    EXPECT_EQ(silent.get(), 1);
    EXPECT_EQ(recv(fds_[1], ack, 12, MSG_DONTWAIT), -1);  // nothing was answered
}

TEST_F(DeviceHandshake, RefusesWhatIsNoHandshake) {
    auto notSyn =
        std::async(std::launch::async, [&] { return answerHandshake(fds_[0], HandshakeMode::Normal, 2000); });
    sendSyn("RSUP ACK");
    EXPECT_EQ(notSyn.get(), -2);

    auto wrongFinal =
        std::async(std::launch::async, [&] { return answerHandshake(fds_[0], HandshakeMode::Normal, 2000); });
    sendSyn("RSUP SYN");
    char ack[12];
    ASSERT_EQ(recv(fds_[1], ack, 12, MSG_WAITALL), 12);
    sendSyn("RSUP SYN");
    EXPECT_EQ(wrongFinal.get(), -4);

    EXPECT_EQ(answerHandshake(fds_[0], HandshakeMode::Normal, 100), -1);  // no SYN at all
}

TEST(DevsimOptions, ReadsSettingsAndRefusesBadValues) {
    const char* good[] = {"qx-devsim",
                          "--port",
                          "0",
                          "--codec",
                          "zrc",
                          "--size",
                          "360x640",
                          "--fps",
                          "60",
                          "--frames",
                          "5",
                          "--accent",
                          "ff0000",
                          "--once",
                          "--matrix",
                          "16",
                          "--frame-format",
                          "0x8C",
                          "--corrupt-frame",
                          "3",
                          "--loop",
                          "30",
                          "--motion",
                          "clock"};
    DevsimOptions o;
    std::string error;
    ASSERT_TRUE(parseDevsimOptions(sizeof(good) / sizeof(good[0]), good, &o, &error)) << error;
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.codec, "zrc");
    EXPECT_EQ(o.width, 360);
    EXPECT_EQ(o.height, 640);
    EXPECT_EQ(o.fps, 60);
    EXPECT_EQ(o.frames, 5);
    EXPECT_EQ(o.accent, 0xFF0000u);
    EXPECT_TRUE(o.once);
    EXPECT_EQ(o.matrix, 16u);
    EXPECT_EQ(o.frameFormat, 0x8Cu);
    EXPECT_EQ(o.corruptFrame, 3);
    EXPECT_EQ(o.loop, 30);
    EXPECT_EQ(o.motion, DevsimOptions::Motion::Clock);

    const std::vector<std::vector<const char*>> bad = {
        {"--port", "70000"},
        {"--port"},
        {"--codec", "vp9"},
        {"--size", "720"},
        {"--size", "0x10"},
        {"--size", "5000x10"},
        {"--fps", "0"},
        {"--matrix", "12"},
        {"--matrix", "4"},
        {"--frame-format", "0x85"},
        {"--quality", "6"},
        {"--source", "camera"},
        {"--frames", "-1"},
        {"--colour", "red"},
        {"--motion", "spin"},
        // Many phones in one process send one pre-coded loop and do not misbehave.
        {"--devices", "4"},
        {"--devices", "4", "--loop", "3", "--corrupt-frame", "2"},
        {"--devices", "0"},
        {"--devices", "4", "--loop", "3", "--port", "65533"},
    };
    for (const auto& args : bad) {
        std::vector<const char*> argv = {"qx-devsim"};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_FALSE(parseDevsimOptions(static_cast<int>(argv.size()), argv.data(), &o, &error)) << args[0];
    }
}
