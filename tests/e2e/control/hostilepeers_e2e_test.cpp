// Peers that stop reading or stop sending, against the real client process: none of them may hold the
// control thread. The client promises an answer to every request within 1 s while a device misbehaves and an
// exit within 1 s of SIGTERM; on a busy machine the tests allow 3 s for both. Limits of the client itself
// (2 s for a device that takes nothing, 5 s for a frame or a TCP connect, 15 s for a handshake) are checked
// with wide margins above and small ones below.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "tests/e2e/control/clientprocess.h"

using namespace e2e;

namespace {

// The client's 1 s, on a busy machine.
milliseconds answerLimit() {
    return milliseconds(3000);
}

Bytes connectFrame(uint16_t port) {
    const std::string address = "127.0.0.1:" + std::to_string(port);
    return controlFrame(501, 0, {100, 50, 360, 640, static_cast<uint32_t>(address.size())}, address);
}

long msSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

// A simulated phone that streams ZRC pictures and prints every frame it receives.
class Phone {
public:
    Phone() : process_(QX_DEVSIM, {"--port", "0", "--codec", "zrc", "--size", "64x96", "--fps", "20"}) {
        const std::string line = process_.waitForText("listening on 127.0.0.1:", milliseconds(10000));
        if (!line.empty()) port_ = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
    }
    uint16_t port() const { return port_; }
    bool printed(const std::string& text) { return !process_.waitForText(text, milliseconds(10000)).empty(); }

private:
    ChildProcess process_;
    uint16_t port_ = 0;
};

// Forwards to the device in batches until the client says it holds as much for it as it takes (its socket is
// full and its queue too). After each batch a SetWindow of the healthy device `other` must be answered within
// the limit: the batch has been served and the control thread waits for no device. False when the device
// never fills or an answer is late. The Windows client under wine serves a few thousand Forwards a second,
// too few to fill the queue within the send limit once the socket is full: there the device's own stop for
// not reading ends the filling too.
bool fillDevice(ClientProcess& client, SOCKET controller, int32_t id, int32_t other) {
    Bytes batch;
    const Bytes forward = controlFrame(110, 3, {static_cast<uint32_t>(id)});
    for (int i = 0; i < 1000; ++i)
        batch.insert(batch.end(), forward.begin(), forward.end());
    const Bytes ping = controlFrame(505, 0, {static_cast<uint32_t>(other), 10, 20, 300, 500});
    const std::string full = "Device::send dev id " + std::to_string(id) + ": ";
    const std::string stopped = "Device::sendThread dev id " + std::to_string(id) + " does not read";
    for (int round = 0; round < 1000; ++round) {
        if (SendEx(controller, reinterpret_cast<const char*>(batch.data()), static_cast<int>(batch.size()), 0,
                   30000) != static_cast<int>(batch.size()))
            return false;
        // The batch itself may take a while to serve on a busy machine: a hang guard only.
        send(controller, ping.data(), ping.size(), MSG_NOSIGNAL);
        const Bytes reply = readFor(controller, 24, milliseconds(60000));
        if (reply != replyFrame(506, 0, other, 0)) {
            ADD_FAILURE() << "no answer after forwarding batch " << round;
            return false;
        }
        if (client.log().contains(full)) return true;
        if (windowsClient() && client.log().contains(stopped)) return true;
    }
    return false;
}

// A listener whose backlog is full: a connect to it is neither accepted nor refused.
class DeafListener {
public:
    DeafListener() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        listen(listener_, 0);
        port_ = localPort(listener_);
        // Fill the queue; the kernel then drops further connection requests and the client's waits.
        for (int i = 0; i < 8; ++i) {
            int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            addr.sin_port = htons(port_);
            connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
            fillers_.push_back(s);
        }
        std::this_thread::sleep_for(milliseconds(200));
    }
    ~DeafListener() {
        for (int s : fillers_)
            close(s);
        close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

// A device that answers the handshake one byte every `gap`.
class TricklingDevice {
public:
    explicit TricklingDevice(milliseconds gap) : gap_(gap) {
        listener_ = TCPListen("127.0.0.1", 0);
        port_ = localPort(listener_);
        thread_ = std::thread([this] { serve(); });
    }
    ~TricklingDevice() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
        if (connection_ >= 0) close(connection_);
    }
    uint16_t port() const { return port_; }

private:
    void serve() {
        connection_ = TCPAccept(listener_, nullptr);
        if (connection_ < 0) return;
        Bytes syn = readFor(connection_, 12, milliseconds(5000));
        if (syn.size() != 12) return;
        Bytes ack(syn.begin(), syn.begin() + 4);
        for (char c : std::string("RSUP ACK"))
            ack.push_back(static_cast<uint8_t>(c));
        for (uint8_t byte : ack) {
            if (send(connection_, &byte, 1, MSG_NOSIGNAL) != 1) return;
            for (auto waited = milliseconds(0); waited < gap_ && !stop_; waited += milliseconds(50))
                std::this_thread::sleep_for(milliseconds(50));
            if (stop_) return;
        }
    }

    milliseconds gap_;
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET connection_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

TEST(HostilePeers, DeviceThatNeverReadsIsStoppedWhileRequestsAreAnswered) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    // Completes the handshake, then never reads; a small receive buffer fills after a few thousand frames.
    TestDevice deaf(true, 4096);
    Phone phone;
    ASSERT_NE(0, phone.port());
    SOCKET controller = client.connect();
    ASSERT_GE(controller, 0);
    const Bytes connectDeaf = connectFrame(deaf.port());
    ASSERT_EQ(replyFrame(502, 0, 1, 0), request(controller, connectDeaf, 24));
    ASSERT_EQ(replyFrame(502, 0, 2, 0), request(controller, connectFrame(phone.port()), 24));
    ASSERT_EQ(replyFrame(502, 0, 3, 0), request(controller, connectDeaf, 24));
    for (int32_t id : {1, 2, 3})
        ASSERT_TRUE(awaitWindow(controller, id)) << id;

    // Device 1: full, then disconnected at once; the answer must not wait for its socket.
    ASSERT_TRUE(fillDevice(client, controller, 1, 2));
    auto start = Clock::now();
    EXPECT_EQ(replyFrame(504, 0, 1, 0), request(controller, controlFrame(503, 0, {1}), 24));
    EXPECT_LT(msSince(start), answerLimit().count());

    // Device 3: full and left alone; the client gives up on it by itself.
    ASSERT_TRUE(fillDevice(client, controller, 3, 2));
    start = Clock::now();
    EXPECT_EQ(replyFrame(506, 0, 2, 0), request(controller, controlFrame(505, 0, {2, 10, 20, 300, 500}), 24));
    EXPECT_LT(msSince(start), answerLimit().count()) << "a request waited for a device that does not read";
    EXPECT_TRUE(
        client.logShows("Device::sendThread dev id 3 does not read: took nothing for 2000 ms, stopping",
                        milliseconds(10000)));
    const TestDevice::Connection* third = deaf.connection(1);
    ASSERT_NE(nullptr, third);
    EXPECT_TRUE(closedWithin(third->socket, milliseconds(10000)));

    // The streaming phone is still served, and the stopped device is disconnected like one that closed.
    const Bytes forward = controlFrame(110, 3, {2});
    send(controller, forward.data(), forward.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(phone.printed("frame reserved 3 words 3 2"));
    start = Clock::now();
    EXPECT_EQ(replyFrame(504, 0, 3, 0), request(controller, controlFrame(503, 0, {3}), 24));
    EXPECT_LT(msSince(start), answerLimit().count());
    // Device 1 may have reached its own limit before the DisConnect; a stop never reads as a failed send.
    EXPECT_FALSE(client.log().contains("Device::sendThread dev id 1 send fail"));
    EXPECT_FALSE(client.log().contains("Device::sendThread dev id 2 "));

    EXPECT_EQ(20u, request(controller, controlFrame(507, 0), 20).size());
    EXPECT_EQ(0, client.exitCode(milliseconds(10000)));
    close(controller);
}

TEST(HostilePeers, ControllerStuckMidFrameIsClosedAfterTheFrameLimit) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    SOCKET stuck = client.connect();
    ASSERT_GE(stuck, 0);
    const Bytes frame = controlFrame(505, 0, {9, 10, 20, 300, 500});
    const auto start = Clock::now();
    ASSERT_EQ(17, send(stuck, frame.data(), 17, MSG_NOSIGNAL));  // the header and part of the body
    EXPECT_TRUE(closedWithin(stuck, milliseconds(15000)));
    EXPECT_GE(msSince(start), 4500);
    EXPECT_TRUE(client.log().contains("QXCommand::prepare: Frame body not whole within 5000 ms\n"));
    close(stuck);

    // The channel is free again for the next controller.
    SOCKET next = client.connect();
    ASSERT_GE(next, 0);
    EXPECT_EQ(replyFrame(506, -1, 9, 0xFFFFFFFF), request(next, frame, 24));
    EXPECT_EQ(20u, request(next, controlFrame(507, 0), 20).size());
    EXPECT_EQ(0, client.exitCode(milliseconds(10000)));
    close(next);
}

// Whatever the control thread waits on, a stop request ends the process at once: SIGTERM, or for the Windows
// client the console's Ctrl+C (wine turns SIGINT into it; it cannot send Ctrl+Break to a program started
// without a console).
TEST(HostilePeers, TerminationSignalEndsEveryWait) {
    DeafListener deaf;
    TestDevice silent(false);
    struct Case {
        const char* name;
        Bytes bytes;  // what the controller sends before the signal
    };
    const Bytes body = controlFrame(505, 0, {9, 10, 20, 300, 500});
    const Case cases[] = {
        {"stuck in the header", Bytes(body.begin(), body.begin() + 5)},
        {"stuck in the body", Bytes(body.begin(), body.begin() + 17)},
        {"connect not accepted", connectFrame(deaf.port())},
        {"handshake not answered", connectFrame(silent.port())},
    };
    for (const Case& c : cases) {
        ClientProcess client;
        ASSERT_TRUE(client.listening()) << c.name;
        SOCKET controller = client.connect();
        ASSERT_GE(controller, 0) << c.name;
        send(controller, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(milliseconds(500));  // the client is inside the wait by now
        const auto start = Clock::now();
        client.signal(windowsClient() ? SIGINT : SIGTERM);
        EXPECT_EQ(0, client.exitCode(answerLimit())) << c.name;
        EXPECT_LT(msSince(start), answerLimit().count()) << c.name;
        close(controller);
    }
}

TEST(HostilePeers, ConnectToAListenerThatNeverAcceptsFailsAfterTheConnectLimit) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    DeafListener deaf;
    SOCKET controller = client.connect();
    ASSERT_GE(controller, 0);
    const auto start = Clock::now();
    EXPECT_EQ(replyFrame(502, -1, -1, 0),
              request(controller, connectFrame(deaf.port()), 24, milliseconds(20000)));
    EXPECT_GE(msSince(start), 4500);
    EXPECT_LT(msSince(start), 10000);
    // Nothing stays behind: the next device gets the first identifier.
    TestDevice device(true);
    EXPECT_EQ(replyFrame(502, 0, 1, 0), request(controller, connectFrame(device.port()), 24));
    EXPECT_EQ(20u, request(controller, controlFrame(507, 0), 20).size());
    EXPECT_EQ(0, client.exitCode(milliseconds(10000)));
    close(controller);
}

TEST(HostilePeers, TricklingHandshakeEndsWithinItsLimitAndKeepsTheDevice) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    TricklingDevice device(milliseconds(4000));  // each byte within a wait's 5 s, the whole far beyond
    SOCKET controller = client.connect();
    ASSERT_GE(controller, 0);
    const auto start = Clock::now();
    EXPECT_EQ(replyFrame(502, 0, 1, 0),
              request(controller, connectFrame(device.port()), 24, milliseconds(30000)));
    EXPECT_LT(msSince(start), 15000 + 5000);
    EXPECT_TRUE(client.log().contains(", Handshake fail, Value:-2\n"));
    EXPECT_TRUE(awaitWindow(controller, 1));
    EXPECT_EQ(20u, request(controller, controlFrame(507, 0), 20).size());
    EXPECT_EQ(0, client.exitCode(milliseconds(10000)));
    close(controller);
}
