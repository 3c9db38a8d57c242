// TCPConnect is the one helper that reaches beyond the machine. It lives in a unit of its own so that a
// program which must never leave loopback (the control-frame fuzzer) can link its own TCPConnect in its
// place.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "control/log.h"
#include "control/sockets.h"

SOCKET TCPConnect(uint16_t port, const char* host) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
            log_write(LOG_SYSTEM_ERROR, "%s: invalid hostname %d ", "TCPConnect", errno);
            return INVALID_SOCKET;
        }
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        log_write(LOG_SYSTEM_ERROR, "%s: create socket failed %d ", "TCPConnect", errno);
        return INVALID_SOCKET;
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(s);
        return INVALID_SOCKET;
    }
    int receiveBuffer = 0x20000;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    return s;
}
