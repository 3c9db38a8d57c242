// A connected loopback TCP pair for tests that play a device or a peer, the same on Linux and Windows.
#pragma once

#include <cstdint>
#include <vector>

#ifndef _WIN32
#include <netinet/tcp.h>
#endif

#include "control/sockets.h"

// Two ends of one TCP connection over 127.0.0.1; both INVALID_SOCKET when it could not be made.
struct TcpPair {
    SOCKET device = INVALID_SOCKET;  // the end a device writes its stream into
    SOCKET client = INVALID_SOCKET;  // the end the client reads
};

// Closes both ends that are open.
inline void closeTcpPair(TcpPair& pair) {
    net::closeSocket(pair.device);
    net::closeSocket(pair.client);
    pair = TcpPair{};
}

// Both ends connected, the device end sending without delay. With `buffers` (bytes), the system keeps at most
// about that much for a side that does not read: what the client sends to a device that reads nothing then
// stops moving instead of trickling on as the system makes room in larger buffers.
inline TcpPair connectedTcpPair(int buffers = 0) {
    TcpPair pair;
    const SOCKET listener = TCPListen("127.0.0.1", 0);
    // Set before the connection exists, so the accepted end has it from the start.
    if (buffers > 0)
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffers), sizeof buffers);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (socketValue(listener) < 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        net::closeSocket(listener);
        return pair;
    }
    pair.client = TCPConnect(ntohs(address.sin_port), "127.0.0.1");
    if (socketValue(pair.client) >= 0) pair.device = TCPAccept(listener, nullptr);
    net::closeSocket(listener);
    if (socketValue(pair.device) < 0) {
        closeTcpPair(pair);
        return pair;
    }
    // Split frames must reach the reader as separate pieces.
    const int one = 1;
    setsockopt(pair.device, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    if (buffers > 0)
        setsockopt(pair.client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffers),
                   sizeof buffers);
    return pair;
}

// Writes all bytes (blocking); false when the peer went away.
inline bool sendAll(SOCKET socket, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = net::sendSome(socket, reinterpret_cast<const char*>(bytes.data()) + sent,
                                    static_cast<int>(bytes.size() - sent), 0, false);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}
