#include "platform/headlesswindow.h"

#include "platform/windowlimits.h"

namespace platform {

HeadlessWindow::HeadlessWindow(const Rect& rect, ShowState initialState)
    : geometry_(rect), state_(initialState) {}

bool HeadlessWindow::getMessage(Message& out) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !posted_.empty() || quit_; });
    if (posted_.empty()) return false;
    out = posted_.front();
    posted_.pop_front();
    return true;
}

void HeadlessWindow::postMessage(const Message& message) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(message);
    }
    changed_.notify_all();
}

void HeadlessWindow::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
}

bool HeadlessWindow::setPosition(const Rect& rect) {
    if (!withinLimits(rect)) return false;
    std::lock_guard lock(mutex_);
    geometry_ = rect;
    return true;
}

bool HeadlessWindow::setState(ShowState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
    return true;
}

void HeadlessWindow::present(std::shared_ptr<const Picture> picture) {
    std::lock_guard lock(mutex_);
    picture_ = std::move(picture);
}

Rect HeadlessWindow::geometry() const {
    std::lock_guard lock(mutex_);
    return geometry_;
}

ShowState HeadlessWindow::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::shared_ptr<const Picture> HeadlessWindow::presented() const {
    std::lock_guard lock(mutex_);
    return picture_;
}

}  // namespace platform
