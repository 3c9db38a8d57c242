#pragma once

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/sockets.h"
#include "tests/e2e/system/childprocess.h"
#include "tests/unit/control/testframes.h"
#include "tests/unit/control/testlog.h"

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline uint16_t localPort(int s) {
    sockaddr_in addr{};
    socklen_t length = sizeof(addr);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
}

// A loopback port that nothing listens on at the moment.
inline uint16_t freePort() {
    SOCKET probe = TCPListen("127.0.0.1", 0);
    uint16_t port = localPort(probe);
    close(probe);
    return port;
}

// Reads up to n bytes, waiting at most `wait` in all; fewer when the peer closes or the time is up.
inline Bytes readFor(int s, size_t n, milliseconds wait) {
    Bytes got;
    const auto deadline = Clock::now() + wait;
    while (got.size() < n) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        uint8_t chunk[4096];
        int r = RecvEx(s, reinterpret_cast<char*>(chunk),
                       static_cast<int>(std::min(n - got.size(), sizeof(chunk))), 0,
                       static_cast<uint32_t>(left), 0);
        if (r <= 0) break;
        got.insert(got.end(), chunk, chunk + r);
    }
    return got;
}

// True when the peer closed s within `wait` (bytes still queued before the close are skipped).
inline bool closedWithin(int s, milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    for (;;) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) != 1) continue;
        char chunk[256];
        ssize_t n = recv(s, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
    }
}

// The command that starts the client: $QX_E2E_WINDOWS_CLIENT when set (blank-separated words: the Windows
// client under wine, as the Windows build's tests run it), else the client of this build.
inline std::vector<std::string> clientCommand() {
    std::vector<std::string> words;
    const char* command = std::getenv("QX_E2E_WINDOWS_CLIENT");
    if (!command || !*command) return {QX_CLIENT};
    std::istringstream in(command);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// Whether the client under test is the Windows one.
inline bool windowsClient() {
    const char* command = std::getenv("QX_E2E_WINDOWS_CLIENT");
    return command && *command;
}

// How long a reply may take: the client's 1 s on a busy machine. Under wine each thread start and socket wait
// goes through the wine server, and stopping 128 devices for Exit takes seconds on a busy machine.
inline milliseconds replyWait() {
    return windowsClient() ? milliseconds(30000) : milliseconds(3000);
}

// One request, its reply of `size` bytes (nothing expected when 0: a short wait for a stray reply).
inline Bytes request(SOCKET controller, const Bytes& frame, size_t size, milliseconds wait = replyWait()) {
    send(controller, frame.data(), frame.size(), MSG_NOSIGNAL);
    return readFor(controller, size ? size : 1, size ? wait : milliseconds(300));
}

// Repeats SetWindow until the device's window exists (status 0). The tests stop a device only once its window
// is there: Device::stop does not yet reach a window thread that has not published its window.
inline bool awaitWindow(SOCKET controller, int32_t id) {
    const auto deadline = Clock::now() + milliseconds(10000);
    const Bytes frame = controlFrame(505, 0, {static_cast<uint32_t>(id), 10, 20, 300, 500});
    while (Clock::now() < deadline) {
        if (request(controller, frame, 24) == replyFrame(506, 0, id, 0)) return true;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
}

// The real client process on a free loopback port, with headless windows and its own log file.
class ClientProcess {
public:
    explicit ClientProcess(std::vector<std::string> args = {})
        : port_(freePort()),
          process_(clientCommand().front(),
                   withCommandArguments(
                       args.empty() ? std::vector<std::string>{"127.0.0.1:" + std::to_string(port_)} : args),
                   {"QX_WINDOW=headless", "QX_LOG_FILE=" + log_.path()}) {}

    uint16_t port() const { return port_; }
    const TestLog& log() const { return log_; }

    // Waits until the log holds `line`.
    bool logShows(const std::string& line, milliseconds wait = milliseconds(5000)) const {
        const auto deadline = Clock::now() + wait;
        while (!log_.contains(line)) {
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(milliseconds(20));
        }
        return true;
    }
    bool listening() const {
        return logShows("qx_main Listen on 127.0.0.1:" + std::to_string(port_) + " success\n");
    }

    // A new controller connection.
    SOCKET connect() const { return TCPConnect(port_, "127.0.0.1"); }

    // The exit code once the process ended within `wait`; -1 when it did not end (or ended abnormally).
    int exitCode(milliseconds wait) { return process_.exitCode(wait); }
    void signal(int number) const { process_.signal(number); }

private:
    // The client's own arguments after the words of the command that starts it.
    static std::vector<std::string> withCommandArguments(const std::vector<std::string>& args) {
        std::vector<std::string> all = clientCommand();
        all.erase(all.begin());
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    TestLog log_;
    uint16_t port_;
    ChildProcess process_;  // after log_ and port_, which its start uses
};

// A device on a loopback port: accepts connections one after the other and, when `answers` is set, completes
// the RSUP handshake on each (echoes the token with "RSUP ACK" and reads the final ACK). Each connection is
// kept with the bytes it received during the handshake.
class TestDevice {
public:
    // receiveBuffer (bytes, 0 for the system's default) bounds what the kernel takes for a connection that
    // is never read.
    explicit TestDevice(bool answers, int receiveBuffer = 0) : answers_(answers) {
        listener_ = TCPListen("127.0.0.1", 0);
        // Set before the connections exist, so each accepted one inherits it.
        if (receiveBuffer > 0)
            setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        listen(listener_, 256);
        port_ = localPort(listener_);
        thread_ = std::thread([this] { serve(); });
    }
    ~TestDevice() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
        for (Connection& c : connections_)
            close(c.socket);
    }

    struct Connection {
        SOCKET socket;
        Bytes handshake;  // what the client sent before the stream: SYN and final ACK
    };

    uint16_t port() const { return port_; }
    // The i-th accepted connection, once it is there and its handshake is done.
    const Connection* connection(size_t i, milliseconds wait = milliseconds(10000)) {
        const auto deadline = Clock::now() + wait;
        while (Clock::now() < deadline) {
            {
                std::lock_guard lock(mutex_);
                if (i < connections_.size()) return &connections_[i];
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        return nullptr;
    }

private:
    void serve() {
        for (;;) {
            SOCKET s = TCPAccept(listener_, nullptr);
            if (s < 0) return;
            Connection c{s, {}};
            if (answers_) {
                c.handshake = readFor(s, 12, milliseconds(5000));
                if (c.handshake.size() == 12) {
                    Bytes ack(c.handshake.begin(), c.handshake.begin() + 4);
                    const char* text = "RSUP ACK";
                    ack.insert(ack.end(), text, text + 8);
                    send(s, ack.data(), ack.size(), MSG_NOSIGNAL);
                    Bytes final = readFor(s, 12, milliseconds(5000));
                    c.handshake.insert(c.handshake.end(), final.begin(), final.end());
                }
            }
            std::lock_guard lock(mutex_);
            connections_.push_back(c);
        }
    }

    bool answers_;
    SOCKET listener_;
    uint16_t port_;
    std::thread thread_;
    std::mutex mutex_;
    std::deque<Connection> connections_;  // guarded by mutex_; a deque keeps handed-out addresses valid
};

}  // namespace e2e
