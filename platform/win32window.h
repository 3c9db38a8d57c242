// The Windows backend: a real Win32 window of class "TEST", made and pumped on the device's window thread.
// Input arrives as the thread's own Win32 messages; moves, show states and repaints from other threads go
// through Win32 itself (SetWindowPos and ShowWindow are served by the owner's message loop), and a quit is a
// posted message, so the loop sleeps in GetMessage until there is something to do.
#pragma once

#include <memory>

#include "platform/gdipaint.h"
#include "platform/window.h"  // includes windows.h

namespace platform {

class Win32Window final : public Window {
public:
    // Registers the window class on first use. Null when the class or the window cannot be made.
    static std::unique_ptr<Window> make(const Rect& rect, ShowState initialState);
    // The desktop work area, SystemParametersInfo(SPI_GETWORKAREA).
    static Rect workArea();

    ~Win32Window() override;

    bool getMessage(Message& out) override;
    void postMessage(const Message& message) override;
    void quit() override;
    bool setPosition(const Rect& rect) override;
    bool setState(ShowState state) override;
    using Window::present;
    void present(std::shared_ptr<const Picture> picture, const Rect& changed) override;
    uint64_t nativeId() const override { return reinterpret_cast<uintptr_t>(hwnd_); }

private:
    Win32Window(HWND hwnd, const Rect& rect, ShowState state);
    static LRESULT CALLBACK wndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void paint();
    void endLoop();

    // Never changes after creation; a handle whose window was destroyed fails every call made with it.
    const HWND hwnd_;

    // Window thread only.
    MSG retrieved_{};  // the message last handed to the caller, dispatched at the next getMessage
    bool dispatchDue_ = false;
    bool ended_ = false;
    GdiImage image_;  // the paints' off-screen band of rows, the client area's width
};

}  // namespace platform
