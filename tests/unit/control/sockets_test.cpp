#include "control/sockets.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/unit/control/testlog.h"

namespace {

using Clock = std::chrono::steady_clock;

uint16_t localPort(SOCKET s) {
    sockaddr_in addr{};
    socklen_t length = sizeof(addr);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
}

// A connected loopback TCP pair made with the helpers under test.
struct TcpPair {
    TcpPair() {
        listener = TCPListen("127.0.0.1", 0);
        client = TCPConnect(localPort(listener), "127.0.0.1");
        server = TCPAccept(listener, &peer);
    }
    ~TcpPair() {
        for (SOCKET s : {listener, client, server})
            net::closeSocket(s);
    }
    SOCKET listener, client, server;
    sockaddr_in peer{};
};

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(Sockets, ListenAcceptConnectOnLoopback) {
    TcpPair pair;
    ASSERT_GE(socketValue(pair.listener), 0);
    ASSERT_GE(socketValue(pair.client), 0);
    ASSERT_GE(socketValue(pair.server), 0);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), pair.peer.sin_addr.s_addr);
    EXPECT_EQ(localPort(pair.client), ntohs(pair.peer.sin_port));
    int size = 0;
    socklen_t length = sizeof(size);
    getsockopt(pair.client, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &length);
    EXPECT_GE(size, 0x20000);  // Linux reports the doubled value
    EXPECT_EQ(INVALID_SOCKET, TCPAccept(INVALID_SOCKET, nullptr));
}

TEST(Sockets, ConnectResolvesALocalName) {
    SOCKET listener = TCPListen("127.0.0.1", 0);
    SOCKET s = TCPConnect(localPort(listener), "localhost");
    EXPECT_GE(socketValue(s), 0);
    net::closeSocket(s);
    net::closeSocket(listener);
}

TEST(Sockets, ListenFailuresAreLogged) {
    TestLog log;
    SOCKET taken = TCPListen("127.0.0.1", 0);
    const uint16_t port = localPort(taken);
    EXPECT_EQ(INVALID_SOCKET, TCPListen("127.0.0.1", port));  // the port is in use
    EXPECT_TRUE(log.contains("SYSTEM TCPListen: bind " + std::to_string(port) + " fail\n"));
    EXPECT_EQ(INVALID_SOCKET, TCPListen("not-an-address", port));
    EXPECT_EQ(2, log.count("TCPListen: bind"));
    net::closeSocket(taken);
}

TEST(Sockets, ConnectRefusedReturnsMinusOne) {
    SOCKET listener = TCPListen("127.0.0.1", 0);
    uint16_t port = localPort(listener);
    net::closeSocket(listener);
    EXPECT_EQ(INVALID_SOCKET, TCPConnect(port, "127.0.0.1"));
}

