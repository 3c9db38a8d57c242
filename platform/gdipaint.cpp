#include "platform/gdipaint.h"

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
    bool ok =
        StretchDIBits(memory, 0, 0, width, height, 0, 0, picture.width, picture.height, picture.pixels.data(),
                      reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY) != 0;
    if (ok) ok = BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY) != 0;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return ok;
}

}  // namespace platform
