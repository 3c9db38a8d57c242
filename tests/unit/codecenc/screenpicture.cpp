#include "tests/unit/codecenc/screenpicture.h"

#include <algorithm>
#include <cmath>

namespace zrctest {
namespace {

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

}  // namespace

ScreenPicture::ScreenPicture(int width, int height, uint32_t seed, Layout layout)
    : width_(width),
      height_(height),
      seed_(seed),
      layout_(layout),
      pixels_(static_cast<size_t>(width) * height * 4) {
    draw(0);
}

void ScreenPicture::put(int x, int y, uint32_t rgb) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 4];
    p[0] = static_cast<uint8_t>(rgb >> 16);
    p[1] = static_cast<uint8_t>(rgb >> 8);
    p[2] = static_cast<uint8_t>(rgb);
    p[3] = 255;
}

void ScreenPicture::fill(int x, int y, int w, int h, uint32_t rgb) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            put(i, j, rgb);
}

// Lines of glyph-like text filling the area.
void ScreenPicture::text(int x, int y, int w, int h, uint32_t& state) {
    for (int line = y; line + 7 < y + h; line += 10) {
        for (int gx = x; gx + 5 < x + w; gx += 6) {
            const uint32_t glyph = nextRandom(state);
            if ((glyph & 7) == 0) continue;  // a space
            for (int bit = 0; bit < 20; ++bit)
                if (glyph >> bit & 1) put(gx + bit % 4, line + bit / 4, 0x1D2330);
        }
    }
}

// Paragraphs of words with a blank line between them: a line ends where the next word no longer fits, and a
// paragraph's last line ends early.
void ScreenPicture::paragraphs(int x, int y, int w, int h, uint32_t& state) {
    int left = 0;  // lines left in the paragraph
    for (int line = y; line + 7 < y + h; line += 12) {
        if (left == 0) {
            left = 2 + static_cast<int>(nextRandom(state) % 6);
            continue;
        }
        --left;
        const int end =
            left > 0
                ? x + w
                : x + w / 4 +
                      static_cast<int>(nextRandom(state) % static_cast<uint32_t>(std::max(1, w / 2 + 1)));
        for (int gx = x;;) {
            const int letters = 2 + static_cast<int>(nextRandom(state) % 8);
            if (gx + letters * 6 > end) break;
            text(gx, line, letters * 6, 8, state);
            gx += letters * 6 + 6;
        }
    }
}

void ScreenPicture::draw(int step) {
    uint32_t state = seed_;
    fill(0, 0, width_, height_, 0x2E3440);
    // Title bar with a gradient.
    for (int x = 0; x < width_; ++x) {
        const uint32_t v = static_cast<uint32_t>(40 + 160 * x / std::max(1, width_ - 1));
        fill(x, 0, 1, std::min(height_, 12), v << 16 | (v / 2) << 8 | 200);
    }
    // Windows with text.
    const bool dense = layout_ == Layout::kDenseText;
    const int windows = dense ? 2 + width_ * height_ / 40000 : 1;
    for (int k = 0; k < windows; ++k) {
        const int w =
            width_ / 3 + static_cast<int>(nextRandom(state) % static_cast<uint32_t>(width_ / 3 + 1));
        const int h =
            height_ / 3 + static_cast<int>(nextRandom(state) % static_cast<uint32_t>(height_ / 3 + 1));
        const int x =
            static_cast<int>(nextRandom(state) % static_cast<uint32_t>(std::max(1, width_ - w / 2)));
        const int y =
            14 + static_cast<int>(nextRandom(state) % static_cast<uint32_t>(std::max(1, height_ - h / 2)));
        fill(x, y, w, h, 0x4C566A);
        fill(x + 1, y + 1, w - 2, h - 2, k % 2 ? 0xECEFF4 : 0xFFFFFF);
        fill(x + 1, y + 1, w - 2, 8, 0x5E81AC);
        if (dense)
            text(x + 4, y + 14, w - 8, h - 16, state);
        else
            paragraphs(x + 8, y + 16, w - 16, h - 20, state);
    }
    // A photo-like patch: smooth colours with fine noise.
    const int pw = width_ / 5, ph = height_ / 5;
    for (int y = 0; y < ph; ++y) {
        for (int x = 0; x < pw; ++x) {
            const uint32_t n = nextRandom(state) % 16;
            const uint32_t r = static_cast<uint32_t>(128 + 100 * std::sin(x * 0.07)) + n;
            const uint32_t g = static_cast<uint32_t>(128 + 100 * std::cos(y * 0.05)) + n;
            const uint32_t b = static_cast<uint32_t>(120 + (x + y) % 64);
            put(width_ - pw - 4 + x, height_ - ph - 4 + y,
                std::min(r, 255u) << 16 | std::min(g, 255u) << 8 | b);
        }
    }
    // Typed text and the pointer follow the step.
    for (int k = 0; k < step; ++k) {
        const int gx = 6 + (k * 6) % std::max(6, width_ - 12);
        const int gy = 20 + (k * 6) / std::max(6, width_ - 12) * 10;
        fill(gx, gy, 4, 5, 0xBF616A);
    }
    const int px = (step * 37) % std::max(1, width_ - 12), py = (step * 23) % std::max(1, height_ - 16);
    for (int j = 0; j < 16; ++j)
        fill(px, py + j, j / 2 + 1, 1, j == 15 ? 0x000000 : 0xFFFFFF);
}

void ScreenPicture::scribble(double fraction, int step) {
    const int side = static_cast<int>(std::sqrt(fraction * width_ * height_));
    const int x0 = (step * 131) % std::max(1, width_ - side);
    const int y0 = (step * 71) % std::max(1, height_ - side);
    uint32_t state = seed_ + static_cast<uint32_t>(step);
    for (int y = y0; y < y0 + side; ++y)
        for (int x = x0; x < x0 + side; ++x)
            put(x, y, nextRandom(state) & 0xFFFFFF);
}

void ScreenPicture::retype(double fraction, int step) {
    const int side = static_cast<int>(std::sqrt(fraction * width_ * height_));
    const int x0 = (step * 131) % std::max(1, width_ - side);
    const int y0 = (step * 71) % std::max(1, height_ - side);
    uint32_t state = seed_ + static_cast<uint32_t>(step);
    fill(x0, y0, side, side, 0xFFFFFF);
    text(x0 + 4, y0 + 4, side - 8, side - 8, state);
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
        ++n;
    }
    if (sum == 0 || n == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

}  // namespace zrctest
