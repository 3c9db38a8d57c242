// A device's stream shown by the real client in a real X window: a ZRC and an H.264 stream each appear at
// the place the controller asked for, in their own colours, and follow the window when SetWindow moves and
// resizes it. The test plays the device (handshake, RSUP stream) and the controller (Connect, SetWindow).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control/sockets.h"
#include "tests/e2e/system/childprocess.h"
#include "tests/e2e/system/xscreen.h"
#include "tests/unit/stream/support/h264encoder.h"
#include "tests/unit/stream/support/pictures.h"
#include "tests/unit/stream/support/streamfixtures.h"
#include "tests/unit/stream/support/zrcframes.h"
#include "tools/qxctl/controllerclient.h"

namespace {

using namespace std::chrono_literals;
using W = ZrcFrameWriter;
constexpr Rgb kRed{255, 0, 0}, kBlue{0, 0, 255};

Rgb rgb(uint32_t pixel) {
    return {static_cast<int>(pixel >> 16 & 0xFF), static_cast<int>(pixel >> 8 & 0xFF),
            static_cast<int>(pixel & 0xFF)};
}

uint16_t boundPort(SOCKET s) {
    sockaddr_in address{};
    socklen_t size = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

// The device's end of the RSUP handshake: the client's 12-byte SYN (4-byte token, "RSUP SYN"), the token
// echoed with "RSUP ACK", and the client's final ACK.
bool answerHandshake(SOCKET s) {
    char syn[12];
    if (RecvEx(s, syn, sizeof syn, 0, 5000, 1) != static_cast<int>(sizeof syn)) return false;
    char ack[12];
    memcpy(ack, syn, 4);
    memcpy(ack + 4, "RSUP ACK", 8);
    if (SendEx(s, ack, sizeof ack, 0, 5000) != static_cast<int>(sizeof ack)) return false;
    char final[12];
    return RecvEx(s, final, sizeof final, 0, 5000, 1) == static_cast<int>(sizeof final);
}

class StreamE2e : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display (run under scripts/run-under-xvfb --wm)";
        ASSERT_TRUE(screen.ok());
        const SOCKET probe = TCPListen("127.0.0.1", 0);
        port = boundPort(probe);
        close(probe);
        logFile = "/tmp/qx-stream-e2e-" + std::to_string(getpid()) + ".log";
        client = std::make_unique<ChildProcess>(
            QX_CLIENT, std::vector<std::string>{"127.0.0.1:" + std::to_string(port)},
            std::vector<std::string>{"QX_WINDOW=x11", "QX_LOG_FILE=" + logFile});
        ASSERT_TRUE(waitUntil([&] { return controller.open("127.0.0.1", port) == 0; }, 5000ms));
        listener = TCPListen("127.0.0.1", 0);
        ASSERT_GE(listener, 0);
    }
    void TearDown() override {
        if (device >= 0) close(device);
        if (listener >= 0) close(listener);
        client.reset();
        std::remove(logFile.c_str());
    }

    Reply call(const std::vector<std::string>& words) {
        Request request;
        std::string error;
        EXPECT_TRUE(parseRequest(words, &request, &error)) << error;
        Reply reply;
        EXPECT_EQ(controller.call(request, &reply, 10000), 0);
        return reply;
    }
    // Connects the client to the test's device at x, y, width x height; the device socket once handshaken.
    void connectDevice(int x, int y, int width, int height) {
        std::thread accept([&] {
            device = TCPAccept(listener, nullptr);
            handshaken = device >= 0 && answerHandshake(device);
        });
        const Reply reply =
            call({"connect", "127.0.0.1:" + std::to_string(boundPort(listener)), std::to_string(x),
                  std::to_string(y), std::to_string(width), std::to_string(height)});
        accept.join();
        ASSERT_TRUE(handshaken);
        EXPECT_EQ(reply.code, 502u);
        EXPECT_EQ(reply.status, 0);
        deviceId = reply.deviceId;
    }
    void send(const std::vector<uint8_t>& bytes) { ASSERT_TRUE(sendAll(device, bytes)); }
    // The screen at (x, y) shows colour.
    bool screenShows(int x, int y, const Rgb& colour) {
        return waitUntil([&] { return near(rgb(screen.pixel(x, y)), colour, 12); });
    }

