#include "platform/windowlimits.h"

#include <algorithm>

namespace platform {

bool withinLimits(const Rect& rect) {
    auto coordinateOk = [](int32_t v) { return v >= -kMaxWindowCoordinate && v <= kMaxWindowCoordinate; };
    auto sideOk = [](int32_t v) { return v >= 1 && v <= kMaxWindowSide; };
    return coordinateOk(rect.x) && coordinateOk(rect.y) && sideOk(rect.width) && sideOk(rect.height);
}

Rect clampToLimits(const Rect& rect) {
    return Rect{std::clamp(rect.x, -kMaxWindowCoordinate, kMaxWindowCoordinate),
                std::clamp(rect.y, -kMaxWindowCoordinate, kMaxWindowCoordinate),
                std::clamp(rect.width, 1, kMaxWindowSide), std::clamp(rect.height, 1, kMaxWindowSide)};
}

}  // namespace platform
