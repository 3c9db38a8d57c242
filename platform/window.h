// One top-level window per device, created and pumped on the device's window thread. It keeps the Win32
// message model inside the program: input arrives as Win32 messages with Windows virtual-key codes, so key
// maps written for the Windows client work unchanged and tests inject exactly what Windows would deliver.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#ifdef _WIN32
// windows.h defines the message and show-command names below as macros. It is included here, before the
// constants, and those macros are dropped, so the names mean the same (equal) values in every file whatever
// the order of its includes; Windows code outside namespace platform spells them platform::WM_PAINT etc.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef WM_PAINT
#undef WM_KEYDOWN
#undef WM_KEYUP
#undef WM_SYSKEYDOWN
#undef WM_SYSKEYUP
#undef WM_MOUSEMOVE
#undef WM_LBUTTONDOWN
#undef WM_LBUTTONUP
#undef WM_RBUTTONUP
#undef WM_MOUSEWHEEL
#undef WM_USER
#undef MK_LBUTTON
#undef MK_SHIFT
#undef MK_CONTROL
#undef WHEEL_DELTA
#undef SW_HIDE
#undef SW_SHOWNORMAL
#undef SW_SHOWMINIMIZED
#undef SW_SHOWMAXIMIZED
#undef SW_MINIMIZE
#undef SW_SHOWMINNOACTIVE
#endif

namespace platform {

// Win32 message numbers the client handles.
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_SYSKEYUP = 0x0105;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_MOUSEWHEEL = 0x020A;
constexpr uint32_t WM_USER = 0x0400;
// Posted by the renderer to hand itself to the window; lParam is the renderer.
constexpr uint32_t WM_SET_RENDERER = WM_USER + 101;

// Modifier bits in wParam of mouse messages.
constexpr uintptr_t MK_LBUTTON = 0x0001;
constexpr uintptr_t MK_SHIFT = 0x0004;
constexpr uintptr_t MK_CONTROL = 0x0008;
constexpr int16_t WHEEL_DELTA = 120;

// Win32 show commands a window may first be shown with (the process's start-up show state).
constexpr int32_t SW_HIDE = 0;
constexpr int32_t SW_SHOWNORMAL = 1;
constexpr int32_t SW_SHOWMINIMIZED = 2;
constexpr int32_t SW_SHOWMAXIMIZED = 3;
constexpr int32_t SW_MINIMIZE = 6;
constexpr int32_t SW_SHOWMINNOACTIVE = 7;

struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// lParam of mouse messages: x in the low 16 bits, y in the high 16 bits, each signed.
constexpr intptr_t makePointLParam(int32_t x, int32_t y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
                                 static_cast<uint16_t>(x));
}
constexpr int16_t pointX(intptr_t lParam) {
    return static_cast<int16_t>(lParam & 0xFFFF);
}
constexpr int16_t pointY(intptr_t lParam) {
    return static_cast<int16_t>((lParam >> 16) & 0xFFFF);
}
// wParam of WM_MOUSEWHEEL: signed delta in the high word, MK_* bits in the low word.
constexpr uintptr_t makeWheelWParam(int16_t delta, uintptr_t keys) {
    return (static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16) | (keys & 0xFFFF);
}
constexpr int16_t wheelDelta(uintptr_t wParam) {
    return static_cast<int16_t>((wParam >> 16) & 0xFFFF);
}

struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
    bool empty() const { return width <= 0 || height <= 0; }
};

// The common part of two rectangles; empty when they do not overlap.
Rect intersect(const Rect& a, const Rect& b);
// The smallest rectangle holding both; an empty one adds nothing.
Rect unite(const Rect& a, const Rect& b);

enum class ShowState { Normal, Minimized, Maximized };

// The state a window is first shown in for a Win32 show command; anything not minimised or maximised shows
// the window normally (a device window that starts hidden could never be reached).
ShowState showStateFromCommand(int32_t showCommand);

enum class PixelFormat {
    Bgrx,  // bytes B, G, R, unused (a 32-bit 0x00RRGGBB on little-endian)
    Rgbx,  // bytes R, G, B, unused
};

// A decoded picture: width x height pixels of 4 bytes, rows top to bottom, no gap between rows.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    PixelFormat format = PixelFormat::Bgrx;
    std::vector<uint8_t> pixels;
    // Null: the pixels never change once the picture is presented. Set when the presenter goes on writing
    // them in place (one buffer per stream instead of a whole copy per present): every write and every read
    // of the pixels holds this lock, each for a bounded piece of work (a render, one band of a paint).
    std::shared_ptr<std::mutex> pixelsLock;
};

