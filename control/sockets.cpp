#include "control/sockets.h"

#include <atomic>
#include <chrono>
#include <climits>

#include "control/log.h"

namespace {

// Readable once the process is told to stop; INVALID_SOCKET while none is set.
std::atomic<SOCKET> g_wakeDescriptor{INVALID_SOCKET};

bool hasTimeout(uint32_t timeoutMs) {
    return timeoutMs != 0 && timeoutMs != NO_TIMEOUT;
}

// Waits up to timeoutMs for events on s, or until wake (when there is one) turns readable: 1 ready, 0 timed
// out, -1 the wait failed or was woken. A socket in an error or hang-up state counts as ready, so the
// following call reports what happened.
int waitFor(SOCKET s, short events, int timeoutMs, SOCKET wake = INVALID_SOCKET) {
    if (socketValue(s) < 0) return -1;
    net::WaitEntry waits[2] = {{s, events, 0}, {wake, net::kReadable, 0}};
    int r = net::waitSockets(waits, 2, timeoutMs);
    if (r <= 0) return r;
    if (waits[1].ready) return -1;
    if (waits[0].ready & net::kInvalid) return -1;
    return 1;
}

int waitSpan(uint32_t timeoutMs) {
    // The same span bounds every wait of one call.
    return timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
}

// An interrupted call moved no byte and is simply made again. A return of 0 is a closed peer (recv) or
// nothing sent, never an interruption, whatever the error holds from earlier.
bool interrupted(int n) {
    return n < 0 && net::interrupted(net::lastError());
}

bool wouldBlock(int n) {
    return n < 0 && net::wouldBlock(net::lastError());
}

// io(done, now) makes one send or recv of the bytes from done on; with `now` it moves only what the socket
// takes or holds at once, so that a call with a time limit never blocks beyond it. With a time limit the call
// is tried first and the socket waited for only when it would block: a wait for writability asks for more
// free room than one small frame needs.
template <typename Io>
int transferAll(SOCKET s, int length, short events, uint32_t timeoutMs, int waitAll, Io io,
                SOCKET wake = INVALID_SOCKET) {
    const bool timed = hasTimeout(timeoutMs);
    if (timed && socketValue(s) < 0) return -1;
    const int span = waitSpan(timeoutMs);
    int done = 0;
    while (done < length) {
        int n = io(done, timed);
        if (n > 0) {
            done += static_cast<int>(n);
            if (!waitAll) break;
            continue;
        }
        if (interrupted(n)) continue;
        if (!(timed && wouldBlock(n))) return static_cast<int>(n);
        int w = waitFor(s, events, span, wake);
        if (w < 0) return -1;
        if (w == 0) return 0;
    }
    return done;
}

// The time budget of the polled forms: one wait of the sub-second part, then waits of one second.
class PolledBudget {
public:
    explicit PolledBudget(uint32_t timeoutMs)
        : unlimited_(!hasTimeout(timeoutMs)),
          firstMs_(static_cast<int>(timeoutMs % 1000)),
          secondsLeft_(timeoutMs / 1000) {
        if (firstMs_ == 0) firstMs_ = 1;
    }
    // The next wait in ms, or -1 when the budget is spent.
    int next() {
        if (unlimited_) return 1000;
        if (firstMs_ > 0) {
            int first = firstMs_;
            firstMs_ = 0;
            return first;
        }
        if (secondsLeft_ == 0) return -1;
        --secondsLeft_;
        return 1000;
    }

private:
    bool unlimited_;
    int firstMs_;
    uint32_t secondsLeft_;
};

template <typename Io>
int transferPolled(SOCKET s, int length, short events, uint32_t timeoutMs, int waitAll,
                   const std::atomic<uint16_t>* stop, Io io) {
    if (socketValue(s) < 0) return -3;
    PolledBudget budget(timeoutMs);
    int done = 0;
    while (done < length) {
        if (stop && stop->load() != 0) return done;
        int span = budget.next();
        if (span < 0) return -4;
        int w = waitFor(s, events, span);
        if (w < 0) return -1;
        if (GetSocketError(s) != 0) return -2;
        if (w == 0) continue;
        int n = io(done, true);
        if (n <= 0) {
            if (interrupted(n) || wouldBlock(n)) continue;
            return -5;
        }
        done += static_cast<int>(n);
        if (!waitAll) break;
    }
    return done;
}

// Waits up to timeoutMs for events on s, or until the wake descriptor becomes readable: 1 ready, 0 timed
// out, -1 the wait failed or the process is stopping.
int waitOrWake(SOCKET s, short events, int timeoutMs) {
    return waitFor(s, events, timeoutMs, g_wakeDescriptor.load());
}

template <typename Io>
int transferWithin(SOCKET s, int length, short events, uint32_t timeoutMs, Io io) {
    using Clock = std::chrono::steady_clock;
    if (socketValue(s) < 0) return -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int done = 0;
    while (done < length) {
        int n = io(done, true);
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (interrupted(n)) continue;
        if (!wouldBlock(n)) return static_cast<int>(n);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return -2;
        int w = waitOrWake(s, events, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (w < 0) return -1;
        if (w == 0) return -2;
    }
    return done;
}

}  // namespace

void SetSocketWakeDescriptor(SOCKET handle) {
    g_wakeDescriptor.store(handle);
}

int WaitWritableOrWake(SOCKET s, uint32_t timeoutMs) {
    return waitOrWake(s, net::kWritable, waitSpan(timeoutMs));
}

int SendWithin(SOCKET s, const char* data, int length, uint32_t timeoutMs) {
    return transferWithin(s, length, net::kWritable, timeoutMs, [&](int done, bool now) {
        return net::sendSome(s, data + done, length - done, 0, now);
    });
}

int RecvWithin(SOCKET s, char* buffer, int length, uint32_t timeoutMs) {
    return transferWithin(s, length, net::kReadable, timeoutMs, [&](int done, bool now) {
        return net::recvSome(s, buffer + done, length - done, 0, now);
    });
}

SOCKET TCPListen(const char* host, uint16_t port) {
    if (!net::startup()) return INVALID_SOCKET;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    // A host that is not a dotted address names no interface: it fails as a bind would, whatever the kernel
    // allows for non-local addresses.
    const bool addressValid = !host || inet_pton(AF_INET, host, &addr.sin_addr) == 1;

    SOCKET s = net::openStream();
    if (socketValue(s) < 0) {
        log_write(LOG_SYSTEM_ERROR, "%s: create socket fail", "TCPListen");
        return INVALID_SOCKET;
    }
    if (!net::allowAddressReuse(s)) {
        log_write(LOG_SYSTEM_ERROR, "%s: setsockopt fail", "TCPListen");
        net::closeSocket(s);
        return INVALID_SOCKET;
    }
    if (!addressValid || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        log_write(LOG_SYSTEM_ERROR, "%s: bind %d fail", "TCPListen", port);
        net::closeSocket(s);
        return INVALID_SOCKET;
    }
    if (listen(s, 1) != 0) {
        log_write(LOG_SYSTEM_ERROR, "%s: listen fail", "TCPListen");
        net::closeSocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

SOCKET TCPAccept(SOCKET listenSocket, sockaddr_in* peer) {
    if (socketValue(listenSocket) < 0) return INVALID_SOCKET;
    return net::acceptConnection(listenSocket, peer);
}

int SendEx(SOCKET s, const char* data, int length, int flags, uint32_t timeoutMs) {
    return transferAll(s, length, net::kWritable, timeoutMs, 1, [&](int done, bool now) {
        return net::sendSome(s, data + done, length - done, flags, now);
    });
}

int SendExOrWake(SOCKET s, const char* data, int length, uint32_t timeoutMs, SOCKET wake) {
    if (!hasTimeout(timeoutMs)) return -1;
    return transferAll(
        s, length, net::kWritable, timeoutMs, 1,
        [&](int done, bool now) { return net::sendSome(s, data + done, length - done, 0, now); }, wake);
}

int RecvEx(SOCKET s, char* buffer, int length, int flags, uint32_t timeoutMs, int waitAll) {
    return transferAll(s, length, net::kReadable, timeoutMs, waitAll, [&](int done, bool now) {
        return net::recvSome(s, buffer + done, length - done, flags, now);
    });
}

int SendN(SOCKET s, const char* data, int length, int flags) {
    return SendEx(s, data, length, flags, NO_TIMEOUT);
}

int RecvN(SOCKET s, char* buffer, int length, int flags) {
    return RecvEx(s, buffer, length, flags, NO_TIMEOUT, 1);
}

int SendToEx(SOCKET s, const char* data, int length, int flags, const sockaddr_in* to, uint32_t timeoutMs) {
    if (hasTimeout(timeoutMs)) {
        if (socketValue(s) < 0) return 0;
        int w = waitFor(s, net::kWritable, waitSpan(timeoutMs));
        if (w <= 0) return w;
    }
    const int n = static_cast<int>(sendto(s, data, length, flags | net::kNoSignal,
                                          reinterpret_cast<const sockaddr*>(to), sizeof(sockaddr_in)));
    if (n < 1) {
        log_write(LOG_SYSTEM_ERROR, "%s : sendto %d/%d fail", "SendToEx", n, length);
        return -1;
    }
    return n;
}

int RecvFromEx(SOCKET s, char* buffer, int length, int flags, sockaddr_in* from, uint32_t timeoutMs) {
    if (hasTimeout(timeoutMs)) {
        if (socketValue(s) < 0) return 0;
        int w = waitFor(s, net::kReadable, waitSpan(timeoutMs));
        if (w <= 0) return w;
    }
    sockaddr_in scratch{};
    socklen_t fromLength = sizeof(sockaddr_in);
    const int n = static_cast<int>(
        recvfrom(s, buffer, length, flags, reinterpret_cast<sockaddr*>(from ? from : &scratch), &fromLength));
    if (n < 1) {
        log_write(LOG_SYSTEM_ERROR, "%s : recvfrom %d/%d fail", "RecvFromEx", n, length);
        return -1;
    }
    return n;
}

int SendExPolled(SOCKET s, const char* data, int length, int flags, uint32_t timeoutMs,
                 const std::atomic<uint16_t>* stop) {
    return transferPolled(s, length, net::kWritable, timeoutMs, 1, stop, [&](int done, bool now) {
        return net::sendSome(s, data + done, length - done, flags, now);
    });
}

int RecvExPolled(SOCKET s, char* buffer, int length, int flags, uint32_t timeoutMs, int waitAll) {
    return transferPolled(s, length, net::kReadable, timeoutMs, waitAll, nullptr, [&](int done, bool now) {
        return net::recvSome(s, buffer + done, length - done, flags, now);
    });
}

int GetSocketError(SOCKET s) {
    if (socketValue(s) < 0) return -22;
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) return -1;
    return error;
}
