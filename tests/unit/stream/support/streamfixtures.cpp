#include "tests/unit/stream/support/streamfixtures.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "device/rsupheader.h"

std::vector<uint8_t> rsupHeaderOnly(uint8_t encoderType, int32_t payloadLength, uint32_t width,
                                    uint32_t height) {
    RsupHeader header;
    header.encoderType = encoderType;
    header.width = width;
    header.height = height;
    header.payloadLength = payloadLength;
    std::vector<uint8_t> bytes(RSUP_HEADER_SIZE);
    header.write(bytes.data());
    return bytes;
}

std::vector<uint8_t> rsupFrame(uint8_t encoderType, const std::vector<uint8_t>& payload, uint32_t width,
                               uint32_t height) {
    std::vector<uint8_t> bytes =
        rsupHeaderOnly(encoderType, static_cast<int32_t>(payload.size()), width, height);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

TcpPair connectedTcpPair() {
    TcpPair pair;
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0) close(listener);
        return pair;
    }
    pair.client = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(pair.client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        pair.device = accept(listener, nullptr, nullptr);
    }
    close(listener);
    if (pair.device < 0) {
        close(pair.client);
        pair.client = -1;
        return pair;
    }
    // Split frames must reach the reader as separate pieces.
    const int one = 1;
    setsockopt(pair.device, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return pair;
}

bool sendAll(int socket, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
