// One connected remote device: its socket, the rectangle of its window and the threads that serve it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "control/sockets.h"

namespace platform {
class Window;
}

class DataReceiver;
class DisplayWindow;

// Names the calling thread "dev3-window", "dev3-render", "dev3-decode": a debugger or top -H shows whose
// thread is busy.
void nameDeviceThread(int32_t id, const char* role);

class Device {
public:
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    int32_t id = -1;
    char host[32] = {};
    uint32_t port = 0;
    SOCKET socket = INVALID_SOCKET;
    // Written by the control thread (Connect, SetWindow), read by the render thread when the stream sets up
    // its decoder; the window thread gets its own copy at start.
    std::atomic<int32_t> x = 0, y = 0, width = 0, height = 0;
    // A frame the device's socket does not start taking within this long means the device does not read: it
    // is stopped.
    static constexpr uint32_t kSendLimitMs = 2000;
    // Frames waiting for the socket beyond this are refused.
    static constexpr size_t kMaxQueuedBytes = 256 * 1024;

    // Serialises whole-frame writes to `socket`; held by the send thread around each write.
    std::mutex sendMutex;
    // Owned; made by the render thread's stream receiver, freed by stop().
    DataReceiver* receiver = nullptr;
    // Owned; made by the window thread, read by the control and render threads, freed by stop() after the
    // window thread has been joined.
    std::atomic<DisplayWindow*> window = nullptr;
    // 1 from start() until the device stops; every device thread re-reads it once per loop turn.
    std::atomic<uint8_t> running = 0;
    // Readable from the moment the device stops: every wait of a device thread on the socket watches it too,
    // since shutting a socket down does not wake a thread blocked on it on every system (Windows).
    net::Waker stopWake;

    bool isValid() const { return id != -1; }
    bool isRunning() const { return running.load() != 0; }

    // Starts the send, window and render threads; 0 when all started, else -1 with the running flag dropped
    // (stop() joins whatever started).
    int32_t start();
    // Sets the running flag and starts the send thread alone; start() begins with it. 0 when it started.
    int32_t startSending();
    // Ends the device: drops the running flag, shuts the socket down, wakes the window loop, joins every
    // thread, closes the socket and frees the window. Returns 0. Never call it from a device thread.
    int32_t stop();
    // Lets a device thread end the device by itself (the stream ended): drops the running flag and wakes
    // every thread that waits on it. The threads are joined later by stop().
    void markStopped();
    // Queues one whole frame for the send thread, so no caller waits on the device (Forward on the control
    // thread, touches on the window thread): 0 when queued; -1 when the device is not running or the queue
    // is full.
    int32_t send(const uint8_t* data, uint32_t length);
    // Moves and resizes the window to x, y, width, height stored by the caller; -1 without a window or when
    // the window could not be moved, else 0.
    int32_t setWindow();
    // Show state 0 restore and raise, 1 minimise, 2 maximise, 3 show normally; -1 without a window, else 0.
    int32_t changeWindow(int32_t state);
    // Appends a thread that stop() joins (the decode thread of the stream receiver).
    void addThread(std::thread thread);

    // Window thread: the window exists and can be handed to the renderer.
    void windowReady();

private:
    void windowThread(int32_t showCommand, int32_t x, int32_t y, int32_t width, int32_t height);
    // Writes the queued frames in order; a device that takes none of them for kSendLimitMs is stopped the
    // way a device that closed its connection is (the thread is joined by stop()).
    void sendThread();
    void renderThread();
    // Blocks until the window exists or the device stops; the window, or null when the device stopped first.
    platform::Window* waitForWindow();
    // Runs the device's stream into the window until it ends; the stream receiver plugs in here.
    void receiveStream(platform::Window* hwnd);
    void joinThreads();

    std::mutex queueMutex_;
    std::condition_variable
        queueChanged_;              // signalled with queueMutex_ when a frame is queued or running drops
    std::vector<uint8_t> queue_;    // guarded by queueMutex_: whole frames, back to back
    bool queueFullLogged_ = false;  // guarded by queueMutex_: one line per episode of a full queue

    std::mutex threadsMutex_;
    std::vector<std::thread>
        threads_;  // guarded by threadsMutex_; creation order: send, window, render, decode

    std::mutex stateMutex_;
    std::condition_variable
        stateChanged_;  // signalled with stateMutex_ when the window appears or running drops
};
