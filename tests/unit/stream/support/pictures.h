// Reading back the colours of a presented picture, whatever its byte order.
#pragma once

#include <cstdint>
#include <ostream>

#include "platform/window.h"

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

#ifdef _WIN32
// windows.h still defines near (and far) as empty words, which would hide the function below.
#undef near
#endif

// The colour of pixel (x, y); black outside the picture.
Rgb pixelAt(const platform::Picture& picture, int32_t x, int32_t y);
// Each channel within tolerance (lossy codecs and colour conversion round a little).
bool near(const Rgb& a, const Rgb& b, int tolerance);
