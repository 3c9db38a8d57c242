// TCPConnect is the one helper that reaches beyond the machine. It lives in a unit of its own so that a
// program which must never leave loopback (the control-frame fuzzer) can link its own TCPConnect in its
// place.
#ifndef _WIN32
#include <netdb.h>
#endif

#include "control/log.h"
#include "control/sockets.h"

namespace {

// Connects s, waiting at most timeoutMs for the peer (or until the wake descriptor fires); true when
// connected. The socket is left blocking, as every caller expects.
bool connectWithin(SOCKET s, const sockaddr_in& addr, uint32_t timeoutMs) {
    const auto* target = reinterpret_cast<const sockaddr*>(&addr);
    if (timeoutMs == NO_TIMEOUT || timeoutMs == 0) return connect(s, target, sizeof(addr)) == 0;
    if (!net::setBlocking(s, false)) return false;
    bool connected = connect(s, target, sizeof(addr)) == 0;
    if (!connected && net::connectPending(net::lastError()))
        connected = WaitWritableOrWake(s, timeoutMs) == 1 && GetSocketError(s) == 0;
    return net::setBlocking(s, true) && connected;
}

}  // namespace

SOCKET TCPConnect(uint16_t port, const char* host, uint32_t timeoutMs) {
    if (!net::startup()) return INVALID_SOCKET;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
            log_write(LOG_SYSTEM_ERROR, "%s: invalid hostname %d ", "TCPConnect", net::lastError());
            return INVALID_SOCKET;
        }
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    SOCKET s = net::openStream();
    if (socketValue(s) < 0) {
        log_write(LOG_SYSTEM_ERROR, "%s: create socket failed %d ", "TCPConnect", net::lastError());
        return INVALID_SOCKET;
    }
    if (!connectWithin(s, addr, timeoutMs)) {
        net::closeSocket(s);
        return INVALID_SOCKET;
    }
    int receiveBuffer = 0x20000;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof(receiveBuffer));
    // What goes out on these connections is small frames; a bounded send buffer also bounds what a peer that
    // stops reading holds of ours in the kernel.
    int sendBuffer = 0x20000;
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer), sizeof(sendBuffer));
    return s;
}
