// Conversion of decoded planes to packed pixels, block by block.
#include "codec/conversion.h"

#include <cstring>

#include "codec/include/zrc.h"
#include "codec/workerpool.h"

namespace zrc {
namespace {

uint8_t clampColour(int value) {
    return static_cast<uint8_t>(value < 1 ? 0 : value >= 255 ? 255 : value);
}

// Writes one pixel of the given format.
template <uint32_t Format>
void storePixel(uint8_t* row, int x, Rgb c) {
    if constexpr (Format == 9 || Format == 14 || Format == 15 || Format == 20) {
        uint16_t word;
        if constexpr (Format == 9)
            word = static_cast<uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
        if constexpr (Format == 14)
            word = static_cast<uint16_t>((c.b >> 3) << 11 | (c.g >> 2) << 5 | c.r >> 3);
        if constexpr (Format == 15)
            word = static_cast<uint16_t>((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
        if constexpr (Format == 20)
            word = static_cast<uint16_t>((c.b >> 3) << 10 | (c.g >> 3) << 5 | c.r >> 3);
        std::memcpy(row + 2 * x, &word, 2);
    } else {
        uint32_t word;
        if constexpr (Format == 39) word = 0xFF000000u | uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
        if constexpr (Format == 44) word = 0xFF000000u | uint32_t{c.b} << 16 | uint32_t{c.g} << 8 | c.r;
        if constexpr (Format == 51) word = uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
        if constexpr (Format == 56) word = uint32_t{c.b} << 16 | uint32_t{c.g} << 8 | c.r;
        std::memcpy(row + 4 * x, &word, 4);
    }
}

struct Geometry {
    const uint8_t* planes[3];
    int edge;
    int colour_edge;  // edge / 2 for 4:2:0
    int columns;      // blocks per row
    int width;
    int height;
    size_t stride;  // image bytes per row
};

enum class Source { kRgb, kYuv444, kYuv420 };

template <uint32_t Format, Source From>
void convertBlock(const Geometry& g, uint8_t* image, uint32_t b) {
    const int e = g.edge;
    const int ce = g.colour_edge;
    const int x0 = static_cast<int>(b % static_cast<uint32_t>(g.columns)) * e;
    const int y0 = static_cast<int>(b / static_cast<uint32_t>(g.columns)) * e;
    const int w = g.width - x0 < e ? g.width - x0 : e;
    const int h = g.height - y0 < e ? g.height - y0 : e;
    const uint8_t* p0 = g.planes[0] + static_cast<size_t>(b) * static_cast<size_t>(e * e);
    const uint8_t* p1 = g.planes[1] + static_cast<size_t>(b) * static_cast<size_t>(ce * ce);
    const uint8_t* p2 = g.planes[2] + static_cast<size_t>(b) * static_cast<size_t>(ce * ce);
    for (int i = 0; i < h; ++i) {
        uint8_t* row = image + static_cast<size_t>(y0 + i) * g.stride;
        for (int j = 0; j < w; ++j) {
            Rgb c;
            if constexpr (From == Source::kRgb) {
                c = Rgb{p0[i * e + j], p1[i * e + j], p2[i * e + j]};
            } else if constexpr (From == Source::kYuv444) {
                c = yuvToRgb(p0[i * e + j], p1[i * e + j], p2[i * e + j]);
            } else {
                const int k = (i / 2) * ce + j / 2;
                c = yuvToRgb(p0[i * e + j], p1[k], p2[k]);
            }
            storePixel<Format>(row, x0 + j, c);
        }
    }
}

template <uint32_t Format, Source From>
void convertAll(const Geometry& g, uint8_t* image, const uint8_t* map, uint32_t mapsize, bool multicore) {
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        for (uint32_t b = begin; b < end; ++b) {
            if (map[b] != 0) convertBlock<Format, From>(g, image, b);
        }
    });
}

template <Source From>
bool convertFrom(uint32_t image_format, const Geometry& g, uint8_t* image, const uint8_t* map,
                 uint32_t mapsize, bool multicore) {
    switch (image_format) {
        case 9:
            convertAll<9, From>(g, image, map, mapsize, multicore);
            return true;
        case 14:
            convertAll<14, From>(g, image, map, mapsize, multicore);
            return true;
        case 15:
            convertAll<15, From>(g, image, map, mapsize, multicore);
            return true;
        case 20:
            convertAll<20, From>(g, image, map, mapsize, multicore);
            return true;
        case 39:
            convertAll<39, From>(g, image, map, mapsize, multicore);
            return true;
        case 44:
            convertAll<44, From>(g, image, map, mapsize, multicore);
            return true;
        case 51:
            convertAll<51, From>(g, image, map, mapsize, multicore);
            return true;
        case 56:
            convertAll<56, From>(g, image, map, mapsize, multicore);
            return true;
        default:
            return false;
    }
}

}  // namespace

Rgb yuvToRgb(int y, int u, int v) {
    constexpr int kFourThirds = 87381;
    return Rgb{clampColour(y + ((v * kFourThirds) >> 16) - 168),
               clampColour(y - (((u + v) * kFourThirds) >> 16) + 339),
               clampColour(y + ((u * kFourThirds) >> 16) - 168)};
}

int convertedPixelBytes(uint32_t image_format) {
    switch (image_format) {
        case 9:
        case 14:
        case 15:
        case 20:
            return 2;
        case 39:
        case 44:
        case 51:
        case 56:
            return 4;
        default:
            return 0;
    }
}

size_t convertPicture(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                      uint32_t mapsize, int matrix, int width, int height, uint32_t image_format,
                      bool multicore) {
    const int pixel_bytes = convertedPixelBytes(image_format);
    if (pixel_bytes == 0 || (matrix != 8 && matrix != 16 && matrix != 32)) return 0;
    const int columns = (width + matrix - 1) / matrix;
    const size_t padded_pixels = static_cast<size_t>(columns) * static_cast<size_t>(matrix) *
                                 static_cast<size_t>((height + matrix - 1) / matrix) *
                                 static_cast<size_t>(matrix);
    const bool chroma420 = frame_format >= ZRC_FRAME_YUV420A && frame_format <= ZRC_FRAME_YUV420B;
    Geometry g{
        {planes, planes + padded_pixels, planes + (chroma420 ? padded_pixels * 5 / 4 : 2 * padded_pixels)},
        matrix,
        chroma420 ? matrix / 2 : matrix,
        columns,
        width,
        height,
        static_cast<size_t>(width) * static_cast<size_t>(pixel_bytes)};
    bool done;
    if (frame_format == ZRC_FRAME_RGB) {
        // The red-green-blue planes have no matrix 16 form; refused rather than left unwritten.
        if (matrix == 16) return 0;
        done = convertFrom<Source::kRgb>(image_format, g, image, map, mapsize, multicore);
    } else if (frame_format == ZRC_FRAME_YUV444) {
        done = convertFrom<Source::kYuv444>(image_format, g, image, map, mapsize, multicore);
    } else if (chroma420) {
        done = convertFrom<Source::kYuv420>(image_format, g, image, map, mapsize, multicore);
    } else {
        return 0;
    }
    return done ? static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(pixel_bytes)
                : 0;
}

}  // namespace zrc
