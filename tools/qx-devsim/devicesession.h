// One client connection of the simulated device: handshake, config frame, then one RSUP frame per picture at
// the chosen rate, while a reader thread prints every control frame the client sends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "control/sockets.h"
#include "tools/qx-devsim/devsimoptions.h"

class FrameCoder;
class PictureSource;

class DeviceSession {
public:
    DeviceSession(SOCKET s, const DevsimOptions& options) : socket_(s), options_(options) {}
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Serves the connection until the client closes it, a send fails or the misbehaviour ends it; closes
    // the socket. Returns 0 when the client ended it, else a negative code (also reported on stderr).
    int run();

private:
    void readControlFrames();
    void stream(PictureSource& source, FrameCoder& coder);
    // The payload of picture n (counted from 1): coded now, or taken from the coded loop.
    bool makePayload(PictureSource& source, FrameCoder& coder, int64_t n, std::vector<uint8_t>* payload);
    // Sends an RSUP frame whose header announces payloadLength and whose payload is the first sent bytes of
    // payload (all of it unless a misbehaviour cuts it short). False when the send failed.
    bool sendFrame(uint8_t encoderType, const std::vector<uint8_t>& payload, int32_t payloadLength,
                   size_t sent);
    // Waits until the deadline or until the session stops; true when it stopped.
    bool waitStopped(std::chrono::steady_clock::time_point deadline);
    void stop();

    SOCKET socket_;
    const DevsimOptions& options_;
    // Streaming thread only: the picture being coded, the coded loop, the frame being sent.
    std::vector<uint8_t> picture_;
    std::vector<std::vector<uint8_t>> loop_;
    std::vector<uint8_t> frame_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;  // guarded by mutex_
};
