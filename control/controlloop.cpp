#include "control/controlloop.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "control/log.h"

uint8_t g_stop = 0;

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

int parsePort(const char* text) {
    long value = strtol(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int>(value);
}

void closeIfOpen(SOCKET s) {
    if (s >= 0) close(s);
}

}  // namespace

void qx_block_stop_signals() {
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

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
    if (listener < 0) {
        log_write(LOG_USER_ERROR, "%s Listen on %s:%d fail", "qx_main", host, port);
        return 0;
    }
    sigset_t signals = stopSignals();
    int signals_fd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signals_fd < 0) {
        // Without the descriptor the blocked signals would never arrive: let them end the process as usual.
        log_write(LOG_SYSTEM_ERROR, "%s signalfd fail %d", "qx_main", errno);
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    }
    // A stop signal also ends whatever wait on a peer the control thread is in (a frame, a Connect, a reply).
    SetSocketWakeDescriptor(signals_fd);
    log_write(LOG_USER_INFO, "%s Listen on %s:%d success", "qx_main", host, port);

    enum { kListener, kSignals, kController };
    pollfd fds[3] = {{listener, POLLIN, 0}, {signals_fd, POLLIN, 0}, {INVALID_SOCKET, POLLIN, 0}};
    SOCKET& controller = fds[kController].fd;  // negative: none connected (poll skips it)

    while (g_stop == 0) {
        int ready = poll(fds, 3, -1);
        if (ready <= 0) {
            if (errno != EINTR) log_write(LOG_USER_ERROR, "%s Select fail %d", "qx_main", ready);
            continue;
        }
        if (fds[kSignals].revents) {
            signalfd_siginfo info{};
            ssize_t n = read(signals_fd, &info, sizeof(info));
            log_write(LOG_USER_INFO, "%s Signal %d, stopping", "qx_main",
                      n > 0 ? static_cast<int>(info.ssi_signo) : 0);
            break;
        }
        if (fds[kListener].revents) {
            sockaddr_in peer{};
            SOCKET incoming = TCPAccept(listener, &peer);
            if (incoming < 0) {
                log_write(LOG_USER_ERROR, "%s Accept fail %d", "qx_main", errno);
                continue;
            }
            char address[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &peer.sin_addr, address, sizeof(address));
            log_write(LOG_USER_ERROR, "%s New connection from %s:%d", "qx_main", address,
                      ntohs(peer.sin_port));
            if (controller >= 0) {
                // One controller at a time; a second would wait for replies that never come.
                log_write(LOG_USER_ERROR, "%s Connected already", "qx_main");
                close(incoming);
            } else {
                controller = incoming;
            }
            continue;
        }
        if (fds[kController].revents && process(controller) == -500) {
            close(controller);
            controller = INVALID_SOCKET;
        }
    }
    SetSocketWakeDescriptor(INVALID_SOCKET);
    closeIfOpen(listener);
    closeIfOpen(controller);
    closeIfOpen(signals_fd);
    return 0;
}
