#pragma once

#include <atomic>
#include <cstdint>

#include "control/socketlayer.h"

// Blocking IPv4 TCP helpers. Time limits are in milliseconds: 0 and 0xFFFFFFFF mean none, any other value
// bounds each wait for the socket to become ready. Byte-count results: the whole length on success, 0 on a
// time-out or a closed peer, -1 on an error. No send raises a signal when the peer has gone; no helper closes
// a socket it was given.

constexpr uint32_t NO_TIMEOUT = 0xFFFFFFFF;

// A listening socket on host (dotted IPv4; null for any address) and port, backlog 1; -1 on failure.
SOCKET TCPListen(const char* host, uint16_t port);
// The accepted connection, or -1; peer receives the peer's address.
SOCKET TCPAccept(SOCKET listenSocket, sockaddr_in* peer);
// A connected (blocking) socket to host (dotted IPv4 or a name) and port; -1 on failure, on a connect that
// did not complete within timeoutMs (NO_TIMEOUT: the system's own limit) or when the wake descriptor became
// readable. A name is resolved by the system resolver, whose wait is its own.
SOCKET TCPConnect(uint16_t port, const char* host, uint32_t timeoutMs = NO_TIMEOUT);

// A handle that, once readable, ends the waits of SendWithin, RecvWithin, WaitWritableOrWake and
// TCPConnect at once with a failure, so a stop request never waits on a peer: the client passes its stop
// requests' handle (net::openStopRequests). INVALID_SOCKET (the default) for none.
void SetSocketWakeDescriptor(SOCKET handle);
// Like SendEx / RecvEx with waitAll, but timeoutMs bounds the whole transfer however the bytes trickle in.
// The whole length on success; 0 when the peer closed; -1 on an error or a wake-up; -2 when the time is up.
int SendWithin(SOCKET s, const char* data, int length, uint32_t timeoutMs);
int RecvWithin(SOCKET s, char* buffer, int length, uint32_t timeoutMs);
// Waits until s can be written: 1 ready, 0 time is up, -1 on an error or a wake-up.
int WaitWritableOrWake(SOCKET s, uint32_t timeoutMs);

int SendEx(SOCKET s, const char* data, int length, int flags, uint32_t timeoutMs);
// SendEx with a time limit (required: without one -1) whose waits for room also end at once, with -1, when
// wake turns readable: a thread that a stop must end passes its stop wake-up, since shutting a socket down
// does not wake a wait on it on every system (Windows).
int SendExOrWake(SOCKET s, const char* data, int length, uint32_t timeoutMs, SOCKET wake);
// waitAll 0 returns after the first read that brought bytes.
int RecvEx(SOCKET s, char* buffer, int length, int flags, uint32_t timeoutMs, int waitAll);

// SendEx / RecvEx without any wait.
int SendN(SOCKET s, const char* data, int length, int flags);
int RecvN(SOCKET s, char* buffer, int length, int flags);

// One datagram operation after at most one wait; -1 when it moved no byte.
int SendToEx(SOCKET s, const char* data, int length, int flags, const sockaddr_in* to, uint32_t timeoutMs);
int RecvFromEx(SOCKET s, char* buffer, int length, int flags, sockaddr_in* from, uint32_t timeoutMs);

// Like SendEx / RecvEx, but the time limit is spent as one wait of its sub-second part followed by waits of
// one second, with the socket's pending error read after each wait. Results: the bytes moved; -1 failed wait;
// -2 pending socket error; -3 negative socket; -4 time limit spent; -5 failed send/recv. SendExPolled also
// returns the bytes sent so far as soon as *stop is non-zero. Without a time limit the one-second waits go on
// until the transfer ends.
int SendExPolled(SOCKET s, const char* data, int length, int flags, uint32_t timeoutMs,
                 const std::atomic<uint16_t>* stop);
int RecvExPolled(SOCKET s, char* buffer, int length, int flags, uint32_t timeoutMs, int waitAll);

// The socket's pending error (SO_ERROR); -1 when it cannot be read; -22 for a negative socket.
int GetSocketError(SOCKET s);