// A zeroed width x height picture of `format` that its presenter writes in place (with a pixelsLock), with
// `slack` bytes past its last pixel. Throws std::bad_alloc when there is no memory for it.
std::shared_ptr<Picture> makeWrittenInPlace(int32_t width, int32_t height, PixelFormat format,
                                            size_t slack = 0);

// Which implementation backs the windows. Linux: "x11" when DISPLAY is set, else "headless";
// QX_WINDOW=headless|x11 forces one. Windows: "win32" unless QX_WINDOW=headless.
enum class Backend { Headless, X11, Win32 };
Backend selectedBackend();

// The desktop work area (the screen less panels and docks) of the selected backend.
Rect desktopWorkArea();

class Window {
public:
    // Makes a bare window (no caption or border) at rect and shows it in the given state. Must be called on
    // the thread that will pump it; null when no window could be made (for example no X display).
    static std::unique_ptr<Window> create(const Rect& rect, ShowState initialState);

    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Window thread: blocks until a message is there. Posted messages are returned before a quit takes
    // effect; after quit() it returns false (and keeps returning false).
    virtual bool getMessage(Message& out) = 0;

    // Any thread. A queue that holds kMaxPostedMessages already drops the message, as a full Win32 queue
    // refuses it.
    virtual void postMessage(const Message& message) = 0;
    static constexpr size_t kMaxPostedMessages = 10000;
    // Any thread: ends the message loop; the window disappears from the screen.
    virtual void quit() = 0;
    // Any thread; applied on the window's thread. False when the request could not be carried out.
    virtual bool setPosition(const Rect& rect) = 0;
    // Any thread; applied on the window's thread. Normal also raises and activates the window.
    virtual bool setState(ShowState state) = 0;
    // Any thread: hands over the newest picture (newest wins, no queue) and asks for a repaint, which the
    // window's thread draws stretched nearest-neighbour to the client area. Never waits for a paint.
    void present(std::shared_ptr<const Picture> picture);
    // Any thread: as present(picture), telling that only `changed` (in picture pixels) differs from the
    // picture presented before it; the window repaints only the stretched image of that area (the union of
    // the areas of pictures presented before a paint; the whole window when the picture's size changed or a
    // paint was asked for by the system). present(picture) means the whole picture changed. A window that
    // does not track changes repaints everything. Presenting the same picture again after writing into it
    // (see Picture::pixelsLock) tells the window what the writes changed.
    virtual void present(std::shared_ptr<const Picture> picture, const Rect& changed) = 0;
    // The native window id (the X window, the HWND), 0 for headless windows.
    virtual uint64_t nativeId() const = 0;

    // Any thread: the last rectangle and state carried out, and the newest presented picture (a copy of what
    // it holds now when its presenter goes on writing into it).
    Rect geometry() const;
    ShowState state() const;
    std::shared_ptr<const Picture> presented() const;

protected:
    Window(const Rect& rect, ShowState state);
    void recordGeometry(const Rect& rect);
    void recordState(ShowState state);
    // Keeps picture as the newest and adds changed (clipped to the picture) to the area the next paint draws;
    // a picture of another size or pixel format than the one before it counts as changed everywhere. Returns
    // the area added. keepPicture(picture) means the whole picture changed.
    Rect keepPicture(std::shared_ptr<const Picture> picture, const Rect& changed);
    void keepPicture(std::shared_ptr<const Picture> picture);

    // What a paint draws: the newest picture and the rectangle of the window (window pixels) to stretch it
    // into and put on the screen.
    struct PaintJob {
        std::shared_ptr<const Picture> picture;
        Rect area;
    };
    // Window thread: the paint of a width x height window. The area is the whole window after a change of the
    // window's or the picture's size, on the first paint and after repaintAll(); else it covers the stretched
    // image of what changed since the last paint (empty when nothing did). Empties the changed area.
    PaintJob nextPaint(int32_t width, int32_t height);
    // Window thread: the window's image was lost or the system asked for a paint; the next paint draws it
    // all.
    void repaintAll() { paintAll_ = true; }

private:
    mutable std::mutex mutex_;
    Rect geometry_;                           // guarded by mutex_
    ShowState state_;                         // guarded by mutex_
    std::shared_ptr<const Picture> picture_;  // guarded by mutex_
    Rect changed_;  // guarded by mutex_; picture pixels changed since the last paint

    // Window thread only: the sizes of the last paint, to tell when it must draw everything.
    bool paintAll_ = true;
    int32_t paintedWidth_ = 0, paintedHeight_ = 0;
    int32_t paintedPictureWidth_ = 0, paintedPictureHeight_ = 0;
};

}  // namespace platform
