#include "platform/headlesswindow.h"

#include "platform/stretch.h"
#include "platform/windowlimits.h"

namespace platform {

HeadlessWindow::HeadlessWindow(const Rect& rect, ShowState initialState) : Window(rect, initialState) {}

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
        if (posted_.size() >= kMaxPostedMessages) return;
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
    recordGeometry(rect);
    return true;
}

bool HeadlessWindow::setState(ShowState state) {
    recordState(state);
    return true;
}

void HeadlessWindow::present(std::shared_ptr<const Picture> picture, const Rect& changed) {
    keepPicture(std::move(picture), changed);
}

Rect HeadlessWindow::paint() {
    const Rect window = geometry();
    const PaintJob job = nextPaint(window.width, window.height);
    if (job.area.empty()) return Rect{};
    sizeImage(image_, static_cast<size_t>(window.width) * window.height);
    // A band at a time, as a window on a display paints, so that a presenter writing into the picture waits
    // for one band at most.
    forEachBand(job.area, bandRows(window.width, window.height), [&](const Rect& band) {
        stretchBand(*job.picture, image_.data() + static_cast<size_t>(band.y) * window.width, window.width,
                    window.height, band);
        return true;
    });
    return job.area;
}

}  // namespace platform
