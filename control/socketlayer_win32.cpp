// The Windows side of the socket layer: Winsock 2 and the console's control events.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "control/socketlayer.h"

namespace net {

namespace {

// A zero-time wait: whether s can be read or written at once.
bool readyNow(SOCKET s, short events) {
    WaitEntry entry{s, events, 0};
    return waitSockets(&entry, 1, 0) > 0 && (entry.ready & events) != 0;
}

// Stop requests: the console handler runs on a thread of its own that the system starts. The requested event
// is kept until the control loop opens its handle, so a Ctrl+C before that is not lost.
std::mutex stopMutex;
int requestedEvent = -1;               // guarded by stopMutex
Waker* stopWaker = nullptr;            // guarded by stopMutex
HANDLE stoppedEvent = nullptr;         // set once every device stopped; made before any handler runs
constexpr DWORD kCloseGraceMs = 4500;  // the system ends a closing console's process after about 5 s

BOOL WINAPI onConsoleEvent(DWORD event) {
    {
        std::lock_guard lock(stopMutex);
        if (requestedEvent < 0) requestedEvent = static_cast<int>(event);
        if (stopWaker) stopWaker->wake();
    }
    // Ctrl+C and Ctrl+Break: handled, the process goes on to stop by itself. Closing, logging off and
    // shutting down end the process when the handler returns: let the devices stop first, then end with the
    // same code as any other stop.
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    if (stoppedEvent) WaitForSingleObject(stoppedEvent, kCloseGraceMs);
    ExitProcess(0);
}

}  // namespace

bool startup() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

int lastError() {
    return WSAGetLastError();
}

bool interrupted(int error) {
    return error == WSAEINTR;
}

bool wouldBlock(int error) {
    return error == WSAEWOULDBLOCK;
}

bool connectPending(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

SOCKET openStream() {
    if (!startup()) return INVALID_SOCKET;
    return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

SOCKET acceptConnection(SOCKET listener, sockaddr_in* peer) {
    sockaddr_in scratch{};
    int length = sizeof(sockaddr_in);
    SOCKET s = accept(listener, reinterpret_cast<sockaddr*>(peer ? peer : &scratch), &length);
    if (s != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return s;
}

void closeSocket(SOCKET s) {
    if (socketValue(s) >= 0) closesocket(s);
}

void shutdownBoth(SOCKET s) {
    if (socketValue(s) >= 0) shutdown(s, SD_BOTH);
}

void shutdownSend(SOCKET s) {
    if (socketValue(s) >= 0) shutdown(s, SD_SEND);
}

bool setBlocking(SOCKET s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

bool allowAddressReuse(SOCKET s) {
    // SO_REUSEADDR would let this socket take over a port that another program listens on.
    BOOL on = TRUE;
    return setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof(on)) ==
           0;
}

// One call made with the socket switched to non-blocking for its duration: Winsock has no per-call flag.
// Only the thread that writes a socket makes such sends (the device's send thread, the control thread), and
// a thread waiting in another call on the socket is not disturbed by the switch.
template <typename Call>
int callNow(SOCKET s, Call call) {
    u_long on = 1, off = 0;
    if (ioctlsocket(s, FIONBIO, &on) != 0) return -1;
    const int n = call();
    const int error = WSAGetLastError();
    ioctlsocket(s, FIONBIO, &off);
    WSASetLastError(error);
    return n;
}

int sendSome(SOCKET s, const char* data, int length, int flags, bool now) {
    if (now) return callNow(s, [&] { return send(s, data, length, flags); });
    return send(s, data, length, flags);
}

int recvSome(SOCKET s, char* buffer, int length, int flags, bool now) {
    // A readable socket gives what it holds without waiting; only an empty one would block.
    if (now && !readyNow(s, kReadable)) {
        WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return recv(s, buffer, length, flags);
}

size_t pendingBytes(SOCKET s) {
    u_long n = 0;
    return ioctlsocket(s, FIONREAD, &n) == 0 ? static_cast<size_t>(n) : 0;
}

int waitSockets(WaitEntry* entries, int count, int timeoutMs) {
    if (count < 0 || count > kMaxWait) return -1;
    // Sets of at most kMaxWait sockets, well within select's 64; the socket values themselves do not matter.
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    int watched = 0;
    for (int i = 0; i < count; ++i) {
        entries[i].ready = 0;
        if (socketValue(entries[i].socket) < 0) continue;
        if (entries[i].events & kReadable) FD_SET(entries[i].socket, &readable);
        if (entries[i].events & kWritable) FD_SET(entries[i].socket, &writable);
        FD_SET(entries[i].socket, &failed);
        ++watched;
    }
    if (watched == 0) {
        // select refuses empty sets: nothing can come but the time-out.
        if (timeoutMs < 0) return -1;
        Sleep(static_cast<DWORD>(timeoutMs));
        return 0;
    }
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
    if (r <= 0) {
        if (r < 0 && WSAGetLastError() == WSAENOTSOCK) {
            for (int i = 0; i < count; ++i)
                if (socketValue(entries[i].socket) >= 0) entries[i].ready = kInvalid;
        }
        return r;
    }
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        const SOCKET s = entries[i].socket;
        if (socketValue(s) < 0) continue;
        if (FD_ISSET(s, &failed)) entries[i].ready = entries[i].events;
        if (FD_ISSET(s, &readable)) entries[i].ready |= kReadable;
        if (FD_ISSET(s, &writable)) entries[i].ready |= kWritable;
        if (entries[i].ready) ++ready;
    }
    return ready;
}

Waker::~Waker() {
    closeSocket(handle_);
}

bool Waker::open() {
    closeSocket(handle_);
    handle_ = INVALID_SOCKET;
    if (!startup()) return false;
    SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(self);
    if (bind(s, reinterpret_cast<sockaddr*>(&self), sizeof(self)) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&self), sizeof(self)) != 0) {
        closesocket(s);
        return false;
    }
    handle_ = s;
    return true;
}

void Waker::wake() {
    const char one = 1;
    send(handle_, &one, 1, 0);  // a full queue is already readable
}

void installStopRequests() {
    stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

SOCKET openStopRequests() {
    auto* waker = new Waker();
    if (!waker->open()) {
        delete waker;
        return INVALID_SOCKET;
    }
    std::lock_guard lock(stopMutex);
    stopWaker = waker;
    if (requestedEvent >= 0) waker->wake();
    return waker->handle();
}

int takeStopRequest(SOCKET handle) {
    char drained[16];
    recv(handle, drained, sizeof drained, 0);
    std::lock_guard lock(stopMutex);
    return requestedEvent;
}

void closeStopRequests(SOCKET handle) {
    std::lock_guard lock(stopMutex);
    if (stopWaker && stopWaker->handle() == handle) {
        delete stopWaker;
        stopWaker = nullptr;
    }
}

const char* stopRequestFormat() {
    return "%s Console event %d, stopping";
}

void stopRequestsDone() {
    if (stoppedEvent) SetEvent(stoppedEvent);
}

}  // namespace net
