#include "control/controlloop.h"

#include <cstdlib>
#include <cstring>

#include "control/log.h"

uint8_t g_stop = 0;

namespace {

int parsePort(const char* text) {
    long value = strtol(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int>(value);
}

}  // namespace

int parse_args(int argc, char** argv, char host[32], int* port) {
    strcpy(host, QX_DEFAULT_HOST);
    *port = QX_DEFAULT_PORT;
    if (argc != 1 || !argv || !argv[0]) return 0;
    const char* arg = argv[0];
    const char* colon = strchr(arg, ':');
    const size_t hostLength = colon ? static_cast<size_t>(colon - arg) : 0;
    if (!colon || strlen(arg) > 63 || hostLength > 31) return 0;
    memcpy(host, arg, hostLength);
    host[hostLength] = '\0';
    *port = parsePort(colon + 1);
    return 0;
}

int qx_main(int argc, char** argv, FrameHandler process) {
    char host[32];
    int port = -1;
    parse_args(argc, argv, host, &port);

    SOCKET listener = TCPListen(host, static_cast<uint16_t>(port));
    if (socketValue(listener) < 0) {
        log_write(LOG_USER_ERROR, "%s Listen on %s:%d fail", "qx_main", host, port);
        return 0;
    }
    SOCKET stopRequests = net::openStopRequests();
    if (socketValue(stopRequests) < 0)
        log_write(LOG_SYSTEM_ERROR, "%s signalfd fail %d", "qx_main", net::lastError());
    // A stop request also ends whatever wait on a peer the control thread is in (a frame, a Connect, a reply).
    SetSocketWakeDescriptor(stopRequests);
    log_write(LOG_USER_INFO, "%s Listen on %s:%d success", "qx_main", host, port);

    // Three sockets at most: select's limit of 64 on Windows is far away, and no socket value matters.
    enum { kListener, kStopRequests, kController };
    net::WaitEntry waits[3] = {{listener, net::kReadable, 0},
                               {stopRequests, net::kReadable, 0},
                               {INVALID_SOCKET, net::kReadable, 0}};
    SOCKET& controller = waits[kController].socket;  // negative: none connected (the wait skips it)

    while (g_stop == 0) {
        int ready = net::waitSockets(waits, 3, -1);
        if (ready <= 0) {
            log_write(LOG_USER_ERROR, "%s Select fail %d", "qx_main", ready);
            continue;
        }
        if (waits[kStopRequests].ready) {
            const int request = net::takeStopRequest(stopRequests);
            log_write(LOG_USER_INFO, net::stopRequestFormat(), "qx_main", request < 0 ? 0 : request);
            break;
        }
        if (waits[kListener].ready) {
            sockaddr_in peer{};
            SOCKET incoming = TCPAccept(listener, &peer);
            if (socketValue(incoming) < 0) {
                log_write(LOG_USER_ERROR, "%s Accept fail %d", "qx_main", net::lastError());
                continue;
            }
            char address[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &peer.sin_addr, address, sizeof(address));
            log_write(LOG_USER_ERROR, "%s New connection from %s:%d", "qx_main", address,
                      ntohs(peer.sin_port));
            if (socketValue(controller) >= 0) {
                // One controller at a time; a second would wait for replies that never come.
                log_write(LOG_USER_ERROR, "%s Connected already", "qx_main");
                net::closeSocket(incoming);
            } else {
                controller = incoming;
            }
            continue;
        }
        if (waits[kController].ready && process(controller) == -500) {
            net::closeSocket(controller);
            controller = INVALID_SOCKET;
        }
    }
    SetSocketWakeDescriptor(INVALID_SOCKET);
    net::closeSocket(listener);
    net::closeSocket(controller);
    net::closeStopRequests(stopRequests);
    return 0;
}
