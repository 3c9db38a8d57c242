// Picks the window backend and answers the questions that do not need a window.
#include <cstdlib>
#include <cstring>

#include "platform/window.h"
#ifdef _WIN32
#include "platform/win32window.h"
#else
#include "platform/x11window.h"
#endif

namespace platform {

namespace {

constexpr Rect kHeadlessWorkArea{0, 0, 1920, 1080};

}  // namespace

ShowState showStateFromCommand(int32_t showCommand) {
    switch (showCommand) {
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            return ShowState::Minimized;
        case SW_SHOWMAXIMIZED:
            return ShowState::Maximized;
        default:
            return ShowState::Normal;
    }
}

Backend selectedBackend() {
    const char* forced = std::getenv("QX_WINDOW");
#ifdef _WIN32
    return forced && std::strcmp(forced, "headless") == 0 ? Backend::Headless : Backend::Win32;
#else
    if (forced && std::strcmp(forced, "headless") == 0) return Backend::Headless;
    if (forced && std::strcmp(forced, "x11") == 0) return Backend::X11;
    const char* display = std::getenv("DISPLAY");
    return display && *display ? Backend::X11 : Backend::Headless;
#endif
}

Rect desktopWorkArea() {
    switch (selectedBackend()) {
#ifdef _WIN32
        case Backend::Win32:
            return Win32Window::workArea();
#else
        case Backend::X11:
            return X11Window::workArea();
#endif
        default:
            return kHeadlessWorkArea;
    }
}

}  // namespace platform
