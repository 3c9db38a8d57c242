#include "platform/win32window.h"

#include <mutex>

#include "platform/gdipaint.h"
#include "platform/stretch.h"
#include "platform/windowlimits.h"

namespace platform {

namespace {

constexpr const char* kClassName = "TEST";
constexpr const char* kTitle = "NAME";
// Posted by quit(): ends the loop after every message posted before it.
constexpr UINT kQuitMessage = WM_APP + 1;
// Caption, system menu and sizing border: a device window is a bare rectangle.
constexpr LONG_PTR kFrameStyles = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;

// The class is registered once per process; later windows reuse it.
std::mutex classMutex;
bool classRegistered = false;  // guarded by classMutex

bool registerClass(WNDPROC procedure) {
    std::lock_guard lock(classMutex);
    if (classRegistered) return true;
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kClassName;
    classRegistered = RegisterClassA(&windowClass) != 0;
    return classRegistered;
}

int showCommand(ShowState state) {
    switch (state) {
        case ShowState::Minimized:
            return SW_SHOWMINIMIZED;
        case ShowState::Maximized:
            return SW_SHOWMAXIMIZED;
        case ShowState::Normal:
            break;
    }
    return SW_SHOWNORMAL;
}

}  // namespace

std::unique_ptr<Window> Win32Window::make(const Rect& rect, ShowState initialState) {
    if (!registerClass(wndProc)) return nullptr;
    HWND hwnd = CreateWindowExA(0, kClassName, kTitle, 0, rect.x, rect.y, rect.width, rect.height, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!hwnd) return nullptr;
    std::unique_ptr<Win32Window> window(new Win32Window(hwnd, rect, initialState));
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window.get()));
    ShowWindow(hwnd, showCommand(initialState));
    UpdateWindow(hwnd);
    return window;
}

Rect Win32Window::workArea() {
    RECT area{};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return Rect{};
    return Rect{area.left, area.top, area.right - area.left, area.bottom - area.top};
}

Win32Window::Win32Window(HWND hwnd, const Rect& rect, ShowState state) : Window(rect, state), hwnd_(hwnd) {}

Win32Window::~Win32Window() {
    // Normally gone already: the loop destroys the window on its own thread when it ends.
    if (IsWindow(hwnd_) && GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) endLoop();
}

bool Win32Window::getMessage(Message& out) {
    if (dispatchDue_) {
        dispatchDue_ = false;
        TranslateMessage(&retrieved_);
        DispatchMessageA(&retrieved_);
    }
    if (ended_) return false;
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1 || (msg.hwnd == hwnd_ && msg.message == kQuitMessage)) {
        endLoop();
        return false;
    }
    retrieved_ = msg;
    dispatchDue_ = true;
    out = Message{msg.message, msg.wParam, msg.lParam};
    return true;
}

// Destroys the window on its own thread (the only one allowed to); later calls from other threads fail on
// the stale handle instead of waiting for a loop that is gone.
void Win32Window::endLoop() {
    ended_ = true;
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    image_.release();
}

void Win32Window::postMessage(const Message& message) {
    PostMessageA(hwnd_, message.message, message.wParam, message.lParam);
}

void Win32Window::quit() {
    PostMessageA(hwnd_, kQuitMessage, 0, 0);
}

bool Win32Window::setPosition(const Rect& rect) {
    if (!withinLimits(rect)) return false;
    if (!SetWindowPos(hwnd_, nullptr, rect.x, rect.y, rect.width, rect.height, SWP_NOZORDER)) return false;
    recordGeometry(rect);
    return true;
}

bool Win32Window::setState(ShowState state) {
    if (!IsWindow(hwnd_)) return false;
    switch (state) {
        case ShowState::Minimized:
            ShowWindow(hwnd_, SW_MINIMIZE);
            break;
        case ShowState::Maximized:
            ShowWindow(hwnd_, SW_MAXIMIZE);
            break;
        case ShowState::Normal:
            ShowWindow(hwnd_, SW_RESTORE);
            SetForegroundWindow(hwnd_);
            break;
    }
    // ShowWindow answers with the previous visibility, not success: a window still there took the request.
    if (!IsWindow(hwnd_)) return false;
    recordState(state);
    return true;
}

// Only the stretched image of the change is invalidated; Windows gathers what presents and the system
// invalidate into the next WM_PAINT's rectangle.
void Win32Window::present(std::shared_ptr<const Picture> picture, const Rect& changed) {
    const int32_t width = picture ? picture->width : 0, height = picture ? picture->height : 0;
    const Rect added = keepPicture(std::move(picture), changed);
    RECT client{};
    if (added.empty() || !GetClientRect(hwnd_, &client)) return;
    const Rect area =
        stretchedArea(added, width, height, client.right - client.left, client.bottom - client.top);
    if (area.empty()) return;
    const RECT invalid{area.x, area.y, area.x + area.width, area.y + area.height};
    InvalidateRect(hwnd_, &invalid, FALSE);
}

void Win32Window::paint() {
    PAINTSTRUCT paintStruct;
    HDC hdc = BeginPaint(hwnd_, &paintStruct);
    if (!hdc) return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int32_t width = client.right - client.left, height = client.bottom - client.top;
    const PaintJob job = nextPaint(width, height);
    // Without a picture of its own the window leaves its content alone: an H.264 library draws into it
    // directly, and a black fill here would wipe its newest picture until the next one.
    if (job.picture) {
        const Rect whole{0, 0, width, height};
        const RECT& asked = paintStruct.rcPaint;
        Rect area = intersect(
            unite(job.area, Rect{asked.left, asked.top, asked.right - asked.left, asked.bottom - asked.top}),
            whole);
        // A band at a time: the window keeps only one band of pixels, and a presenter writing into the
        // picture waits for one band's stretch at most.
        const int32_t rows = bandRows(width, height);
        bool made = false;
        uint32_t* pixels = area.empty() ? nullptr : image_.pixels(hdc, width, rows, made);
        if (!area.empty() && (!pixels || !forEachBand(area, rows, [&](const Rect& band) {
                stretchBand(*job.picture, pixels, width, height, band);
                return image_.put(hdc, band, band.y);
            }))) {
            repaintAll();
        }
    }
    EndPaint(hwnd_, &paintStruct);
}

LRESULT CALLBACK Win32Window::wndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
        case WM_DESTROY:
        case WM_NCPAINT:
        case WM_LBUTTONDOWN:
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_SIZE: {
            const LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
            if (style & kFrameStyles) {
                SetWindowLongPtrA(hwnd, GWL_STYLE, style & ~kFrameStyles);
                // The frame goes at once, so the client area is the whole window.
                SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                             SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            return 0;
        }
        case WM_PAINT:
            if (auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
                self->paint();
                return 0;
            }
            break;
        case WM_CLOSE:
            // Only the controller closes a device window (DisConnect, Exit), never Alt+F4.
            return 0;
        case WM_SYSCOMMAND:
            // Alt alone or F10 would enter the menu bar of a window that has none.
            if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;
            break;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace platform
