// The device's bare window on the desktop and its message loop, run on the device's window thread. Input
// goes to the device's TouchController; control-wheel resizes, a right click turns an H.264 picture (the
// ZRC decoder takes no window changes, so a ZRC picture stays as it is).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/window.h"

class DecodeAndRender;
class Device;
class TouchController;

class DisplayWindow {
public:
    // Show states of the ChangeWindow command.
    static constexpr int32_t kStateRestore = 0;
    static constexpr int32_t kStateMinimize = 1;
    static constexpr int32_t kStateMaximize = 2;
    static constexpr int32_t kStateShowNormal = 3;

    // showCommand: the Win32 show command the window is first shown with.
    DisplayWindow(int32_t showCommand, Device* device);
    ~DisplayWindow();
    DisplayWindow(const DisplayWindow&) = delete;
    DisplayWindow& operator=(const DisplayWindow&) = delete;

    // The window thread's body: opens the window, tells the device, and serves messages until quit().
    int32_t run(int32_t x, int32_t y, int32_t width, int32_t height);
    // Makes the TouchController and the window on the calling thread, which becomes the window's thread.
    // False (after the error is reported) when no window could be made.
    bool open(int32_t x, int32_t y, int32_t width, int32_t height);
    // Any thread: ends the message loop, also when it has not started yet.
    void quit();

    // The window, null until open() made it.
    platform::Window* getHwnd() const;
    void setRenderer(DecodeAndRender* renderer);

    // Stores the rectangle and moves the window there; false when the window could not be moved.
    bool setPosition(int32_t x, int32_t y, int32_t width, int32_t height);
    // SetWindow: -1 when the window could not be moved, else 0.
    int32_t setWindow(int32_t x, int32_t y, int32_t width, int32_t height);
    // ChangeWindow: kState*; any other value changes nothing. Returns 0.
    int32_t setState(int32_t state);
    // Re-applies the stored rectangle and turns the picture to angle degrees.
    void rotate(int32_t angle);
    // Window thread: one message from the loop (or injected by a test).
    void ProcessMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // The angle the next right click turns the picture to (0, 90, 180, 270, then 0 again).
    int32_t nextRotationAngle() const { return rotationStep_.load() * 90; }
    platform::Rect rect() const;

private:
    void resizeByWheel(int16_t delta);
    // Passes a window change on to the renderer once it is known (H.264 decoders scale and turn the picture).
    void forwardToRenderer(int32_t width, int32_t height, int32_t angle);
    // Tells the renderer the size the window shows now (maximised or restored), keeping the rotation.
    void showsSize(int32_t width, int32_t height);

    const int32_t showCommand_;
    Device* const device_;
    const platform::Rect workArea_;  // the desktop work area, read once when the object is made

    mutable std::mutex mutex_;
    std::unique_ptr<platform::Window> window_;  // guarded by mutex_ while set; destroyed with this object
    bool quitRequested_ = false;                // guarded by mutex_
    DecodeAndRender* renderer_ = nullptr;       // guarded by mutex_; not owned
    platform::Rect rect_;  // guarded by mutex_; written by the control and window threads

    // Window thread only.
    std::unique_ptr<TouchController> touchController_;
    // Written by the window thread only; per window, so clicks in one window never turn another.
    std::atomic<int32_t> rotationStep_ = 0;
};
