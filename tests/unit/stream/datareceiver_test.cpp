#include "device/datareceiver.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <fstream>
#include <string>

#include <thread>
#include <vector>

#include "decoder/decodeandrender.h"
#include "device/device.h"
#include "tests/unit/stream/support/countingwindow.h"
#ifndef _WIN32
#include "tests/unit/stream/support/h264encoder.h"  // libx264 through FFmpeg: Linux only
#endif
#include "tests/unit/stream/support/logcapture.h"
#include "tests/unit/stream/support/pictures.h"
#include "tests/unit/stream/support/streamfixtures.h"
#include "tests/unit/stream/support/zrcframes.h"

namespace {

using W = ZrcFrameWriter;
constexpr uint8_t kZrc = 7, kH264 = 1;
constexpr int32_t kWidth = 64, kHeight = 32;  // 8 x 4 blocks

// One receiver on the client end of a loopback connection, run on its own thread as the render thread
// would; the test plays the device on the other end.
class ReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        pair = connectedTcpPair();
        ASSERT_GE(socketValue(pair.client), 0);
        device.socket = pair.client;
        device.running = 1;
        device.width = 320;
        device.height = 160;
        receiver = std::make_unique<DataReceiver>(&device);
        receiver->renderer()->setHwnd(&window);
        render = std::thread([this] { result = receiver->ReceiveAndDec(); });
    }
    void TearDown() override {
        net::closeSocket(pair.device);
        if (render.joinable()) render.join();
        receiver.reset();
        net::closeSocket(pair.client);
    }
    // The device hangs up; the receiver ends by itself.
    void hangUp() {
        net::closeSocket(pair.device);
        pair.device = INVALID_SOCKET;
        render.join();
    }
    void send(const std::vector<uint8_t>& bytes) { ASSERT_TRUE(sendAll(pair.device, bytes)); }
    void sendZrc(const std::vector<uint8_t>& frame) { send(rsupFrame(kZrc, frame)); }
    bool shows(const ZrcFrameWriter& writer) {
        return waitUntil([&] {
            auto picture = window.presented();
            return picture && writer.mismatch(*picture).empty();
        });
    }

    LogCapture log;
    TcpPair pair;
    Device device;
    CountingWindow window{{0, 0, 320, 160}};  // never pumped, as a window whose thread is stalled
    std::unique_ptr<DataReceiver> receiver;
    std::thread render;
    int32_t result = -1;
};

TEST_F(ReceiverTest, ShowsZrcStreamAndStopsDeviceWhenRemoteCloses) {
    ZrcFrameWriter writer{kWidth, kHeight};
    // Headers without payload before the config frame are skipped; the config payload itself is not used.
    send(rsupHeaderOnly(kZrc, 0));
    send(rsupFrame(kZrc, {1, 2, 3}, kWidth, kHeight));
    sendZrc(writer.absolute(W::kHigh, W::kLow, W::kLow));
    EXPECT_TRUE(shows(writer));
    EXPECT_EQ(pixelAt(*window.presented(), 0, 0), (Rgb{255, 0, 0}));
    sendZrc(writer.replace({2, 5}, W::kLow, W::kLow, W::kHigh));
    EXPECT_TRUE(shows(writer));
    sendZrc(writer.xorFrame({5, 6}, W::kLow, W::kHigh, W::kLow));
    EXPECT_TRUE(shows(writer));
    EXPECT_EQ(pixelAt(*window.presented(), 8 * 5, 0), (Rgb{0, 255, 0}));

    hangUp();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(device.isRunning());
    EXPECT_EQ(log.count("DataReceiver::ReceiveAndDec remote closed"), 1);
    EXPECT_EQ(log.count("DataReceiver::ReceiveAndDec receiveThread over"), 1);
    EXPECT_EQ(log.count("initDecRender success, encoder type 7"), 1);
    EXPECT_EQ(log.count("ZRC decode failed"), 0);
}

