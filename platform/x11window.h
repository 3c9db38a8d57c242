// The X11 backend: one Display connection per window, opened and pumped on the window's thread. Requests
// from other threads are queued and carried out on that thread, which a wake-up descriptor rouses from its
// wait on the X connection.
#pragma once

#include <X11/Xlib.h>

#include <bitset>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "platform/x11shmimage.h"

namespace platform {

class X11Window final : public Window {
public:
    // Null when the display cannot be opened or the window cannot be made.
    static std::unique_ptr<Window> make(const Rect& rect, ShowState initialState);
    // The work area of the current desktop (_NET_WORKAREA), else the whole screen; empty without a display.
    static Rect workArea();

    ~X11Window() override;

    bool getMessage(Message& out) override;
    void postMessage(const Message& message) override;
    void quit() override;
    bool setPosition(const Rect& rect) override;
    bool setState(ShowState state) override;
    using Window::present;
    void present(std::shared_ptr<const Picture> picture, const Rect& changed) override;
    uint64_t nativeId() const override { return window_; }

private:
    struct Request {
        std::function<bool()> apply;
        bool done = false;
        bool result = false;
    };

    X11Window(Display* display, ::Window window, int wakeFd, const Rect& rect, ShowState state);

    // Runs apply on the window's thread and returns its result; false once the message loop has ended.
    bool runOnWindowThread(std::function<bool()> apply);
    void serveRequests();
    void endRequests();
    void wake();
    bool translate(XEvent& event, Message& out);
    void paint();
    // The shared image's pixels, a band of rows of the client's width; null when the plain XPutImage path
    // has to be taken.
    uint32_t* sharedPixels(int32_t rows);
    // Puts `area` of the window from backBuffer_, which holds the window's rows from area.y on.
    bool putPlain(const Rect& area);
    bool applyPosition(const Rect& rect);
    bool applyState(ShowState state);
    void sendNetWmState(long action, Atom first, Atom second);

    Display* const display_;
    const ::Window window_;
    const int wakeFd_;  // eventfd that wakes the window thread's poll
    const std::thread::id owner_;
    const bool canDraw_;  // the visual is 24-bit true colour 0xRRGGBB
    GC gc_;
    Atom netWmState_, netWmStateMaxVert_, netWmStateMaxHorz_, netActiveWindow_;

    std::mutex mutex_;
    std::condition_variable requestDone_;            // signalled with mutex_ when a request was carried out
    std::deque<std::shared_ptr<Request>> requests_;  // guarded by mutex_
    std::deque<Message> posted_;                     // guarded by mutex_
    bool quit_ = false;                              // guarded by mutex_
    bool loopEnded_ = false;                         // guarded by mutex_
    bool repaint_ = false;                           // guarded by mutex_

    // Window thread only.
    std::bitset<256> keysDown_;  // by X keycode, to tell an auto-repeat from a first press
    int32_t clientWidth_, clientHeight_;
    X11ShmImage shm_;                   // the paint's band when the server shares memory
    std::vector<uint32_t> backBuffer_;  // the paint's band otherwise
};

}  // namespace platform
