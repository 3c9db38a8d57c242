// Reads chosen spans of rows of the X screen over and over, as cheaply as the server allows: one request per
// span, through shared memory when the server offers it.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <vector>

class ScreenRows {
public:
    ScreenRows();
    ~ScreenRows();
    ScreenRows(const ScreenRows&) = delete;
    ScreenRows& operator=(const ScreenRows&) = delete;

    bool ok() const { return display_ != nullptr; }
    // Adds the span [x, x + width) of screen row y; returns its index for pixel(). Spans are added before the
    // first read().
    int add(int x, int y, int width);
    // Reads every span from the screen; false when the server refused one.
    bool read();
    // The pixel at screen column x of span `span` from the last read(), as 0xRRGGBB.
    uint32_t pixel(int span, int x) const;
    bool shared() const { return segment_.shmaddr != nullptr; }

private:
    struct Span {
        int x, y, width;
        XImage* image;
    };
    // Puts every span's image in one shared segment; false (and nothing shared) when that cannot be done.
    bool share();

    Display* display_ = nullptr;
    bool prepared_ = false;
    std::vector<Span> spans_;
    XShmSegmentInfo segment_{};
};
