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
    // Written by the control thread (Connect, SetWindow); the window thread gets its own copy at start.
    int32_t x = 0, y = 0, width = 0, height = 0;
    // Serialises whole-frame writes to `socket` (Forward on the control thread, touches on the window
    // thread).
    std::mutex sendMutex;
    // Owned; made by the render thread's stream receiver, freed by stop().
    DataReceiver* receiver = nullptr;
    // Owned; made by the window thread, read by the control and render threads, freed by stop() after the
    // window thread has been joined.
    std::atomic<DisplayWindow*> window = nullptr;
    // 1 from start() until the device stops; every device thread re-reads it once per loop turn.
    std::atomic<uint8_t> running = 0;

    bool isValid() const { return id != -1; }
    bool isRunning() const { return running.load() != 0; }

    // Starts the window thread and the render thread; 0 when both started.
    int32_t start();
    // Ends the device: drops the running flag, shuts the socket down, wakes the window loop, joins every
    // thread, closes the socket and frees the window. Returns 0. Never call it from a device thread.
    int32_t stop();
    // Lets a device thread end the device by itself (the stream ended): drops the running flag and wakes
    // every thread that waits on it. The threads are joined later by stop().
    void markStopped();
    // Writes one whole frame under sendMutex; 0 when all went out, else -1.
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
    void renderThread();
    // Blocks until the window exists or the device stops; the window, or null when the device stopped first.
    platform::Window* waitForWindow();
    // Runs the device's stream into the window until it ends; the stream receiver plugs in here.
    void receiveStream(platform::Window* hwnd);
    void joinThreads();

    std::mutex threadsMutex_;
    std::vector<std::thread> threads_;  // guarded by threadsMutex_; creation order: window, render, decode

    std::mutex stateMutex_;
    std::condition_variable
        stateChanged_;  // signalled with stateMutex_ when the window appears or running drops
};