TEST_F(ReceiverTest, DecodesFrameSplitAtEveryHeaderByteOnceAndSkipsEmptyFrames) {
    ZrcFrameWriter writer{kWidth, kHeight};
    send(rsupFrame(kZrc, {0}, kWidth, kHeight));
    sendZrc(writer.absolute(W::kMid, W::kMid, W::kMid));
    for (int32_t cut = 0; cut <= RSUP_HEADER_SIZE; ++cut) {
        const int8_t level = cut % 2 ? W::kHigh : W::kLow;
        const std::vector<uint8_t> frame = rsupFrame(kZrc, writer.replace({cut % 32}, level, W::kLow, level));
        send({frame.begin(), frame.begin() + cut});
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        send({frame.begin() + cut, frame.end()});
        // A frame with payloadLength 0 is consumed and not decoded.
        send(rsupHeaderOnly(kZrc, 0));
    }
    EXPECT_TRUE(shows(writer));
    // Ids follow on: a frame decoded twice or lost would have been dropped for a gap and logged.
    EXPECT_EQ(log.count("ZRC decode failed"), 0);
    EXPECT_EQ(log.count("H264 decode failed"), 0);
}

TEST_F(ReceiverTest, ShowsLastFrameOfABurstAtOnce) {
    ZrcFrameWriter writer{kWidth, kHeight};
    std::vector<uint8_t> burst = rsupFrame(kZrc, {0}, kWidth, kHeight);
    auto append = [&](const std::vector<uint8_t>& frame) {
        const std::vector<uint8_t> bytes = rsupFrame(kZrc, frame);
        burst.insert(burst.end(), bytes.begin(), bytes.end());
    };
    append(writer.absolute(W::kLow, W::kLow, W::kLow));
    for (int32_t block = 0; block < 32; ++block)
        append(writer.replace({block}, W::kHigh, W::kHigh, W::kLow));
    // One write, and the connection stays open: nothing more arrives to wake the decode thread again.
    send(burst);
    EXPECT_TRUE(shows(writer));
    EXPECT_EQ(pixelAt(*window.presented(), kWidth - 1, kHeight - 1), (Rgb{255, 255, 0}));
}

// A burst into a window that never takes a message: every frame is decoded (each builds on the one before),
// the newest is shown, fewer pictures than frames are handed over, and one notice waits in the queue.
TEST_F(ReceiverTest, BurstIntoAStalledWindowDecodesEveryFrameAndShowsTheNewest) {
    ZrcFrameWriter writer{kWidth, kHeight};
    constexpr int kFrames = 201;
    std::vector<std::vector<uint8_t>> frames;
    frames.push_back(rsupFrame(kZrc, {0}, kWidth, kHeight));
    frames.push_back(rsupFrame(kZrc, writer.absolute(W::kLow, W::kLow, W::kLow)));
    for (int32_t i = 1; i < kFrames; ++i) {
        const int8_t level = i % 2 ? W::kHigh : W::kMid;
        frames.push_back(rsupFrame(kZrc, i % 3 ? writer.replace({i % 32, (i * 7) % 32}, level, W::kLow, level)
                                               : writer.xorFrame({i % 32}, W::kLow, level, W::kLow)));
    }
    size_t total = 0;
    for (const auto& frame : frames)
        total += frame.size();
    std::vector<uint8_t> burst(total);
    size_t at = 0;
    for (const auto& frame : frames) {
        std::copy(frame.begin(), frame.end(), burst.begin() + static_cast<ptrdiff_t>(at));
        at += frame.size();
    }
    ASSERT_LT(burst.size(), 60000u);  // arrives whole in one segment of the loopback connection
    send(burst);
    EXPECT_TRUE(shows(writer));
    // The decode thread also sees the frames still in the socket: every frame with another one behind it,
    // in the ring or in the socket, is decoded only.
    EXPECT_LT(window.presents.load(), kFrames / 4);
    EXPECT_EQ(window.posted.load(), 1);
    EXPECT_EQ(log.count("decode failed"), 0);
    EXPECT_TRUE(device.isRunning());
}

// A decoder that always finds another frame waiting still shows pictures: every frame, when no frame may
// go unshown for any time.
TEST_F(ReceiverTest, AlwaysFollowedFramesAreStillShownNowAndThen) {
    receiver->setLongestUnshown(0);
    ZrcFrameWriter writer{kWidth, kHeight};
    std::vector<uint8_t> burst = rsupFrame(kZrc, {0}, kWidth, kHeight);
    std::vector<std::vector<uint8_t>> frames{rsupFrame(kZrc, writer.absolute(W::kLow, W::kLow, W::kLow))};
    for (int32_t block = 0; block < 20; ++block)
        frames.push_back(rsupFrame(kZrc, writer.replace({block}, W::kHigh, W::kHigh, W::kLow)));
    for (const auto& frame : frames) {
        const size_t at = burst.size();
        burst.resize(at + frame.size());
        std::copy(frame.begin(), frame.end(), burst.begin() + static_cast<ptrdiff_t>(at));
    }
    send(burst);
    EXPECT_TRUE(shows(writer));
    EXPECT_TRUE(waitUntil([&] { return window.presents.load() == static_cast<int>(frames.size()); }))
        << window.presents.load();
}