    XScreen screen;
    uint16_t port = 0;
    std::string logFile;
    std::unique_ptr<ChildProcess> client;
    ControllerClient controller;
    SOCKET listener = INVALID_SOCKET;
    SOCKET device = INVALID_SOCKET;
    bool handshaken = false;
    int32_t deviceId = -1;
};

TEST_F(StreamE2e, ZrcStreamFillsTheWindowAtItsPlaceAndFollowsSetWindow) {
    // 64 x 32 picture: left half red, right half blue, shown 5 times enlarged at (100, 80).
    connectDevice(100, 80, 320, 160);
    ZrcFrameWriter writer{64, 32};
    send(rsupFrame(7, {0}, 64, 32));
    send(rsupFrame(7, writer.absolute(W::kHigh, W::kLow, W::kLow)));
    std::vector<int32_t> right;
    for (int32_t b = 0; b < 32; ++b) {
        if (b % 8 >= 4) right.push_back(b);
    }
    send(rsupFrame(7, writer.replace(right, W::kLow, W::kLow, W::kHigh)));
    EXPECT_TRUE(screenShows(100, 80, kRed)) << std::hex << screen.pixel(100, 80);
    EXPECT_TRUE(screenShows(100 + 159, 80 + 159, kRed)) << std::hex << screen.pixel(259, 239);
    EXPECT_TRUE(screenShows(100 + 160, 80, kBlue)) << std::hex << screen.pixel(260, 80);
    EXPECT_TRUE(screenShows(100 + 319, 80 + 159, kBlue)) << std::hex << screen.pixel(419, 239);
    EXPECT_FALSE(near(rgb(screen.pixel(100 + 320, 80 + 80)), kBlue, 12))
        << "the picture stays inside the window";

    // Moved and doubled: the next paint fills the new size.
    const Reply moved = call({"setwindow", std::to_string(deviceId), "500", "300", "640", "320"});
    EXPECT_EQ(moved.status, 0);
    EXPECT_TRUE(screenShows(500, 300, kRed)) << std::hex << screen.pixel(500, 300);
    EXPECT_TRUE(screenShows(500 + 319, 300 + 319, kRed)) << std::hex << screen.pixel(819, 619);
    EXPECT_TRUE(screenShows(500 + 320, 300, kBlue)) << std::hex << screen.pixel(820, 300);
    EXPECT_TRUE(screenShows(500 + 639, 300 + 319, kBlue)) << std::hex << screen.pixel(1139, 619);
}

TEST_F(StreamE2e, H264StreamAppearsInItsColours) {
    H264Encoder encoder{128, 96};
    ASSERT_TRUE(encoder.ok());
    connectDevice(300, 200, 256, 192);
    send(rsupFrame(1, encoder.config(), 128, 96));
    send(rsupFrame(1, encoder.encodeSolid(255, 0, 0)));
    EXPECT_TRUE(screenShows(300 + 5, 200 + 5, kRed)) << std::hex << screen.pixel(305, 205);
    EXPECT_TRUE(screenShows(300 + 250, 200 + 186, kRed)) << std::hex << screen.pixel(550, 386);
    send(rsupFrame(1, encoder.encodeSolid(0, 0, 255)));
    EXPECT_TRUE(screenShows(300 + 128, 200 + 96, kBlue)) << std::hex << screen.pixel(428, 296);

    const Reply moved = call({"setwindow", std::to_string(deviceId), "40", "40", "512", "384"});
    EXPECT_EQ(moved.status, 0);
    EXPECT_TRUE(screenShows(40 + 511, 40 + 383, kBlue)) << std::hex << screen.pixel(551, 423);
}

}  // namespace
