// The one place where the platform's sockets and stop requests show: Winsock 2 and the console's control
// events on Windows, POSIX sockets and signals on Linux. The rest of the tree uses these names only.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
// Only the system part of Windows: the window part's macros (WM_PAINT, SW_SHOWNORMAL, VK_SPACE, ...) would
// replace platform/window.h's names in every file that includes both. A file that needs the window part
// includes <windows.h> first.
#ifndef NOUSER
#define NOUSER
#define QX_SOCKETLAYER_NOUSER
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#ifdef QX_SOCKETLAYER_NOUSER
#undef NOUSER
#undef QX_SOCKETLAYER_NOUSER
#endif
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
#endif

// Socket values are compared as signed integers throughout: negative (INVALID_SOCKET) means none. Winsock's
// unsigned INVALID_SOCKET reads as -1 here, and its handles, like every kernel handle, as small positives.
constexpr intptr_t socketValue(SOCKET s) {
    return static_cast<intptr_t>(s);
}
// The same value for log lines ("%d").
constexpr int socketNumber(SOCKET s) {
    return static_cast<int>(socketValue(s));
}

namespace net {

// Starts the socket library once for the process (WSAStartup, version 2.2); false when it cannot start.
// Linux needs nothing. Safe from any thread.
bool startup();

// The calling thread's last socket error (errno; WSAGetLastError on Windows) and what kind it is.
int lastError();
bool interrupted(int error);     // the call was interrupted before it moved a byte
bool wouldBlock(int error);      // nothing could be moved at once
bool connectPending(int error);  // a connect on a non-blocking socket is under way

// A TCP socket that child processes do not inherit.
SOCKET openStream();
// The accepted connection (not inherited either), or INVALID_SOCKET.
SOCKET acceptConnection(SOCKET listener, sockaddr_in* peer);
void closeSocket(SOCKET s);
// Ends both directions. On Linux a thread blocked on s returns at once; Winsock does not wake it, so every
// wait that a stop must end also watches a Waker.
void shutdownBoth(SOCKET s);
// Ends the sending direction: the peer reads the end of the stream.
void shutdownSend(SOCKET s);
bool setBlocking(SOCKET s, bool blocking);
// Turns off the platform's reuse of a port that another socket listens on (Windows lets SO_REUSEADDR take
// over a port in use; there SO_EXCLUSIVEADDRUSE is asked instead). False when the option is refused.
bool allowAddressReuse(SOCKET s);

// One send or recv; the result as the system's (bytes moved, 0, or -1 with lastError()). A peer that closed
// never raises a signal. With `now`, the call moves only what the socket takes or holds at once and fails
// with a would-block error otherwise (Winsock has no such flag: there a send switches the socket to
// non-blocking for the call, and a receive first asks whether the socket is readable).
#ifdef _WIN32
constexpr int kNoSignal = 0;  // Windows sockets raise no signals
#else
constexpr int kNoSignal = MSG_NOSIGNAL;  // for the calls made directly (sendto)
#endif
int sendSome(SOCKET s, const char* data, int length, int flags, bool now);
int recvSome(SOCKET s, char* buffer, int length, int flags, bool now);
// The bytes a stream socket holds that a receive would return at once; 0 when none or on error.
size_t pendingBytes(SOCKET s);

// Waiting for sockets. Entries with a negative socket are skipped. Windows' select holds at most 64
// sockets and ignores their values; a wait here takes at most kMaxWait.
constexpr int kMaxWait = 8;
enum : short { kReadable = 1, kWritable = 2, kInvalid = 4 };
struct WaitEntry {
    SOCKET socket;
    short events;  // kReadable and/or kWritable
    short ready;   // out: the events that came; an error or hang-up sets those asked for; kInvalid: no socket
};
// Blocks until an entry is ready or timeoutMs passed (negative: no limit); interruptions are waited through.
// The number of ready entries, 0 on a time-out, -1 when the wait failed (lastError()).
int waitSockets(WaitEntry* entries, int count, int timeoutMs);

// A wake-up another thread can give to a thread waiting on sockets: handle() turns readable after wake().
class Waker {
public:
    Waker() = default;
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    bool open();  // a fresh wake-up (the last one closed); false when the system had nothing to give
    void wake();  // any thread
    SOCKET handle() const { return handle_; }

private:
    // Linux: an eventfd. Windows: a loopback datagram socket that sends to itself, since select there
    // watches sockets only.
    SOCKET handle_ = INVALID_SOCKET;
};

// Stop requests from outside the process: SIGINT and SIGTERM on Linux; on Windows Ctrl+C, Ctrl+Break,
// closing the console, logging off and shutting down.
// Called first in main, before any thread starts: on Linux every thread inherits the blocked signals (and
// SIGPIPE is ignored), so only the stop handle receives them; on Windows the console handler is installed.
void installStopRequests();
// A handle that turns readable once a stop is requested (one requested earlier included); INVALID_SOCKET when
// none could be made (a request then ends the process the system's way).
SOCKET openStopRequests();
// Takes the request: the signal number, or the console event on Windows; -1 when there was none.
int takeStopRequest(SOCKET handle);
void closeStopRequests(SOCKET handle);
// The log line of a request taken by takeStopRequest: "%s Signal %d, stopping", or on Windows
// "%s Console event %d, stopping".
const char* stopRequestFormat();
// The process has stopped every device: on Windows a console that is being closed may now end the process.
void stopRequestsDone();

}  // namespace net
