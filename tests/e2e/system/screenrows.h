// Reads chosen spans of rows of the X screen over and over, as cheaply as the server allows: the requests for
// all spans go out together and their answers come back together, so that a sweep waits for the X server
// once, however many rows it reads (on a busy machine each wait for another process is long).
#pragma once

#include <cstdint>
#include <vector>

struct xcb_connection_t;
struct xcb_get_image_reply_t;

class ScreenRows {
public:
    ScreenRows();
    ~ScreenRows();
    ScreenRows(const ScreenRows&) = delete;
    ScreenRows& operator=(const ScreenRows&) = delete;

    bool ok() const { return connection_ != nullptr; }
    // Adds the span [x, x + width) of screen row y; returns its index for pixel().
    int add(int x, int y, int width);
    // Reads every span from the screen; false when the server refused one (its pixels read as black).
    bool read();
    // The pixel at screen column x of span `span` from the last read(), as 0xRRGGBB.
    uint32_t pixel(int span, int x) const;

private:
    struct Span {
        int x, y, width;
        xcb_get_image_reply_t* reply;  // the last read's pixels, 32 bits each; null when refused
    };

    xcb_connection_t* connection_ = nullptr;
    uint32_t root_ = 0;
    std::vector<Span> spans_;
};
