// Drawing a picture into a window with GDI: stretched nearest-neighbour off screen, then one copy to the
// window, so the window never shows a half-drawn picture. Shared by the window backend and the H.264
// library, which presents into a window it knows only by its handle.
#pragma once

#include "platform/window.h"  // includes windows.h

namespace platform {

// Draws picture stretched to width x height at the origin of target (rows and columns dropped or repeated,
// COLORONCOLOR). Nothing is drawn for an empty area or a picture whose pixels are fewer than its size says.
// Returns false when GDI refused a step; every object made here is deleted on every path.
bool paintPicture(HDC target, const Picture& picture, int32_t width, int32_t height);

}  // namespace platform
