#include "platform/window.h"

#include <algorithm>

#include "platform/headlesswindow.h"
#include "platform/stretch.h"
#include "platform/windowlimits.h"
#ifdef _WIN32
#include "platform/win32window.h"
#else
#include "platform/x11window.h"
#endif

namespace platform {

Rect intersect(const Rect& a, const Rect& b) {
    const int64_t left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const int64_t right = std::min(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    const int64_t bottom = std::min(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    if (a.empty() || b.empty() || right <= left || bottom <= top) return Rect{};
    return Rect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
                static_cast<int32_t>(bottom - top)};
}

Rect unite(const Rect& a, const Rect& b) {
    if (a.empty()) return b.empty() ? Rect{} : b;
    if (b.empty()) return a;
    const int32_t left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int64_t right = std::max(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    const int64_t bottom = std::max(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    return Rect{left, top, static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
}

Window::Window(const Rect& rect, ShowState state) : geometry_(rect), state_(state) {}

Rect Window::geometry() const {
    std::lock_guard lock(mutex_);
    return geometry_;
}

ShowState Window::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::shared_ptr<Picture> makeWrittenInPlace(int32_t width, int32_t height, PixelFormat format, size_t slack) {
    auto picture = std::make_shared<Picture>();
    picture->width = width;
    picture->height = height;
    picture->format = format;
    picture->pixels.resize(static_cast<size_t>(width) * height * 4 + slack);
    picture->pixelsLock = std::make_shared<std::mutex>();
    return picture;
}

std::shared_ptr<const Picture> Window::presented() const {
    std::shared_ptr<const Picture> picture;
    {
        std::lock_guard lock(mutex_);
        picture = picture_;
    }
    if (!picture || !picture->pixelsLock) return picture;
    auto copy = std::make_shared<Picture>();
    std::lock_guard pixels(*picture->pixelsLock);
    copy->width = picture->width;
    copy->height = picture->height;
    copy->format = picture->format;
    copy->pixels = picture->pixels;
    return copy;
}

void Window::recordGeometry(const Rect& rect) {
    std::lock_guard lock(mutex_);
    geometry_ = rect;
}

void Window::recordState(ShowState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}

void Window::present(std::shared_ptr<const Picture> picture) {
    const Rect whole = picture ? Rect{0, 0, picture->width, picture->height} : Rect{};
    present(std::move(picture), whole);
}

void Window::keepPicture(std::shared_ptr<const Picture> picture) {
    const Rect whole = picture ? Rect{0, 0, picture->width, picture->height} : Rect{};
    keepPicture(std::move(picture), whole);
}

Rect Window::keepPicture(std::shared_ptr<const Picture> picture, const Rect& changed) {
    const Rect whole = picture ? Rect{0, 0, picture->width, picture->height} : Rect{};
    std::lock_guard lock(mutex_);
    // Another size or byte order reads every pixel differently.
    const bool resized = !picture_ || !picture || picture_->width != picture->width ||
                         picture_->height != picture->height || picture_->format != picture->format;
    const Rect added = resized ? whole : intersect(changed, whole);
    changed_ = resized ? whole : unite(changed_, added);
    picture_ = std::move(picture);
    return added;
}

Window::PaintJob Window::nextPaint(int32_t width, int32_t height) {
    PaintJob job;
    Rect changed;
    {
        std::lock_guard lock(mutex_);
        job.picture = picture_;
        changed = changed_;
        changed_ = Rect{};
    }
    if (!job.picture || width <= 0 || height <= 0) {
        // The changes taken here were drawn nowhere.
        paintAll_ = true;
        return job;
    }
    const Picture& picture = *job.picture;
    if (paintAll_ || width != paintedWidth_ || height != paintedHeight_ ||
        picture.width != paintedPictureWidth_ || picture.height != paintedPictureHeight_) {
        paintAll_ = false;
        paintedWidth_ = width;
        paintedHeight_ = height;
        paintedPictureWidth_ = picture.width;
        paintedPictureHeight_ = picture.height;
        job.area = Rect{0, 0, width, height};
        return job;
    }
    job.area = stretchedArea(changed, picture.width, picture.height, width, height);
    return job;
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
