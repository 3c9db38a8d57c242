#include "platform/gdipaint.h"

#include <mutex>

namespace platform {

namespace {

// A 32-bit top-down bitmap header; BI_BITFIELDS with the channel masks, so R, G, B byte order is drawn with
// the right colours without a copy.
struct BitmapHeader {
    BITMAPINFOHEADER header;
    DWORD masks[3];
};

BitmapHeader bitmapHeader(const Picture& picture) {
    BitmapHeader info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = picture.width;
    info.header.biHeight = -picture.height;  // negative: rows top to bottom
    info.header.biPlanes = 1;
    info.header.biBitCount = 32;
    info.header.biCompression = BI_BITFIELDS;
    const bool bgrx = picture.format == PixelFormat::Bgrx;
    info.masks[0] = bgrx ? 0x00FF0000u : 0x000000FFu;  // red
    info.masks[1] = 0x0000FF00u;                       // green
    info.masks[2] = bgrx ? 0x000000FFu : 0x00FF0000u;  // blue
    return info;
}

bool usable(const Picture& picture) {
    if (picture.width <= 0 || picture.height <= 0) return false;
    return picture.pixels.size() / 4 / static_cast<size_t>(picture.width) >=
           static_cast<size_t>(picture.height);
}

}  // namespace

bool paintPicture(HDC target, const Picture& picture, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || !usable(picture)) return true;
    HDC memory = CreateCompatibleDC(target);
    if (!memory) return false;
    HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
    if (!bitmap) {
        DeleteDC(memory);
        return false;
    }
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetStretchBltMode(memory, COLORONCOLOR);
    const BitmapHeader info = bitmapHeader(picture);
    std::unique_lock<std::mutex> pixels;
    if (picture.pixelsLock) pixels = std::unique_lock(*picture.pixelsLock);
    bool ok =
        StretchDIBits(memory, 0, 0, width, height, 0, 0, picture.width, picture.height, picture.pixels.data(),
                      reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY) != 0;
    if (pixels) pixels.unlock();
    if (ok) ok = BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY) != 0;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return ok;
}

GdiImage::~GdiImage() {
    release();
}

uint32_t* GdiImage::pixels(HDC reference, int32_t width, int32_t height, bool& made) {
    made = false;
    if (width <= 0 || height <= 0) return nullptr;
    if (bitmap_ && width == width_ && height == height_) return bits_;
    release();
    made = true;
    dc_ = CreateCompatibleDC(reference);
    if (!dc_) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;  // 32-bit words 0x00RRGGBB
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap_ || !bits) {
        release();
        return nullptr;
    }
    previous_ = SelectObject(dc_, bitmap_);
    bits_ = static_cast<uint32_t*>(bits);
    width_ = width;
    height_ = height;
    return bits_;
}

bool GdiImage::put(HDC target, const Rect& area, int32_t top) {
    if (!dc_) return false;
    GdiFlush();  // the pixels were written by the CPU, not through GDI
    const bool ok =
        BitBlt(target, area.x, area.y, area.width, area.height, dc_, area.x, area.y - top, SRCCOPY) != 0;
    GdiFlush();  // the copy is done before the CPU writes the next band
    return ok;
}

void GdiImage::release() {
    if (dc_ && previous_) SelectObject(dc_, previous_);
    if (bitmap_) DeleteObject(bitmap_);
    if (dc_) DeleteDC(dc_);
    dc_ = nullptr;
    bitmap_ = nullptr;
    previous_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = 0;
}

}  // namespace platform
