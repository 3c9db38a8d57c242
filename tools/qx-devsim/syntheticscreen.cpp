#include "tools/qx-devsim/syntheticscreen.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr uint32_t kBackground = 0xF4F4F4;
constexpr uint32_t kRowLine = 0xDDDDDD;
constexpr uint32_t kText = 0x666666;
constexpr uint32_t kTextLight = 0xAAAAAA;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

// A fixed pseudo-random word per list row, so every row keeps its look while it scrolls.
uint32_t rowHash(uint32_t row) {
    uint32_t h = row * 2654435761u;
    h ^= h >> 15;
    return h * 2246822519u;
}

// Triangle wave over 0..span for a bouncing position.
int32_t bounce(uint32_t t, int32_t span) {
    if (span <= 0) return 0;
    const uint32_t period = static_cast<uint32_t>(span) * 2;
    const uint32_t p = t % period;
    return static_cast<int32_t>(p < static_cast<uint32_t>(span) ? p : period - p);
}

}  // namespace

SyntheticScreen::SyntheticScreen(int32_t width, int32_t height, uint32_t accent, Motion motion)
    : width_(width), height_(height), accent_(accent), motion_(motion) {}

SyntheticScreen::Layout SyntheticScreen::layout(int32_t width, int32_t height) {
    Layout l{};
    l.statusBarHeight = std::max(8, height / 25);
    // The widest power of two up to 32 that keeps the cells within three quarters of the width.
    l.cellWidth = 1;
    while (l.cellWidth < 32 && 2 * l.cellWidth * kNumberCells <= width * 3 / 4)
        l.cellWidth *= 2;
    l.x = (width - kNumberCells * l.cellWidth) / l.cellWidth * l.cellWidth;
    if (l.statusBarHeight >= 24) {
        l.y = 8;
        l.cellHeight = (l.statusBarHeight - 8) / 8 * 8;
    } else {
        l.cellHeight = std::max(2, l.statusBarHeight / 2);
        l.y = (l.statusBarHeight - l.cellHeight) / 2;
    }
    return l;
}

bool SyntheticScreen::next(uint8_t* rgba) {
    draw(frame_++, rgba);
    return true;
}

void SyntheticScreen::fill(uint8_t* rgba, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           uint32_t colour) const {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width_);
    y1 = std::min(y1, height_);
    for (int32_t y = y0; y < y1; ++y) {
        uint8_t* p = rgba + (static_cast<size_t>(y) * width_ + x0) * 4;
        for (int32_t x = x0; x < x1; ++x, p += 4) {
            p[0] = static_cast<uint8_t>(colour >> 16);
            p[1] = static_cast<uint8_t>(colour >> 8);
            p[2] = static_cast<uint8_t>(colour);
            p[3] = 255;
        }
    }
}

void SyntheticScreen::disc(uint8_t* rgba, int32_t cx, int32_t cy, int32_t r, uint32_t colour) const {
    for (int32_t dy = -r; dy <= r; ++dy) {
        int32_t dx = 0;
        while ((dx + 1) * (dx + 1) + dy * dy <= r * r)
            ++dx;
        fill(rgba, cx - dx, cy + dy, cx + dx + 1, cy + dy + 1, colour);
    }
}

void SyntheticScreen::draw(uint32_t n, uint8_t* rgba) const {
    const Layout l = layout(width_, height_);
    fill(rgba, 0, 0, width_, height_, kBackground);
    // Only the scrolling screen moves its list and shapes; the others show them as in picture 0.
    const uint32_t picture = n;
    if (motion_ != Motion::Scroll) n = 0;

    // Scrolling list below the status bar: an avatar and two lines of "text" per row.
    const int32_t rowHeight = std::max(16, height_ / 12);
    const int32_t scroll = static_cast<int32_t>((n * static_cast<uint32_t>(std::max(1, height_ / 320))) %
                                                static_cast<uint32_t>(rowHeight * 1000));
    const int32_t firstRow = scroll / rowHeight;
    for (int32_t row = firstRow;; ++row) {
        const int32_t top = l.statusBarHeight + row * rowHeight - scroll;
        if (top >= height_) break;
        const uint32_t h = rowHash(static_cast<uint32_t>(row));
        const int32_t margin = rowHeight / 6;
        disc(rgba, margin + rowHeight / 3, top + rowHeight / 2, rowHeight / 3, (h & 0x7F7F7F) + 0x404040);
        const int32_t textX = margin * 2 + rowHeight * 2 / 3;
        const int32_t line = std::max(2, rowHeight / 8);
        const int32_t span = width_ - textX - margin;
        fill(rgba, textX, top + rowHeight / 4, textX + span * static_cast<int32_t>(40 + (h >> 8) % 50) / 100,
             top + rowHeight / 4 + line, kText);
        fill(rgba, textX, top + rowHeight / 2 + line,
             textX + span * static_cast<int32_t>(30 + (h >> 16) % 60) / 100, top + rowHeight / 2 + 2 * line,
             kTextLight);
        fill(rgba, 0, top + rowHeight - 1, width_, top + rowHeight, kRowLine);
    }

    // Moving shapes over the list.
    const int32_t r = std::max(4, width_ / 14);
    disc(rgba, r + bounce(n * 7, width_ - 2 * r), l.statusBarHeight + r + bounce(n * 5, height_ / 2 - 2 * r),
         r, 0xE2574C);
    const int32_t side = std::max(4, width_ / 8);
    const int32_t sx = bounce(n * 3, width_ - side);
    const int32_t sy = height_ / 2 + bounce(n * 4, height_ / 2 - side);
    fill(rgba, sx, sy, sx + side, sy + side, 0x3BB273);

    // A small area that changes with every picture: a square (an eighth of the width) cycling its colour.
    if (motion_ == Motion::Area) {
        static constexpr uint32_t kSpinner[] = {0xE2574C, 0x3BB273, 0x2A7FD4, 0xF2B134};
        const int32_t s = std::max(4, width_ / 8);
        const int32_t x = width_ - 2 * s;
        const int32_t y = height_ - 2 * s;
        fill(rgba, x, y, x + s, y + s, kSpinner[picture % 4]);
    }

    // Status bar last, so nothing covers it: accent colour, a "clock" of small blocks left of the picture
    // number.
    fill(rgba, 0, 0, width_, l.statusBarHeight, accent_);
    const int32_t digit = std::max(2, l.statusBarHeight / 3);
    for (int32_t i = 0; i < 4; ++i) {
        const int32_t x = digit + i * digit * 3 / 2 + (i >= 2 ? digit / 2 : 0);
        fill(rgba, x, digit, x + digit, 2 * digit, kWhite);
    }
    for (int32_t i = 0; i < kNumberCells; ++i) {
        const bool bit = (picture >> (kNumberCells - 1 - i)) & 1;
        const int32_t x = l.x + i * l.cellWidth;
        fill(rgba, x, l.y, x + l.cellWidth, l.y + l.cellHeight, bit ? kWhite : kBlack);
    }
}
