#include "tests/e2e/system/screenrows.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

// A window that goes away while it is read must not end the probe (Xlib's default handler exits).
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

ScreenRows::ScreenRows() : display_(XOpenDisplay(nullptr)) {
    XSetErrorHandler(ignoreError);
    segment_.shmid = -1;
}

ScreenRows::~ScreenRows() {
    if (segment_.shmaddr) {
        XShmDetach(display_, &segment_);
        XSync(display_, False);
    }
    for (Span& s : spans_) {
        if (!s.image) continue;
        if (segment_.shmaddr) s.image->data = nullptr;  // the segment's, not Xlib's to free
        XDestroyImage(s.image);
    }
    if (segment_.shmaddr) shmdt(segment_.shmaddr);
    if (display_) XCloseDisplay(display_);
}

int ScreenRows::add(int x, int y, int width) {
    spans_.push_back({x, y, width, nullptr});
    return static_cast<int>(spans_.size()) - 1;
}

bool ScreenRows::share() {
    if (!XShmQueryExtension(display_)) return false;
    const int screen = DefaultScreen(display_);
    size_t total = 0;
    for (Span& s : spans_) {
        s.image = XShmCreateImage(display_, DefaultVisual(display_, screen), DefaultDepth(display_, screen),
                                  ZPixmap, nullptr, &segment_, static_cast<unsigned>(s.width), 1);
        if (!s.image) return false;
        total += static_cast<size_t>(s.image->bytes_per_line);
    }
    segment_.shmid = shmget(IPC_PRIVATE, total, IPC_CREAT | 0600);
    if (segment_.shmid < 0) return false;
    char* base = static_cast<char*>(shmat(segment_.shmid, nullptr, 0));
    // Removed once both sides have detached, even when the probe is killed.
    shmctl(segment_.shmid, IPC_RMID, nullptr);
    if (base == reinterpret_cast<char*>(-1)) return false;
    segment_.readOnly = False;
    segment_.shmaddr = base;
    if (!XShmAttach(display_, &segment_)) {
        shmdt(base);
        segment_.shmaddr = nullptr;
        return false;
    }
    XSync(display_, False);
    size_t offset = 0;
    for (Span& s : spans_) {
        s.image->data = base + offset;
        offset += static_cast<size_t>(s.image->bytes_per_line);
    }
    return true;
}

bool ScreenRows::read() {
    if (!prepared_) {
        prepared_ = true;
        if (!share()) {
            for (Span& s : spans_) {
                if (s.image) s.image->data = nullptr;
                if (s.image) XDestroyImage(s.image);
                s.image = nullptr;
            }
        }
    }
    const Window root = DefaultRootWindow(display_);
    bool all = true;
    for (Span& s : spans_) {
        if (segment_.shmaddr) {
            all = XShmGetImage(display_, root, s.image, s.x, s.y, AllPlanes) && all;
            continue;
        }
        XImage* image =
            XGetImage(display_, root, s.x, s.y, static_cast<unsigned>(s.width), 1, AllPlanes, ZPixmap);
        if (!image) {
            all = false;
            continue;
        }
        if (s.image) XDestroyImage(s.image);
        s.image = image;
    }
    return all;
}

uint32_t ScreenRows::pixel(int span, int x) const {
    const Span& s = spans_[static_cast<size_t>(span)];
    if (!s.image || x < s.x || x >= s.x + s.width) return 0;
    if (s.image->bits_per_pixel == 32 && s.image->byte_order == LSBFirst)
        return reinterpret_cast<const uint32_t*>(s.image->data)[x - s.x] & 0xFFFFFF;
    return static_cast<uint32_t>(XGetPixel(s.image, x - s.x, 0)) & 0xFFFFFF;
}
