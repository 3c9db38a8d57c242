// What the X server shows: the client's device windows, their place and state, and screen pixels.
#pragma once

#include <cstdint>
#include <vector>

struct _XDisplay;

class XScreen {
public:
    using WindowId = unsigned long;
    struct Geometry {
        int x, y, width, height;
        bool operator==(const Geometry&) const = default;
    };

    XScreen();
    ~XScreen();
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    bool ok() const { return display_ != nullptr; }
    // The client's windows that are mapped and viewable, ordered by their left edge.
    std::vector<WindowId> deviceWindows();
    Geometry geometry(WindowId window);
    bool viewable(WindowId window);
    // The pixel at (x, y) of the screen as 0xRRGGBB.
    uint32_t pixel(int x, int y);
    // width pixels of the screen from (x, y) rightwards, as 0xRRGGBB, in one request.
    std::vector<uint32_t> row(int x, int y, int width);
    // Pixels of the screen inside the window at window coordinates (x, y).
    uint32_t windowPixel(WindowId window, int x, int y);

private:
    void collect(WindowId parent, int depth, std::vector<WindowId>* found);

    _XDisplay* display_ = nullptr;
};