// After an idle the ring and the frame buffer go back to their first size; the next frames grow them again.
TEST_F(ReceiverTest, GivesTheStreamBuffersBackAfterAnIdle) {
    receiver->setIdleRelease(100);
    constexpr int32_t kBigW = 512, kBigH = 256;  // frames may reach 1 MiB
    ZrcFrameWriter writer{kBigW, kBigH};
    send(rsupFrame(kZrc, {0}, kBigW, kBigH));
    auto padded = [](std::vector<uint8_t> frame) {
        frame.resize(400000, 0xEE);
        return rsupFrame(kZrc, frame);
    };
    send(padded(writer.absolute(W::kLow, W::kHigh, W::kLow)));
    send(padded(writer.replace({3, 4}, W::kHigh, W::kLow, W::kLow)));
    ASSERT_TRUE(shows(writer));
    // The frame buffer grew to a whole padded frame; the idle gave it back.
    auto largestGivenBack = [&] {
        const std::string text = log.text();
        size_t largest = 0;
        for (size_t at = text.find("idle, stream buffers "); at != std::string::npos;
             at = text.find("idle, stream buffers ", at + 1)) {
            largest = std::max<size_t>(largest, std::stoul(text.substr(at + 21)));
        }
        return largest;
    };
    EXPECT_TRUE(waitUntil([&] { return largestGivenBack() > 400000; }));
    EXPECT_TRUE(waitUntil([&] { return receiver->bufferBytes() == RingBuffer::kInitialCapacity; }));

    send(padded(writer.replace({7}, W::kLow, W::kLow, W::kHigh)));
    EXPECT_TRUE(shows(writer));
    EXPECT_EQ(log.count("decode failed"), 0);
}

TEST_F(ReceiverTest, WaitsForRoomInsteadOfDroppingBytes) {
    ZrcFrameWriter writer{kWidth, kHeight};
    send(rsupFrame(kZrc, {0}, kWidth, kHeight));
    // Frames padded to nearly the frame buffer (64 x 32 x 8 + 104 bytes): the ring holds barely two, so a
    // fast sender fills it again and again.
    const size_t padded = kWidth * kHeight * 8;
    std::vector<uint8_t> stream;
    auto append = [&](std::vector<uint8_t> frame) {
        frame.resize(padded, 0xEE);
        const std::vector<uint8_t> bytes = rsupFrame(kZrc, frame);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    };
    append(writer.absolute(W::kLow, W::kLow, W::kLow));
    for (int32_t i = 0; i < 300; ++i)
        append(writer.replace({i % 32}, i % 3 ? W::kHigh : W::kLow, W::kLow, W::kHigh));
    send(stream);
    EXPECT_TRUE(shows(writer));
    EXPECT_EQ(log.count("ZRC decode failed"), 0);
    EXPECT_TRUE(device.isRunning());
}

// The stream encoder of these H.264 cases is libx264 through FFmpeg, which the Windows build does not have;
// the Windows decoder has its own tests (mftavcwindows_test.cpp).
#ifndef _WIN32
TEST_F(ReceiverTest, ShowsH264StreamInItsColours) {
    H264Encoder encoder{96, 64};
    ASSERT_TRUE(encoder.ok());
    send(rsupFrame(kH264, encoder.config(), 96, 64));
    send(rsupFrame(kH264, encoder.encodeSolid(255, 0, 0)));
    EXPECT_TRUE(waitUntil([&] {
        auto picture = window.presented();
        return picture && near(pixelAt(*picture, 40, 30), {255, 0, 0}, 12);
    }));
    send(rsupFrame(kH264, encoder.encodeSolid(0, 0, 255)));
    EXPECT_TRUE(waitUntil([&] {
        auto picture = window.presented();
        return picture && near(pixelAt(*picture, 40, 30), {0, 0, 255}, 12);
    }));
    EXPECT_EQ(log.count("initDecRender success, encoder type 1"), 1);
}
#endif