TEST(Sockets, RecvWaitsForTheWholeBlock) {
    TcpPair pair;
    std::thread peer([&] {
        net::sendSome(pair.server, "abcd", 4, 0, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        net::sendSome(pair.server, "efghijkl", 8, 0, false);
    });
    char buffer[12];
    EXPECT_EQ(12, RecvEx(pair.client, buffer, 12, 0, 2000, 1));
    EXPECT_EQ(0, memcmp("abcdefghijkl", buffer, 12));
    peer.join();
}

TEST(Sockets, RecvWithoutWaitAllReturnsFirstRead) {
    TcpPair pair;
    net::sendSome(pair.server, "abcd", 4, 0, false);
    char buffer[12];
    EXPECT_EQ(4, RecvEx(pair.client, buffer, 12, 0, NO_TIMEOUT, 0));
}

TEST(Sockets, RecvFromAPeerThatClosesMidBlockReturnsZero) {
    for (uint32_t timeout : {0u, NO_TIMEOUT, 1000u}) {
        TcpPair pair;
        net::sendSome(pair.server, "abcd", 4, 0, false);
        net::shutdownSend(pair.server);
        char buffer[12];
        EXPECT_EQ(0, RecvEx(pair.client, buffer, 12, 0, timeout, 1)) << timeout;
        EXPECT_EQ(0, RecvN(pair.client, buffer, 12, 0)) << timeout;
    }
}

TEST(Sockets, RecvTimesOutOnASilentPeer) {
    TcpPair pair;
    char buffer[12];
    auto start = Clock::now();
    EXPECT_EQ(0, RecvEx(pair.client, buffer, 12, 0, 300, 1));
    EXPECT_GE(msSince(start), 280);
    EXPECT_LT(msSince(start), 2000);
    EXPECT_EQ(-1, RecvEx(INVALID_SOCKET, buffer, 12, 0, 300, 1));  // a wait on no socket fails
}

TEST(Sockets, SendMovesWholeBlocksAndReportsAClosedPeer) {
    TcpPair pair;
    EXPECT_EQ(0, SendEx(pair.client, "x", 0, 0, NO_TIMEOUT));
    EXPECT_EQ(5, SendEx(pair.client, "hello", 5, 0, 1000));
    EXPECT_EQ(5, SendN(pair.client, "world", 5, 0));
    char buffer[10];
    EXPECT_EQ(10, RecvN(pair.server, buffer, 10, 0));
    EXPECT_EQ(0, memcmp("helloworld", buffer, 10));

    net::closeSocket(pair.server);
    pair.server = INVALID_SOCKET;
    // Writing to a closed peer fails with an error and never raises SIGPIPE.
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) {
        result = SendEx(pair.client, "payload", 7, 0, NO_TIMEOUT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(-1, result);
}

TEST(Sockets, SendTimesOutWhenThePeerDoesNotRead) {
    TcpPair pair;
    std::vector<char> block(16 << 20);
    auto start = Clock::now();
    EXPECT_EQ(0, SendEx(pair.client, block.data(), static_cast<int>(block.size()), 0, 200));
    EXPECT_LT(msSince(start), 5000);
}

TEST(Sockets, DatagramsGoBothWays) {
    TestLog log;
    ASSERT_TRUE(net::startup());
    SOCKET a = socket(AF_INET, SOCK_DGRAM, 0);
    SOCKET b = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(b, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    addr.sin_port = htons(localPort(b));

    EXPECT_EQ(4, SendToEx(a, "ping", 4, 0, &addr, 1000));
    char buffer[16];
    sockaddr_in from{};
    EXPECT_EQ(4, RecvFromEx(b, buffer, sizeof(buffer), 0, &from, 1000));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), from.sin_addr.s_addr);

    EXPECT_EQ(0, RecvFromEx(b, buffer, sizeof(buffer), 0, &from, 100));  // time-out
    EXPECT_EQ(0, SendToEx(INVALID_SOCKET, "ping", 4, 0, &addr, 100));    // unset socket
#ifndef _WIN32  // Winsock has no flag for a call that must not wait
    EXPECT_EQ(-1, RecvFromEx(b, buffer, sizeof(buffer), MSG_DONTWAIT, &from, 0));
    EXPECT_TRUE(log.contains("SYSTEM RecvFromEx : recvfrom -1/16 fail\n"));
#endif
    net::closeSocket(a);
    net::closeSocket(b);
}

TEST(Sockets, PolledFormsSpendTheirBudgetInSteps) {
    TcpPair pair;
    char buffer[8];
    auto start = Clock::now();
    EXPECT_EQ(-4, RecvExPolled(pair.client, buffer, 8, 0, 1200, 1));  // 200 ms, then one second
    EXPECT_GE(msSince(start), 1150);
    EXPECT_EQ(-3, RecvExPolled(INVALID_SOCKET, buffer, 8, 0, 100, 1));
    EXPECT_EQ(-3, SendExPolled(INVALID_SOCKET, buffer, 8, 0, 100, nullptr));

    net::sendSome(pair.server, "12345678", 8, 0, false);
    EXPECT_EQ(8, RecvExPolled(pair.client, buffer, 8, 0, 1000, 1));
    EXPECT_EQ(5, SendExPolled(pair.client, "hello", 5, 0, 1000, nullptr));
    EXPECT_EQ(5, RecvN(pair.server, buffer, 5, 0));

    std::atomic<uint16_t> stop{1};
    EXPECT_EQ(0, SendExPolled(pair.client, "hello", 5, 0, 1000, &stop));
}

TEST(Sockets, PolledReceiveReportsAPendingError) {
    TcpPair pair;
    linger hard{1, 0};
    setsockopt(pair.server, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
    net::closeSocket(pair.server);  // a reset reaches the client
    pair.server = INVALID_SOCKET;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char buffer[8];
#ifdef _WIN32
    // Winsock keeps no pending error for a reset: the receive itself fails.
    EXPECT_EQ(-5, RecvExPolled(pair.client, buffer, 8, 0, 1000, 1));
#else
    EXPECT_EQ(-2, RecvExPolled(pair.client, buffer, 8, 0, 1000, 1));
#endif
}

TEST(Sockets, SocketErrorQuery) {
    TcpPair pair;
    EXPECT_EQ(0, GetSocketError(pair.client));
    EXPECT_EQ(-22, GetSocketError(INVALID_SOCKET));
    EXPECT_EQ(-1, GetSocketError(static_cast<SOCKET>(9999)));
}

// The Within forms bound the whole transfer: a peer that trickles one byte well inside every single wait
// still runs out of time.
TEST(Sockets, WithinFormsBoundTheWholeTransfer) {
    TcpPair pair;
    std::atomic<bool> done{false};
    std::thread peer([&] {
        for (int i = 0; i < 40 && !done; ++i) {
            net::sendSome(pair.server, "x", 1, 0, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    char buffer[64];
    EXPECT_EQ(-2, RecvWithin(pair.client, buffer, 64, 300));
    done = true;
    peer.join();

    // A full socket times out the same way; a peer that reads gets everything.
    std::vector<char> big(8 << 20, 'y');
    EXPECT_EQ(-2, SendWithin(pair.client, big.data(), static_cast<int>(big.size()), 300));
    TcpPair fresh;
    EXPECT_EQ(12, SendWithin(fresh.client, "abcdefghijkl", 12, 5000));
    EXPECT_EQ(12, RecvWithin(fresh.server, buffer, 12, 5000));
    EXPECT_EQ(0, memcmp("abcdefghijkl", buffer, 12));
    net::shutdownSend(fresh.client);
    EXPECT_EQ(0, RecvWithin(fresh.server, buffer, 1, 5000));  // the peer closed
}

// Once the wake descriptor is readable every bounded wait fails at once, whatever the time limit.
TEST(Sockets, WakeDescriptorEndsTheWaits) {
    TcpPair pair;
    net::Waker wake;
    ASSERT_TRUE(wake.open());
    SetSocketWakeDescriptor(wake.handle());
    wake.wake();
    char buffer[4];
    // A minute each: a wait that is not woken fails the test by its result, not by its time.
    EXPECT_EQ(-1, RecvWithin(pair.client, buffer, 4, 60000));
    std::vector<char> big(8 << 20, 'y');
    EXPECT_EQ(-1, SendWithin(pair.client, big.data(), static_cast<int>(big.size()), 60000));
    SetSocketWakeDescriptor(INVALID_SOCKET);
}

// A send that a stop must end: the stop's wake-up ends its wait for room at once, whatever the time limit.
TEST(Sockets, SendExOrWakeEndsAtTheWakeUp) {
    TcpPair pair;
    net::Waker stop;
    ASSERT_TRUE(stop.open());
    EXPECT_EQ(5, SendExOrWake(pair.client, "hello", 5, 60000, stop.handle()));
    EXPECT_EQ(-1, SendExOrWake(pair.client, "hello", 5, NO_TIMEOUT, stop.handle()));  // a limit is required
    stop.wake();
    // A minute: a wait that is not woken fails the test by its result, not by its time.
    std::vector<char> big(8 << 20, 'y');
    EXPECT_EQ(-1, SendExOrWake(pair.client, big.data(), static_cast<int>(big.size()), 60000, stop.handle()));
    char buffer[5];
    EXPECT_EQ(5, RecvN(pair.server, buffer, 5, 0));
    EXPECT_EQ(0, memcmp("hello", buffer, 5));
}

// A listener whose backlog is full neither accepts nor refuses: the connect ends at its own limit.
TEST(Sockets, ConnectEndsAtItsTimeLimit) {
    ASSERT_TRUE(net::startup());
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ASSERT_EQ(0, listen(listener, 0));
    addr.sin_port = htons(localPort(listener));
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 8; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        net::setBlocking(s, false);
        connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        fillers.push_back(s);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(INVALID_SOCKET, TCPConnect(localPort(listener), "127.0.0.1", 500));
    // A reachable peer still connects within a limit, and the socket it gives is a blocking one.
    TcpPair pair;
    SOCKET s = TCPConnect(localPort(pair.listener), "127.0.0.1", 5000);
    ASSERT_GE(socketValue(s), 0);
#ifndef _WIN32  // Winsock cannot tell whether a socket blocks
    EXPECT_EQ(0, fcntl(s, F_GETFL) & O_NONBLOCK);
#endif
    net::closeSocket(s);
    for (SOCKET f : fillers)
        net::closeSocket(f);
    net::closeSocket(listener);
}
