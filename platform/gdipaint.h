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

// An off-screen bitmap of a band of a window's rows that a window's paints stretch into, a band at a time,
// each copied to the window before the next is drawn. Window thread only.
class GdiImage {
public:
    GdiImage() = default;
    ~GdiImage();
    GdiImage(const GdiImage&) = delete;
    GdiImage& operator=(const GdiImage&) = delete;

    // The pixels (0x00RRGGBB, rows packed top to bottom) of a width x height bitmap compatible with
    // reference, remade when the size changes (made is set then: they hold nothing yet, and the old bitmap
    // is gone first, so a window that shrinks gives its memory back); null when GDI refused.
    uint32_t* pixels(HDC reference, int32_t width, int32_t height, bool& made);
    // Copies `area` of the window from the bitmap, which holds the window's rows from `top` on, to its place
    // in target; false when GDI refused. The bitmap may be written again afterwards.
    bool put(HDC target, const Rect& area, int32_t top);
    void release();

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;  // dc_'s bitmap before bitmap_ was selected
    uint32_t* bits_ = nullptr;
    int32_t width_ = 0, height_ = 0;
};

}  // namespace platform
