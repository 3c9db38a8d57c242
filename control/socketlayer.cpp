// The POSIX side of the socket layer (Linux).
#include "control/socketlayer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace net {

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

bool startup() {
    return true;
}

int lastError() {
    return errno;
}

bool interrupted(int error) {
    return error == EINTR;
}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool connectPending(int error) {
    return error == EINPROGRESS;
}

SOCKET openStream() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

SOCKET acceptConnection(SOCKET listener, sockaddr_in* peer) {
    sockaddr_in scratch{};
    socklen_t length = sizeof(sockaddr_in);
    SOCKET s = accept4(listener, reinterpret_cast<sockaddr*>(peer ? peer : &scratch), &length, SOCK_CLOEXEC);
    return s < 0 ? INVALID_SOCKET : s;
}

void closeSocket(SOCKET s) {
    if (s >= 0) close(s);
}

void shutdownBoth(SOCKET s) {
    if (s >= 0) shutdown(s, SHUT_RDWR);
}

void shutdownSend(SOCKET s) {
    if (s >= 0) shutdown(s, SHUT_WR);
}

bool setBlocking(SOCKET s, bool blocking) {
    const int flags = fcntl(s, F_GETFL);
    if (flags < 0) return false;
    return fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

bool allowAddressReuse(SOCKET s) {
    int on = 1;
    return setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0;
}

int sendSome(SOCKET s, const char* data, int length, int flags, bool now) {
    return static_cast<int>(
        send(s, data, static_cast<size_t>(length), flags | kNoSignal | (now ? MSG_DONTWAIT : 0)));
}

int recvSome(SOCKET s, char* buffer, int length, int flags, bool now) {
    return static_cast<int>(recv(s, buffer, static_cast<size_t>(length), flags | (now ? MSG_DONTWAIT : 0)));
}

size_t pendingBytes(SOCKET s) {
    int n = 0;
    return ioctl(s, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

int waitSockets(WaitEntry* entries, int count, int timeoutMs) {
    if (count < 0 || count > kMaxWait) return -1;
    pollfd fds[kMaxWait];
    for (int i = 0; i < count; ++i) {
        short events = 0;
        if (entries[i].events & kReadable) events |= POLLIN;
        if (entries[i].events & kWritable) events |= POLLOUT;
        fds[i] = {entries[i].socket, events, 0};  // poll skips negative descriptors
        entries[i].ready = 0;
    }
    int r;
    do {
        r = poll(fds, static_cast<nfds_t>(count), timeoutMs < 0 ? -1 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return r;
    for (int i = 0; i < count; ++i) {
        const short got = fds[i].revents;
        if (got & POLLNVAL)
            entries[i].ready = kInvalid;
        else if (got & (POLLERR | POLLHUP))
            entries[i].ready = entries[i].events;
        else
            entries[i].ready =
                static_cast<short>(((got & POLLIN) ? kReadable : 0) | ((got & POLLOUT) ? kWritable : 0));
    }
    return r;
}

Waker::~Waker() {
    if (handle_ >= 0) close(handle_);
}

bool Waker::open() {
    if (handle_ >= 0) close(handle_);
    handle_ = eventfd(0, EFD_CLOEXEC);
    return handle_ >= 0;
}

void Waker::wake() {
    const uint64_t one = 1;
    if (write(handle_, &one, sizeof one) < 0) {
        // Nothing more can be done; the waiting thread still ends by its own conditions.
    }
}

void installStopRequests() {
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

SOCKET openStopRequests() {
    sigset_t set = stopSignals();
    SOCKET handle = signalfd(-1, &set, SFD_CLOEXEC);
    // Without the descriptor the blocked signals would never arrive: let them end the process as usual.
    if (handle < 0) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return handle < 0 ? INVALID_SOCKET : handle;
}

int takeStopRequest(SOCKET handle) {
    signalfd_siginfo info{};
    if (handle < 0 || read(handle, &info, sizeof(info)) != static_cast<ssize_t>(sizeof(info))) return -1;
    return static_cast<int>(info.ssi_signo);
}

void closeStopRequests(SOCKET handle) {
    if (handle >= 0) close(handle);
}

const char* stopRequestFormat() {
    return "%s Signal %d, stopping";
}

void stopRequestsDone() {}

}  // namespace net
