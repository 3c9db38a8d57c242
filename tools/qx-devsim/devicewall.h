// Many simulated phones in one process: each listens on a port of its own and serves one client connection at
// a time, all of them sending the same pictures, coded once before any client comes, from one thread that
// waits on every socket at once. A wall of phones then costs the machine little beside the client being
// measured: the sockets are registered with the kernel once, and one wake-up sends every picture due within a
// millisecond.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control/sockets.h"
#include "tools/qx-devsim/devsimoptions.h"

class DeviceWall {
public:
    explicit DeviceWall(const DevsimOptions& options);
    ~DeviceWall();
    DeviceWall(const DeviceWall&) = delete;
    DeviceWall& operator=(const DeviceWall&) = delete;

    // Codes the loop of pictures, opens the send logs and the listeners; false with the reason in *error.
    bool open(std::string* error);
    // The port of each phone, in order (after open).
    std::vector<uint16_t> ports() const;
    // Serves the phones until stop(); 0, or -1 when waiting failed. A send log line is written out at most
    // 200 ms after its picture left, and every line before run() returns.
    int run();
    // Any thread: makes run() return soon.
    void stop();

private:
    using Clock = std::chrono::steady_clock;
    struct Phone;

    void accept(Phone& phone);
    // Reads some of what the client sent: the handshake, then control frames, which are dropped.
    void receive(Phone& phone);
    // Sends what the socket takes of the frame under way; false when the connection failed.
    bool flush(Phone& phone);
    // Starts sending payload (the first sent byte is the picture's leaving time).
    void startFrame(Phone& phone, const std::vector<uint8_t>& payload);
    // Writes out the send log's waiting lines.
    void writeLog(Phone& phone);
    // Sends the phone's next picture, which is due; false when the connection failed.
    bool sendPicture(Phone& phone);
    // Waits for the phone's connection to take more of a frame under way, or no longer.
    void watchWrites(Phone& phone, bool writes);
    // Waits on the listener while no client is connected, else on the connection.
    bool watch(Phone& phone, int operation);
    void drop(Phone& phone, const char* why);

    const DevsimOptions& options_;
    uint8_t encoderType_ = 0;
    std::vector<uint8_t> config_;
    std::vector<std::vector<uint8_t>> loop_;  // the pictures every phone sends, in turn
    std::vector<std::unique_ptr<Phone>> phones_;
    int wake_[2] = {-1, -1};  // stop() writes to wake_[1]; run() waits on wake_[0]
    int epoll_ = -1;          // wake_[0] and, for each phone, its listener or its connection
};
