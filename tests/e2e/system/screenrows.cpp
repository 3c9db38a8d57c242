#include "tests/e2e/system/screenrows.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

ScreenRows::ScreenRows() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    // The probe reads 32-bit pixels: a screen of another depth is not one it can read.
    if (!screens.rem || screens.data->root_depth != 24) {
        xcb_disconnect(connection);
        return;
    }
    root_ = screens.data->root;
    connection_ = connection;
}

ScreenRows::~ScreenRows() {
    for (Span& s : spans_)
        free(s.reply);
    if (connection_) xcb_disconnect(connection_);
}

int ScreenRows::add(int x, int y, int width) {
    spans_.push_back({x, y, width, nullptr});
    return static_cast<int>(spans_.size()) - 1;
}

bool ScreenRows::read() {
    std::vector<xcb_get_image_cookie_t> cookies;
    for (const Span& s : spans_) {
        cookies.push_back(xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_,
                                        static_cast<int16_t>(s.x), static_cast<int16_t>(s.y),
                                        static_cast<uint16_t>(s.width), 1, ~0u));
    }
    bool all = true;
    for (size_t i = 0; i < spans_.size(); ++i) {
        Span& s = spans_[i];
        free(s.reply);
        xcb_generic_error_t* error = nullptr;
        s.reply = xcb_get_image_reply(connection_, cookies[i], &error);
        free(error);
        if (s.reply && xcb_get_image_data_length(s.reply) < s.width * 4) {
            free(s.reply);
            s.reply = nullptr;
        }
        all = all && s.reply;
    }
    return all;
}

uint32_t ScreenRows::pixel(int span, int x) const {
    const Span& s = spans_[static_cast<size_t>(span)];
    if (!s.reply || x < s.x || x >= s.x + s.width) return 0;
    uint32_t value;
    memcpy(&value, xcb_get_image_data(s.reply) + (x - s.x) * 4, 4);
    return value & 0xFFFFFF;
}
