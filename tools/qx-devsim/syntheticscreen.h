// An animated phone screen: status bar, scrolling list of text-like rows, moving shapes. Each picture also
// carries its number as a row of black and white cells in the status bar, so a reader of the screen can tell
// which picture it sees. A screen that moves less (a phone left on a page with a clock, or one small area
// changing) keeps the list and shapes still.
#pragma once

#include <cstdint>

#include "tools/qx-devsim/picturesource.h"

class SyntheticScreen : public PictureSource {
public:
    using Motion = DevsimOptions::Motion;
    static constexpr int kNumberCells = 16;

    SyntheticScreen(int32_t width, int32_t height, uint32_t accent, Motion motion = Motion::Scroll);
    bool next(uint8_t* rgba) override;

    // Draws picture number n (the animation is a function of n alone).
    void draw(uint32_t n, uint8_t* rgba) const;

    // Where the number cells lie, in picture pixels: cell i spans [x + i * cellWidth, + cellWidth) across and
    // [y, y + cellHeight) down. The statusBarHeight rows at the top are in the accent colour elsewhere. On a
    // screen wide and tall enough the cells are whole 8x8 blocks on the block grid, so that a picture
    // decoded at 1/8 of its size and stretched into a small window still shows every cell.
    struct Layout {
        int32_t statusBarHeight;
        int32_t x, y, cellWidth, cellHeight;
    };
    static Layout layout(int32_t width, int32_t height);

private:
    void fill(uint8_t* rgba, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) const;
    void disc(uint8_t* rgba, int32_t cx, int32_t cy, int32_t r, uint32_t colour) const;

    int32_t width_;
    int32_t height_;
    uint32_t accent_;
    Motion motion_;
    uint32_t frame_ = 0;
};