TEST_F(ReceiverTest, FrameLargerThanTheFrameBufferEndsTheStream) {
    ZrcFrameWriter writer{kWidth, kHeight};
    send(rsupFrame(kZrc, {0}, kWidth, kHeight));
    sendZrc(writer.absolute(W::kHigh, W::kHigh, W::kHigh));
    EXPECT_TRUE(shows(writer));
    send(rsupHeaderOnly(kZrc, kWidth * kHeight * 8 + 53));
    render.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(device.isRunning());
    EXPECT_EQ(log.count("exceeds the frame buffer of 16488 bytes, stream ended"), 1);
    EXPECT_EQ(log.count("receiveThread over"), 1);
}

// The process's mapped memory in KiB (VmSize; on Windows its reserved and committed address space), which
// counts even memory allocated and never touched.
#ifdef _WIN32
long mappedKiB() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    unsigned long long bytes = 0;
    auto* address = static_cast<char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < system.lpMaximumApplicationAddress &&
           VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State != MEM_FREE) bytes += region.RegionSize;
        address = static_cast<char*>(region.BaseAddress) + region.RegionSize;
    }
    return static_cast<long>(bytes / 1024);
}
#else
long mappedKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmSize:") {
            long value = 0;
            status >> value;
            return value;
        }
        status.ignore(256, '\n');
    }
    return -1;
}
#endif

// Announcing the largest picture costs no more than the stream's frames use: the buffers grow with them.
TEST_F(ReceiverTest, AnnouncedSizeAloneAllocatesLittle) {
    const long before = mappedKiB();
    ASSERT_GT(before, 0);
    send(rsupFrame(kZrc, {0}, 4096, 4096));
    ASSERT_TRUE(waitUntil([&] { return log.count("initDecRender success, encoder type 7") == 1; }));
    // A thread's stack and malloc arena (up to 72 MiB of address space) and small buffers; the frame buffer,
    // ring and picture for 4096 x 4096 are 470 MiB.
    EXPECT_LT(mappedKiB() - before, 160 * 1024);
}

// SetWindow stores the rectangle on the control thread while the stream sets up its decoder from it on the
// render thread (ThreadSanitizer checks the pair).
#ifndef _WIN32
TEST_F(ReceiverTest, RectangleMayChangeWhileTheStreamSetsUp) {
    H264Encoder encoder{96, 64};
    ASSERT_TRUE(encoder.ok());
    std::atomic<bool> done{false};
    std::thread control([&] {
        for (int32_t i = 0; !done; i = (i + 1) % 100) {
            device.width = 320 + i;
            device.height = 160 + i;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    send(rsupFrame(kH264, encoder.config(), 96, 64));
    EXPECT_TRUE(waitUntil([&] { return log.count("initDecRender success, encoder type 1") == 1; }));
    done = true;
    control.join();
}
#endif

// A stream whose own buffers cannot be made fails its set-up: the receiver says so (0), not success.
TEST_F(ReceiverTest, SetUpWithoutAWakeUpDescriptorFails) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no per-process descriptor limit to lower";
#elif defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer opens files of its own, which fail under the lowered descriptor limit";
#else
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit none = saved;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);  // no new descriptor from here on
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    send(rsupFrame(kZrc, {0}, kWidth, kHeight));
    render.join();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(device.isRunning());
#endif
}

// Config frames the receiver must refuse before it sizes anything from them.
class ConfigRefusal : public ReceiverTest, public ::testing::WithParamInterface<std::vector<uint8_t>> {};

TEST_P(ConfigRefusal, RefusesStreamAndKeepsDeviceRunning) {
    send(GetParam());
    send(std::vector<uint8_t>(64, 0));
    hangUp();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(device.isRunning()) << "the device stays until DisConnect or Exit";
    EXPECT_EQ(log.count("DataReceiver::ReceiveAndDec receiveConfigData And initial decoder failed"), 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ConfigRefusal,
                         ::testing::Values(rsupFrame(kZrc, {0}, 0, 32), rsupFrame(kZrc, {0}, 64, 0),
                                           rsupFrame(kZrc, {0}, 4097, 32),
                                           rsupFrame(kH264, {0}, 64, 0xFFFFFFFF),
                                           // 1 x 1: a 112-byte frame buffer cannot hold a 200-byte config
                                           rsupFrame(kH264, std::vector<uint8_t>(200, 0), 1, 1),
                                           // the device hangs up inside the config payload
                                           rsupHeaderOnly(kZrc, 100, 64, 32)));

}  // namespace
