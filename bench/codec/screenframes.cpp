#include "bench/codec/screenframes.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "codec/transformtables.h"

namespace zrcbench {
namespace {

void fill(std::vector<uint8_t>& rgb, int width, int x0, int y0, int w, int h, uint8_t r, uint8_t g,
          uint8_t b) {
    for (int y = y0; y < y0 + h; ++y) {
        for (int x = x0; x < x0 + w; ++x) {
            uint8_t* p = rgb.data() + 3 * (static_cast<size_t>(y) * width + x);
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
}

// Zigzag bytes of one block of samples (minus the level shift 128).
void forwardBlock(int n, const double* samples, int quality, uint8_t* out) {
    const zrc::TransformTables& t = zrc::transformTables(n);
    for (int z = 0; z < n * n; ++z) {
        const int p = t.natural[z];
        const int u = p / n, v = p % n;
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j)
                sum += t.basis[i * n + u] * samples[i * n + j] * t.basis[j * n + v];
        }
        const double c = sum / 65536.0 / std::ldexp(1.0, t.shift[quality][p]);
        const long q = std::lround(std::clamp(c, -128.0, 127.0));
        out[z] = static_cast<uint8_t>(static_cast<int8_t>(q));
    }
}

}  // namespace

std::vector<uint8_t> screenPicture(int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    fill(rgb, width, 0, 0, width, height, 30, 70, 120);  // desktop
    std::mt19937 rng(7);
    struct Window {
        int x, y, w, h;
    };
    const Window windows[] = {{100, 80, 900, 600}, {700, 300, 1000, 650}, {60, 750, 500, 280}};
    for (const Window& win : windows) {
        const int w = std::min(win.w, width - win.x), h = std::min(win.h, height - win.y);
        if (w <= 0 || h <= 0) continue;
        fill(rgb, width, win.x, win.y, w, h, 245, 245, 245);
        fill(rgb, width, win.x, win.y, w, 28, 50, 90, 160);  // title bar
        for (int line = win.y + 40; line + 12 < win.y + h; line += 18) {
            int x = win.x + 10;
            while (x + 8 < win.x + w - 10) {
                const int word = 3 + static_cast<int>(rng() % 8);
                for (int c = 0; c < word && x + 8 < win.x + w - 10; ++c, x += 7) {
                    for (int k = 0; k < 14; ++k) {  // strokes of a glyph
                        const int gx = x + static_cast<int>(rng() % 6),
                                  gy = line + static_cast<int>(rng() % 12);
                        uint8_t* p = rgb.data() + 3 * (static_cast<size_t>(gy) * width + gx);
                        p[0] = p[1] = p[2] = 20;
                    }
                }
                x += 7;
            }
        }
    }
    for (int y = 120; y < 380 && y < height; ++y) {  // a photo-like area
        for (int x = 1300; x < 1800 && x < width; ++x) {
            uint8_t* p = rgb.data() + 3 * (static_cast<size_t>(y) * width + x);
            p[0] = static_cast<uint8_t>((x - 1300) / 2);
            p[1] = static_cast<uint8_t>(y - 120);
            p[2] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.05));
        }
    }
    return rgb;
}

std::vector<uint8_t> coefficientPlanes(const std::vector<uint8_t>& rgb, const zrctest::Geometry& g,
                                       int quality) {
    const int pw = g.columns() * g.matrix, ph = g.rows() * g.matrix;
    std::vector<double> plane[3];
    for (auto& p : plane)
        p.assign(static_cast<size_t>(pw) * ph, 0);
    for (int y = 0; y < ph; ++y) {
        for (int x = 0; x < pw; ++x) {
            const uint8_t* p = rgb.data() + 3 * (static_cast<size_t>(std::min(y, g.height - 1)) * g.width +
                                                 std::min(x, g.width - 1));
            const double luma = (p[0] + p[1] + p[2] - 3) / 3.0;
            const size_t i = static_cast<size_t>(y) * pw + x;
            plane[0][i] = luma;
            plane[1][i] = (p[2] - luma + 168) * 0.75;  // U from blue
            plane[2][i] = (p[0] - luma + 168) * 0.75;  // V from red
        }
    }
    std::vector<uint8_t> out(g.planeBytes());
    std::vector<double> block(static_cast<size_t>(g.matrix * g.matrix));
    for (uint32_t b = 0; b < g.mapsize(); ++b) {
        const int bx = static_cast<int>(b) % g.columns() * g.matrix,
                  by = static_cast<int>(b) / g.columns() * g.matrix;
        for (int p = 0; p < 3; ++p) {
            const int e = g.edge(p), step = g.matrix / e;
            for (int i = 0; i < e; ++i) {
                for (int j = 0; j < e; ++j) {
                    double sum = 0;  // average over the step x step samples a colour sample covers
                    for (int a = 0; a < step; ++a) {
                        for (int c = 0; c < step; ++c) {
                            sum += plane[p][static_cast<size_t>(by + i * step + a) * pw + bx + j * step + c];
                        }
                    }
                    block[static_cast<size_t>(i * e + j)] = sum / (step * step) - 128.0;
                }
            }
            forwardBlock(e, block.data(), quality, out.data() + g.blockOffset(p, b));
        }
    }
    return out;
}

}  // namespace zrcbench
