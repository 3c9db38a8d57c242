#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "control/sockets.h"
#include "input/operationtable.h"

// Turns the key and left-button messages of one device window into touch frames on the device socket.
// Lives on the window's thread: it takes no lock of its own, only the device's frame write lock.
class TouchController {
public:
    // Touch actions of the touch frames. handleKey takes kTouchDown for a key going down and kTouchUp for a
    // key coming up.
    static constexpr int32_t kTouchMove = 0;
    static constexpr int32_t kTouchUp = 1;
    static constexpr int32_t kTouchDown = 2;

    // sendMutex: the device's whole-frame write lock, held around every touch frame (null: no lock).
    // deviceId, width and height are the window's at creation; mouse touches scale by the size each call
    // brings, and the key-mapping file does not depend on the device, so none of them is kept.
    TouchController(SOCKET socket, int32_t deviceId, int32_t width, int32_t height, std::mutex* sendMutex);
    ~TouchController();

    TouchController(const TouchController&) = delete;
    TouchController& operator=(const TouchController&) = delete;

    // Takes one whole frame; its result is not looked at.
    using FrameWriter = std::function<int32_t(const uint8_t* frame, uint32_t length)>;
    // From now on touch frames go to writer instead of the socket (the device queues them for its own send
    // thread, so the window thread never waits on the device).
    void setFrameWriter(FrameWriter writer) { writer_ = std::move(writer); }

    // Reads the key-mapping file into the table; a missing file leaves the table empty.
    bool loadConfig();
    // Records a key going down or up; unregistered keys are not tracked. Always true.
    bool setKeyState(uint32_t keyCode, bool down);
    // Runs the record matching the held keys; false when no record matches.
    bool handleKey(int32_t action);
    void setMouseDown(bool down);
    bool isMouseDown() const;

    // One touch frame (code 111) with the coordinates as given. Send failures are not reported.
    void sendTouch(SOCKET socket, int32_t action, int32_t x, int32_t y);
    // One touch frame with x and y as 65536ths of width and height; nothing when either is 0 or
    // negative.
    void sendScaledTouch(SOCKET socket, int32_t action, int32_t x, int32_t y, int32_t width, int32_t height);
    // A down at the start, 51 moves in 50 equal steps, an up exactly at the end, back to back.
    void slide(int32_t x0, int32_t y0, int32_t x1, int32_t y1);

private:
    SOCKET socket_;
    std::mutex* sendMutex_;
    FrameWriter writer_;
    OperationTable table_;
    bool mouseDown_ = false;
};
