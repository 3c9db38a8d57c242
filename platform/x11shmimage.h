// An image in memory shared with the X server (MIT-SHM), a band of the window's rows: a paint hands the
// server the pixels in place instead of sending every one over the connection. Window thread only.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>

#include "platform/window.h"

namespace platform {

class X11ShmImage {
public:
    // Shared memory is used when the server offers the extension and QX_X11_SHM is not "0".
    explicit X11ShmImage(Display* display);
    ~X11ShmImage();
    X11ShmImage(const X11ShmImage&) = delete;
    X11ShmImage& operator=(const X11ShmImage&) = delete;

    // The pixels (0x00RRGGBB words, rows packed) of an image of this size, made or remade as needed (made
    // is set then: the pixels hold nothing yet); null when shared memory cannot be used. The old image goes
    // before a new one is made, so a window that shrinks gives its memory back. The server learns of a new
    // segment asynchronously: the caller checks for an X error afterwards and calls disable() when there was
    // one.
    uint32_t* pixels(int32_t width, int32_t height, bool& made);
    // Copies `area` of the window from the image, which holds the window's rows from `top` on, to its place
    // in the window and waits until the server has read it, so that the pixels may be written again.
    void put(::Window window, GC gc, const Rect& area, int32_t top);
    // Stops using shared memory for good (the server cannot reach it, for example over the network).
    void disable();

private:
    void release();

    Display* const display_;
    bool usable_;
    XShmSegmentInfo segment_{};
    XImage* image_ = nullptr;
    bool attached_ = false;
};

}  // namespace platform
