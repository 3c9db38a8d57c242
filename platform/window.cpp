#include "platform/window.h"

#include "platform/headlesswindow.h"
#include "platform/windowlimits.h"
#ifdef _WIN32
#include "platform/win32window.h"
#else
#include "platform/x11window.h"
#endif

namespace platform {

Window::Window(const Rect& rect, ShowState state) : geometry_(rect), state_(state) {}

Rect Window::geometry() const {
    std::lock_guard lock(mutex_);
    return geometry_;
}

ShowState Window::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::shared_ptr<const Picture> Window::presented() const {
    std::lock_guard lock(mutex_);
    return picture_;
}

void Window::recordGeometry(const Rect& rect) {
    std::lock_guard lock(mutex_);
    geometry_ = rect;
}

void Window::recordState(ShowState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}

void Window::keepPicture(std::shared_ptr<const Picture> picture) {
    std::lock_guard lock(mutex_);
    picture_ = std::move(picture);
}

std::unique_ptr<Window> Window::create(const Rect& rect, ShowState initialState) {
    const Rect bounded = clampToLimits(rect);
#ifdef _WIN32
    if (selectedBackend() == Backend::Win32) return Win32Window::make(bounded, initialState);
#else
    if (selectedBackend() == Backend::X11) return X11Window::make(bounded, initialState);
#endif
    return std::make_unique<HeadlessWindow>(bounded, initialState);
}

}  // namespace platform
