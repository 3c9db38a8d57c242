// Bounds every backend applies to a window rectangle: X11 cannot make an empty window, coordinates are
// 16-bit on the wire, and a picture buffer sized to the window must stay reasonable.
#pragma once

#include "platform/window.h"

namespace platform {

constexpr int32_t kMaxWindowSide = 8192;
constexpr int32_t kMaxWindowCoordinate = 32767;

// A move or resize outside these bounds is refused.
bool withinLimits(const Rect& rect);
// A new window is made at the nearest rectangle within the bounds.
Rect clampToLimits(const Rect& rect);

}  // namespace platform
