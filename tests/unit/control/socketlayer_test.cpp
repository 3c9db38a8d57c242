#include "control/socketlayer.h"

#include <gtest/gtest.h>

#include "control/sockets.h"

namespace {

uint16_t localPort(SOCKET s) {
    sockaddr_in addr{};
    socklen_t length = sizeof(addr);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
}

struct LoopbackPair {
    LoopbackPair() {
        listener = TCPListen("127.0.0.1", 0);
        client = TCPConnect(localPort(listener), "127.0.0.1");
        server = TCPAccept(listener, nullptr);
    }
    ~LoopbackPair() {
        for (SOCKET s : {listener, client, server})
            net::closeSocket(s);
    }
    SOCKET listener, client, server;
};

TEST(SocketLayer, WakerIsReadableOnlyAfterWake) {
    net::Waker waker;
    ASSERT_TRUE(waker.open());
    net::WaitEntry entry{waker.handle(), net::kReadable, 0};
    EXPECT_EQ(0, net::waitSockets(&entry, 1, 0));
    waker.wake();
    waker.wake();  // a second wake before the waiter ran is no harm
    EXPECT_EQ(1, net::waitSockets(&entry, 1, -1));
    EXPECT_EQ(net::kReadable, entry.ready);
}

// Missing sockets are skipped, and each entry says what came for it: nothing depends on socket values.
TEST(SocketLayer, WaitReportsEachEntryAndSkipsMissingSockets) {
    LoopbackPair pair;
    ASSERT_GE(socketValue(pair.server), 0);
    net::WaitEntry entries[3] = {{INVALID_SOCKET, net::kReadable, 0},
                                 {pair.server, net::kReadable, 0},
                                 {pair.client, net::kReadable | net::kWritable, 0}};
    EXPECT_EQ(1, net::waitSockets(entries, 3, -1));
    EXPECT_EQ(0, entries[0].ready);
    EXPECT_EQ(0, entries[1].ready);
    EXPECT_EQ(net::kWritable, entries[2].ready);

    ASSERT_EQ(3, net::sendSome(pair.client, "abc", 3, 0, false));
    EXPECT_EQ(2, net::waitSockets(entries, 3, -1));
    EXPECT_EQ(net::kReadable, entries[1].ready);

    // A closed peer reads as readable, and the read then says the stream ended.
    net::shutdownSend(pair.client);
    char got[8];
    EXPECT_EQ(3, net::recvSome(pair.server, got, sizeof got, 0, false));
    EXPECT_EQ(1, net::waitSockets(&entries[1], 1, -1));
    EXPECT_EQ(0, net::recvSome(pair.server, got, sizeof got, 0, true));
}

TEST(SocketLayer, CallsMadeNowNeverWait) {
    LoopbackPair pair;
    char got[8];
    EXPECT_EQ(-1, net::recvSome(pair.server, got, sizeof got, 0, true));
    EXPECT_TRUE(net::wouldBlock(net::lastError()));
    ASSERT_EQ(4, net::sendSome(pair.client, "wxyz", 4, 0, true));
    net::WaitEntry entry{pair.server, net::kReadable, 0};
    ASSERT_EQ(1, net::waitSockets(&entry, 1, -1));
    EXPECT_EQ(4, net::recvSome(pair.server, got, sizeof got, 0, true));
}

// Another program's port is never taken over (on Windows SO_REUSEADDR would allow it).
TEST(SocketLayer, PortInUseIsRefused) {
    SOCKET first = TCPListen("127.0.0.1", 0);
    ASSERT_GE(socketValue(first), 0);
    EXPECT_LT(socketValue(TCPListen("127.0.0.1", localPort(first))), 0);
    net::closeSocket(first);
}

}  // namespace
