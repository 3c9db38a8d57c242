#include "tests/unit/stream/support/pictures.h"

#include <cstdlib>

Rgb pixelAt(const platform::Picture& picture, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return {};
    const size_t at = (static_cast<size_t>(y) * picture.width + x) * 4;
    if (at + 4 > picture.pixels.size()) return {};
    const uint8_t* p = picture.pixels.data() + at;
    if (picture.format == platform::PixelFormat::Rgbx) return {p[0], p[1], p[2]};
    return {p[2], p[1], p[0]};
}

bool near(const Rgb& a, const Rgb& b, int tolerance) {
    return abs(a.r - b.r) <= tolerance && abs(a.g - b.g) <= tolerance && abs(a.b - b.b) <= tolerance;
}
