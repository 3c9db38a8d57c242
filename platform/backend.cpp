// Picks the window backend and answers the questions that do not need a window.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/headlesswindow.h"
#include "platform/window.h"
#include "platform/windowlimits.h"
#include "platform/x11window.h"

namespace platform {

namespace {

constexpr Rect kHeadlessWorkArea{0, 0, 1920, 1080};

}  // namespace

bool withinLimits(const Rect& rect) {
    auto coordinateOk = [](int32_t v) { return v >= -kMaxWindowCoordinate && v <= kMaxWindowCoordinate; };
    auto sideOk = [](int32_t v) { return v >= 1 && v <= kMaxWindowSide; };
    return coordinateOk(rect.x) && coordinateOk(rect.y) && sideOk(rect.width) && sideOk(rect.height);
}

Rect clampToLimits(const Rect& rect) {
    return Rect{std::clamp(rect.x, -kMaxWindowCoordinate, kMaxWindowCoordinate),
                std::clamp(rect.y, -kMaxWindowCoordinate, kMaxWindowCoordinate),
                std::clamp(rect.width, 1, kMaxWindowSide), std::clamp(rect.height, 1, kMaxWindowSide)};
}

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
    if (forced && std::strcmp(forced, "headless") == 0) return Backend::Headless;
    if (forced && std::strcmp(forced, "x11") == 0) return Backend::X11;
    const char* display = std::getenv("DISPLAY");
    return display && *display ? Backend::X11 : Backend::Headless;
}

Rect desktopWorkArea() {
    return selectedBackend() == Backend::X11 ? X11Window::workArea() : kHeadlessWorkArea;
}

std::unique_ptr<Window> Window::create(const Rect& rect, ShowState initialState) {
    const Rect bounded = clampToLimits(rect);
    if (selectedBackend() == Backend::X11) return X11Window::make(bounded, initialState);
    return std::make_unique<HeadlessWindow>(bounded, initialState);
}

}  // namespace platform
