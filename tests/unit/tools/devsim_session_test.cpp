#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "device/rsupheader.h"
#include "tools/qx-devsim/devicesession.h"
#include "tools/qx-devsim/devicewall.h"

namespace {

constexpr int32_t kSide = 64;

// The client's end of one simulated-device connection.
class SessionClient {
public:
    explicit SessionClient(const DevsimOptions& options) : options_(options) {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
        timeval limit{5, 0};
        setsockopt(fds_[1], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        session_ = std::async(std::launch::async, [this] { return DeviceSession(fds_[0], options_).run(); });
    }
    ~SessionClient() {
        close(fds_[1]);
        if (session_.valid()) session_.wait();
    }
    int end() {
        shutdown(fds_[1], SHUT_RDWR);
        return session_.get();
    }
    void handshake() {
        char syn[12] = {1, 2, 3, 4, 'R', 'S', 'U', 'P', ' ', 'S', 'Y', 'N'};
        ASSERT_EQ(send(fds_[1], syn, 12, 0), 12);
        char ack[12];
        ASSERT_EQ(recv(fds_[1], ack, 12, MSG_WAITALL), 12);
        ASSERT_EQ(send(fds_[1], ack, 12, 0), 12);
    }
    // Reads n bytes; fewer when the device closed.
    std::vector<uint8_t> read(size_t n) {
        std::vector<uint8_t> bytes(n);
        const ssize_t got = n ? recv(fds_[1], bytes.data(), n, MSG_WAITALL) : 0;
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return bytes;
    }
    RsupHeader header() {
        const std::vector<uint8_t> bytes = read(RSUP_HEADER_SIZE);
        EXPECT_EQ(bytes.size(), static_cast<size_t>(RSUP_HEADER_SIZE));
        return bytes.size() == RSUP_HEADER_SIZE ? RsupHeader::parse(bytes.data()) : RsupHeader{};
    }
    // Reads a whole frame and returns its header.
    RsupHeader frame() {
        const RsupHeader h = header();
        EXPECT_EQ(read(static_cast<size_t>(h.payloadLength)).size(), static_cast<size_t>(h.payloadLength));
        return h;
    }
    int clientSocket() const { return fds_[1]; }

private:
    DevsimOptions options_;
    int fds_[2];
    std::future<int> session_;
};

DevsimOptions smallStream() {
    DevsimOptions options;
    options.width = kSide;
    options.height = kSide;
    options.fps = 240;
    options.frames = 3;
    return options;
}

}  // namespace

TEST(DeviceSession, SendsConfigThenOneFramePerPictureAndPrintsControlFrames) {
    testing::internal::CaptureStdout();
    SessionClient client(smallStream());
    client.handshake();
    const RsupHeader config = client.frame();
    EXPECT_EQ(config.encoderType, 1);
    EXPECT_EQ(config.width, static_cast<uint32_t>(kSide));
    EXPECT_EQ(config.height, static_cast<uint32_t>(kSide));
    EXPECT_GT(config.payloadLength, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_GT(client.frame().payloadLength, 0);
    const uint8_t forwarded[] = {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 3, 0, 0, 0, 8, 0, 0, 0, 3, 0, 0, 0, 1};
    ASSERT_EQ(send(client.clientSocket(), forwarded, sizeof(forwarded), 0), 20);
    // After the last picture the device stays until the client leaves.
    EXPECT_EQ(client.end(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "frame reserved 3 words 3 1\n");
}

TEST(DeviceSession, MisbehavesAsAsked) {
    {
        DevsimOptions options = smallStream();
        options.closeMidFrame = 2;
        SessionClient client(options);
        client.handshake();
        client.frame();
        client.frame();
        const RsupHeader second = client.header();
        EXPECT_EQ(client.read(static_cast<size_t>(second.payloadLength)).size(),
                  static_cast<size_t>(second.payloadLength / 2));
    }
    {
        DevsimOptions options = smallStream();
        options.truncateFrame = 1;
        SessionClient client(options);
        client.handshake();
        client.frame();
        const RsupHeader first = client.header();
        client.read(static_cast<size_t>(first.payloadLength / 2));
        // The next picture's header follows at once, where the rest of the first was announced.
        const RsupHeader next = client.header();
        EXPECT_EQ(next.encoderType, 1);
        EXPECT_GT(next.payloadLength, 0);
    }
    {
        DevsimOptions options = smallStream();
        options.oversizeFrame = 1;
        options.announceWidth = 5000;
        options.announceHeight = 4;
        SessionClient client(options);
        client.handshake();
        const RsupHeader config = client.frame();
        EXPECT_EQ(config.width, 5000u);
        EXPECT_EQ(config.height, 4u);
        EXPECT_EQ(client.frame().payloadLength, 5000 * 4 * 8 + 104);
    }
}

namespace {

// A client's connection to one phone of a wall.
class WallClient {
public:
    explicit WallClient(uint16_t port) : s_(TCPConnect(port, "127.0.0.1", 5000)) { limitWaits(); }
    // A client whose socket takes only a few kilobytes: the phone's sending stops at once when it does not
    // read.
    WallClient(uint16_t port, int receiveBuffer) : s_(socket(AF_INET, SOCK_STREAM, 0)) {
        setsockopt(s_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in phone{};
        phone.sin_family = AF_INET;
        phone.sin_port = htons(port);
        phone.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(s_, reinterpret_cast<sockaddr*>(&phone), sizeof(phone)), 0);
        limitWaits();
    }
    ~WallClient() {
        if (s_ >= 0) close(s_);
    }
    bool send(const char* bytes) { return ::send(s_, bytes, 12, 0) == 12; }
    // The device's ACK to a good SYN, then the client's final ACK.
    void handshake() {
        ASSERT_TRUE(send("\x01\x02\x03\x04RSUP SYN"));
        char ack[12];
        ASSERT_EQ(recv(s_, ack, 12, MSG_WAITALL), 12);
        EXPECT_EQ(std::string(ack, 12), "\x01\x02\x03\x04RSUP ACK");
        ASSERT_TRUE(send(ack));
    }
    // The next frame's payload; empty when the device closed or stayed silent.
    std::vector<uint8_t> frame() {
        uint8_t header[RSUP_HEADER_SIZE];
        if (recv(s_, header, RSUP_HEADER_SIZE, MSG_WAITALL) != RSUP_HEADER_SIZE) return {};
        const int32_t length = RsupHeader::parse(header).payloadLength;
        if (length < 0 || length > kMaxPayload) return {};
        std::vector<uint8_t> payload(static_cast<size_t>(length));
        if (recv(s_, payload.data(), payload.size(), MSG_WAITALL) != static_cast<ssize_t>(payload.size()))
            return {};
        return payload;
    }
    // Sends bytes as fast as the phone takes them until `stop`; each send waits at most 100 ms.
    void flood(const std::atomic<bool>& stop) {
        timeval limit{0, 100000};
        setsockopt(s_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
        const std::vector<char> bytes(1 << 16, 0x6E);
        while (!stop)
            ::send(s_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    bool closedByDevice() {
        char byte;
        return recv(s_, &byte, 1, 0) == 0;
    }

private:
    void limitWaits() {
        timeval limit{5, 0};
        setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    }

    // Far above any frame of the small test stream, so a damaged length fails the test instead of allocating.
    static constexpr int32_t kMaxPayload = 1 << 24;
    SOCKET s_;
};

// Two phones sending a loop of three ZRC pictures for as long as their clients stay.
DevsimOptions twoPhoneWall() {
    DevsimOptions options = smallStream();
    options.frames = 0;
    options.codec = "zrc";
    options.loop = 3;
    options.devices = 2;
    options.port = 0;
    return options;
}

// Serves a wall on a thread of its own; stopped and joined on every way out, a failed assertion included.
struct Serving {
    DeviceWall& wall;
    std::thread thread{[this] { EXPECT_EQ(wall.run(), 0); }};
    void end() {
        wall.stop();  // wakes run()'s wait through the wall's wake-up pipe, so the join below is bounded
        if (thread.joinable()) thread.join();
    }
    ~Serving() { end(); }
};

// Floods a client's phone from a thread of its own; stopped and joined on every way out.
struct Flooding {
    WallClient& client;
    std::atomic<bool> stop = false;
    std::thread thread{[this] { client.flood(stop); }};
    ~Flooding() {
        stop = true;
        thread.join();  // each of its sends waits at most 100 ms
    }
};

}  // namespace

TEST(DeviceWall, EveryPhoneSendsTheCodedLoopOnItsOwnConnection) {
    const std::string log = testing::TempDir() + "devsim-wall-sent";
    for (int i = 0; i < 2; ++i)
        std::remove((log + "-" + std::to_string(i)).c_str());
    DevsimOptions options = twoPhoneWall();
    options.sendLog = log;
    DeviceWall wall(options);
    std::string error;
    ASSERT_TRUE(wall.open(&error)) << error;
    const std::vector<uint16_t> ports = wall.ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_NE(ports[0], ports[1]);
    Serving serving{wall};

    std::vector<std::vector<uint8_t>> first;  // phone 0's config and pictures 1..4
    {
        WallClient phone0(ports[0]);
        phone0.handshake();
        for (int i = 0; i < 5; ++i)
            first.push_back(phone0.frame());
        EXPECT_EQ(first[0], std::vector<uint8_t>({'Z', 'R', 'C', '2'}));
        // The loop of three starts again with its (absolute) first picture.
        EXPECT_EQ(first[4], first[1]);
        EXPECT_NE(first[2], first[1]);

        // A client that does not open with a SYN loses its connection; the other phone goes on.
        WallClient stranger(ports[1]);
        ASSERT_TRUE(stranger.send("\x01\x02\x03\x04HELLO THERE"));
        EXPECT_TRUE(stranger.closedByDevice());
        EXPECT_FALSE(phone0.frame().empty());
    }
    // Another connection to either phone starts at the first picture again.
    for (uint16_t port : ports) {
        WallClient again(port);
        again.handshake();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(again.frame(), first[static_cast<size_t>(i)]) << port << " frame " << i;
    }
    serving.end();

    // Each phone logs the picture number its screen shows, counted from 0 within the loop.
    std::ifstream sent(log + "-0");
    std::vector<long long> numbers;
    long long number, micros;
    while (sent >> number >> micros)
        numbers.push_back(number);
    ASSERT_GE(numbers.size(), 7u);
    EXPECT_EQ(std::vector<long long>(numbers.begin(), numbers.begin() + 5),
              (std::vector<long long>{0, 1, 2, 0, 1}));
}

TEST(DeviceWall, AClientThatReadsSlowlyGetsWholeFramesInOrderAndHoldsUpNoOtherPhone) {
    DevsimOptions options = twoPhoneWall();
    options.width = 720;  // frames of many kilobytes
    options.height = 1280;
    DeviceWall wall(options);
    std::string error;
    ASSERT_TRUE(wall.open(&error)) << error;
    const std::vector<uint16_t> ports = wall.ports();
    Serving serving{wall};

    WallClient slow(ports[0], 4096);
    slow.handshake();
    // The slow client reads nothing for a while: its phone's frame waits, half sent, in a full socket.
    WallClient other(ports[1]);
    other.handshake();
    std::vector<std::vector<uint8_t>> pictures;  // the other phone's config and pictures 1..3
    for (int i = 0; i < 4; ++i)
        pictures.push_back(other.frame());
    for (int i = 0; i < 80; ++i)
        ASSERT_FALSE(other.frame().empty()) << "frame " << i;
    ASSERT_GT(pictures[1].size(), 16384u);

    // Then it gets the same frames as the other phone sent, each whole and in turn, past the one that waited.
    EXPECT_EQ(slow.frame(), pictures[0]);
    for (int i = 0; i < 120; ++i)
        ASSERT_EQ(slow.frame(), pictures[static_cast<size_t>(1 + i % 3)]) << "picture " << i + 1;
}

// A client that sends without pause is read a little per wake-up, like every other socket: it holds up
// neither the other phone's pictures nor the stop.
TEST(DeviceWall, AClientThatNeverStopsSendingHoldsUpNeitherTheOtherPhoneNorTheStop) {
    DevsimOptions options = twoPhoneWall();
    DeviceWall wall(options);
    std::string error;
    ASSERT_TRUE(wall.open(&error)) << error;
    const std::vector<uint16_t> ports = wall.ports();
    Serving serving{wall};

    WallClient flooding(ports[0]);
    flooding.handshake();
    Flooding flooder{flooding};
    WallClient other(ports[1]);
    other.handshake();
    for (int i = 0; i < 60; ++i)
        ASSERT_FALSE(other.frame().empty()) << "frame " << i;
    const auto start = std::chrono::steady_clock::now();
    serving.end();
    // Far below the 5 s a client's read waits, far above the wake-up on a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}
