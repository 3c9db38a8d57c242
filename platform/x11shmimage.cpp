#include "platform/x11shmimage.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

bool sharedMemoryWanted(Display* display) {
    const char* setting = std::getenv("QX_X11_SHM");
    return !(setting && std::strcmp(setting, "0") == 0) && XShmQueryExtension(display);
}

}  // namespace

X11ShmImage::X11ShmImage(Display* display) : display_(display), usable_(sharedMemoryWanted(display)) {
    segment_.shmid = -1;
}

X11ShmImage::~X11ShmImage() {
    release();
}

uint32_t* X11ShmImage::pixels(int32_t width, int32_t height, bool& made) {
    made = false;
    if (!usable_ || width <= 0 || height <= 0) return nullptr;
    if (image_ && image_->width == width && image_->height == height) {
        return reinterpret_cast<uint32_t*>(image_->data);
    }
    release();
    made = true;
    const int screen = DefaultScreen(display_);
    image_ =
        XShmCreateImage(display_, DefaultVisual(display_, screen), DefaultDepth(display_, screen), ZPixmap,
                        nullptr, &segment_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    // The stretch writes packed 32-bit words: any other layout goes the plain way.
    if (!image_ || image_->bits_per_pixel != 32 || image_->bytes_per_line != width * 4) {
        disable();
        return nullptr;
    }
    segment_.shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(image_->bytes_per_line) * height, IPC_CREAT | 0600);
    if (segment_.shmid < 0) {
        disable();
        return nullptr;
    }
    segment_.shmaddr = static_cast<char*>(shmat(segment_.shmid, nullptr, 0));
    // Marked for removal at once: the segment goes away when both sides have detached, even after a crash.
    shmctl(segment_.shmid, IPC_RMID, nullptr);
    if (segment_.shmaddr == reinterpret_cast<char*>(-1)) {
        segment_.shmaddr = nullptr;
        disable();
        return nullptr;
    }
    image_->data = segment_.shmaddr;
    segment_.readOnly = False;
    attached_ = XShmAttach(display_, &segment_);
    XSync(display_, False);
    if (!attached_) {
        disable();
        return nullptr;
    }
    return reinterpret_cast<uint32_t*>(image_->data);
}

void X11ShmImage::put(::Window window, GC gc, const Rect& area, int32_t top) {
    XShmPutImage(display_, window, gc, image_, area.x, area.y - top, area.x, area.y,
                 static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), False);
    XSync(display_, False);
}

void X11ShmImage::disable() {
    release();
    usable_ = false;
}

void X11ShmImage::release() {
    if (attached_) {
        XShmDetach(display_, &segment_);
        XSync(display_, False);
        attached_ = false;
    }
    if (image_) {
        image_->data = nullptr;  // the segment is not Xlib's to free
        XDestroyImage(image_);
        image_ = nullptr;
    }
    if (segment_.shmaddr) shmdt(segment_.shmaddr);
    segment_ = XShmSegmentInfo{};
    segment_.shmid = -1;
}

}  // namespace platform
