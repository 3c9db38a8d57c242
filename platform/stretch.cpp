#include "platform/stretch.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {

namespace {

bool usable(const Picture& picture) {
    const size_t pixels = static_cast<size_t>(std::max(picture.width, 0)) * std::max(picture.height, 0);
    return pixels != 0 && picture.pixels.size() / 4 >= pixels;
}

// The first destination position whose source position x * source / destination is at least `from`.
int32_t firstTaking(int64_t from, int64_t source, int64_t destination) {
    return static_cast<int32_t>((from * destination + source - 1) / source);
}

uint32_t load32(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// One destination row: count pixels from the source row at the byte offsets in columns.
void convertRow(const uint8_t* row, const uint32_t* columns, uint32_t* out, int32_t count, bool bgrx) {
    int32_t x = 0;
#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Four source words gathered into one register, then the bytes put in 0x00RRGGBB order: B, G, R, X
    // loads as 0xXXRRGGBB and only loses X; R, G, B, X loads as 0xXXBBGGRR and swaps its outer bytes.
    const __m128i low = _mm_set1_epi32(0xFF), green = _mm_set1_epi32(0xFF00), rgb = _mm_set1_epi32(0xFFFFFF);
    if (bgrx) {
        for (; x + 4 <= count; x += 4) {
            const __m128i v = _mm_set_epi32(static_cast<int>(load32(row + columns[x + 3])),
                                            static_cast<int>(load32(row + columns[x + 2])),
                                            static_cast<int>(load32(row + columns[x + 1])),
                                            static_cast<int>(load32(row + columns[x])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_and_si128(v, rgb));
        }
    } else {
        for (; x + 4 <= count; x += 4) {
            const __m128i v = _mm_set_epi32(static_cast<int>(load32(row + columns[x + 3])),
                                            static_cast<int>(load32(row + columns[x + 2])),
                                            static_cast<int>(load32(row + columns[x + 1])),
                                            static_cast<int>(load32(row + columns[x])));
            const __m128i red = _mm_slli_epi32(_mm_and_si128(v, low), 16);
            const __m128i blue = _mm_and_si128(_mm_srli_epi32(v, 16), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                             _mm_or_si128(_mm_or_si128(red, blue), _mm_and_si128(v, green)));
        }
    }
#endif
    for (; x < count; ++x) {
        const uint8_t* p = row + columns[x];
        const uint32_t red = bgrx ? p[2] : p[0];
        const uint32_t blue = bgrx ? p[0] : p[2];
        out[x] = (red << 16) | (uint32_t{p[1]} << 8) | blue;
    }
}

}  // namespace

void stretchNearest(const Picture& picture, uint32_t* dst, int32_t dstWidth, int32_t dstHeight) {
    if (dstWidth <= 0 || dstHeight <= 0) return;
    const size_t dstPixels = static_cast<size_t>(dstWidth) * static_cast<size_t>(dstHeight);
    if (!usable(picture)) {
        std::fill(dst, dst + dstPixels, 0u);
        return;
    }
    const bool bgrx = picture.format == PixelFormat::Bgrx;
    // Source column of each destination column, computed once per paint.
    std::vector<uint32_t> columns(static_cast<size_t>(dstWidth));
    for (int32_t x = 0; x < dstWidth; ++x) {
        columns[x] = static_cast<uint32_t>(static_cast<uint64_t>(x) * picture.width / dstWidth);
    }
    for (int32_t y = 0; y < dstHeight; ++y) {
        const size_t srcY = static_cast<uint64_t>(y) * picture.height / dstHeight;
        const uint8_t* row = picture.pixels.data() + srcY * picture.width * 4;
        uint32_t* out = dst + static_cast<size_t>(y) * dstWidth;
        for (int32_t x = 0; x < dstWidth; ++x) {
            const uint8_t* p = row + columns[x] * 4;
            const uint32_t red = bgrx ? p[2] : p[0];
            const uint32_t blue = bgrx ? p[0] : p[2];
            out[x] = (red << 16) | (uint32_t{p[1]} << 8) | blue;
        }
    }
}

namespace {

// The stretch of `clipped` (inside the window) written from `first`, the place of its top left pixel, rows
// `stride` pixels apart.
void stretchRows(const Picture& picture, uint32_t* first, size_t stride, int32_t dstWidth, int32_t dstHeight,
                 const Rect& clipped) {
    if (!usable(picture)) {
        for (int32_t y = 0; y < clipped.height; ++y)
            std::fill_n(first + y * stride, clipped.width, 0u);
        return;
    }
    // Byte offset in the source row of each destination column of the area.
    std::vector<uint32_t> columns(static_cast<size_t>(clipped.width));
    for (int32_t x = 0; x < clipped.width; ++x) {
        columns[x] =
            static_cast<uint32_t>(static_cast<uint64_t>(clipped.x + x) * picture.width / dstWidth * 4);
    }
    const bool bgrx = picture.format == PixelFormat::Bgrx;
    const size_t rowBytes = static_cast<size_t>(picture.width) * 4;
    size_t previousY = SIZE_MAX;
    for (int32_t y = 0; y < clipped.height; ++y) {
        const size_t srcY = static_cast<uint64_t>(clipped.y + y) * picture.height / dstHeight;
        uint32_t* out = first + y * stride;
        if (srcY == previousY) {
            std::memcpy(out, out - stride, static_cast<size_t>(clipped.width) * 4);
        } else {
            convertRow(picture.pixels.data() + srcY * rowBytes, columns.data(), out, clipped.width, bgrx);
            previousY = srcY;
        }
    }
}

}  // namespace

void stretchNearestArea(const Picture& picture, uint32_t* dst, int32_t dstWidth, int32_t dstHeight,
                        const Rect& area) {
    const Rect clipped = intersect(area, Rect{0, 0, dstWidth, dstHeight});
    if (clipped.empty()) return;
    const size_t stride = static_cast<size_t>(dstWidth);
    stretchRows(picture, dst + static_cast<size_t>(clipped.y) * stride + clipped.x, stride, dstWidth,
                dstHeight, clipped);
}

int32_t bandRows(int32_t dstWidth, int32_t dstHeight) {
    if (dstWidth <= 0 || dstHeight <= 0) return 0;
    return std::clamp(kBandPixels / dstWidth, 1, dstHeight);
}

void stretchBand(const Picture& picture, uint32_t* band, int32_t dstWidth, int32_t dstHeight,
                 const Rect& area) {
    const Rect clipped = intersect(area, Rect{0, 0, dstWidth, dstHeight});
    if (clipped.empty()) return;
    const size_t stride = static_cast<size_t>(dstWidth);
    std::unique_lock<std::mutex> lock;
    if (picture.pixelsLock) lock = std::unique_lock(*picture.pixelsLock);
    stretchRows(picture, band + static_cast<size_t>(clipped.y - area.y) * stride + clipped.x, stride,
                dstWidth, dstHeight, clipped);
}

void sizeImage(std::vector<uint32_t>& image, size_t pixels) {
    image.resize(pixels);
    if (pixels < image.capacity() / 2) image.shrink_to_fit();
}

Rect stretchedArea(const Rect& source, int32_t sourceWidth, int32_t sourceHeight, int32_t dstWidth,
                   int32_t dstHeight) {
    const Rect inside = intersect(source, Rect{0, 0, sourceWidth, sourceHeight});
    if (inside.empty() || dstWidth <= 0 || dstHeight <= 0) return Rect{};
    const int32_t left = firstTaking(inside.x, sourceWidth, dstWidth);
    const int32_t right = firstTaking(int64_t{inside.x} + inside.width, sourceWidth, dstWidth);
    const int32_t top = firstTaking(inside.y, sourceHeight, dstHeight);
    const int32_t bottom = firstTaking(int64_t{inside.y} + inside.height, sourceHeight, dstHeight);
    if (right <= left || bottom <= top) return Rect{};
    return Rect{left, top, right - left, bottom - top};
}

}  // namespace platform
