#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/sockets.h"

// Control frames as a controller writes them, and a connected socket pair to carry them in tests.

using Bytes = std::vector<uint8_t>;

inline void appendUInt32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// Header, code, param, the payload words and then tail, with the length field counting all that follows.
inline Bytes controlFrame(uint32_t code, uint32_t param, const std::vector<uint32_t>& words = {},
                          const std::string& tail = "", uint16_t reserved = 0) {
    Bytes frame = {0x52,
                   0x43,
                   0x4D,
                   0x53,
                   0x00,
                   0x01,
                   static_cast<uint8_t>(reserved >> 8),
                   static_cast<uint8_t>(reserved)};
    appendUInt32(frame, static_cast<uint32_t>(8 + 4 * words.size() + tail.size()));
    appendUInt32(frame, code);
    appendUInt32(frame, param);
    for (uint32_t w : words)
        appendUInt32(frame, w);
    frame.insert(frame.end(), tail.begin(), tail.end());
    return frame;
}

// A 24-byte reply: header with the status in the reserved field, then code, the second word and the device
// id.
inline Bytes replyFrame(uint32_t code, int32_t status, int32_t deviceId, uint32_t second) {
    Bytes frame = {
        0x52, 0x43, 0x4D, 0x53, 0x00, 0x01, static_cast<uint8_t>(status >> 8), static_cast<uint8_t>(status),
        0,    0,    0,    12};
    appendUInt32(frame, code);
    appendUInt32(frame, second);
    appendUInt32(frame, static_cast<uint32_t>(deviceId));
    return frame;
}

inline Bytes hexBytes(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// Two connected stream sockets: a Unix socket pair on Linux, a loopback TCP connection on Windows (which has
// no socket pairs).
struct SocketPair {
    SocketPair() {
#ifdef _WIN32
        SOCKET listener = TCPListen("127.0.0.1", 0);
        sockaddr_in addr{};
        socklen_t length = sizeof(addr);
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
        fd[0] = TCPConnect(ntohs(addr.sin_port), "127.0.0.1");
        fd[1] = TCPAccept(listener, nullptr);
        net::closeSocket(listener);
#else
        socketpair(AF_UNIX, SOCK_STREAM, 0, fd);
#endif
    }
    ~SocketPair() {
        for (SOCKET s : fd)
            net::closeSocket(s);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    void closeEnd(int i) {
        net::closeSocket(fd[i]);
        fd[i] = INVALID_SOCKET;
    }
    SOCKET fd[2] = {INVALID_SOCKET, INVALID_SOCKET};
};

// Writes all of bytes to s (a test's frames fit any socket buffer).
inline void sendBytes(SOCKET s, const Bytes& bytes) {
    net::sendSome(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0, false);
}

// The bytes that are waiting on s now. A Unix socket pair holds what was written at once; over the loopback
// TCP pair of Windows the bytes may take a moment, which is waited for (200 ms at most).
inline Bytes readAvailable(SOCKET s) {
#ifdef _WIN32
    net::WaitEntry readable{s, net::kReadable, 0};
    net::waitSockets(&readable, 1, 200);
#endif
    Bytes bytes(4096);
    int n = net::recvSome(s, reinterpret_cast<char*>(bytes.data()), static_cast<int>(bytes.size()), 0, true);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}
