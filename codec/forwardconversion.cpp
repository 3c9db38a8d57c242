// Input pixels to coded sample planes: the inverse of the decoder's conversions.
#include "codec/forwardconversion.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/include/zrc.h"
#include "codec/workerpool.h"

namespace zrc {
namespace {

uint8_t expand5(uint32_t v) {
    return static_cast<uint8_t>(v << 3 | v >> 2);
}
uint8_t expand6(uint32_t v) {
    return static_cast<uint8_t>(v << 2 | v >> 4);
}

template <uint32_t Format>
Rgb loadPixel(const uint8_t* p) {
    if constexpr (Format == 9 || Format == 14 || Format == 15 || Format == 20) {
        uint16_t w;
        std::memcpy(&w, p, 2);
        if constexpr (Format == 9) return Rgb{expand5(w >> 11 & 31), expand6(w >> 5 & 63), expand5(w & 31)};
        if constexpr (Format == 14) return Rgb{expand5(w & 31), expand6(w >> 5 & 63), expand5(w >> 11 & 31)};
        if constexpr (Format == 15) return Rgb{expand5(w >> 10 & 31), expand5(w >> 5 & 31), expand5(w & 31)};
        if constexpr (Format == 20) return Rgb{expand5(w & 31), expand5(w >> 5 & 31), expand5(w >> 10 & 31)};
    } else {
        uint32_t w;
        std::memcpy(&w, p, 4);
        const uint8_t high = static_cast<uint8_t>(w >> 16), mid = static_cast<uint8_t>(w >> 8),
                      low = static_cast<uint8_t>(w);
        if constexpr (Format == 39 || Format == 51) return Rgb{high, mid, low};
        if constexpr (Format == 44 || Format == 56) return Rgb{low, mid, high};
    }
}

using Loader = Rgb (*)(const uint8_t*);

Loader loaderFor(uint32_t image_format) {
    switch (image_format) {
        case 9:
            return loadPixel<9>;
        case 14:
            return loadPixel<14>;
        case 15:
            return loadPixel<15>;
        case 20:
            return loadPixel<20>;
        case 39:
            return loadPixel<39>;
        case 44:
            return loadPixel<44>;
        case 51:
            return loadPixel<51>;
        case 56:
            return loadPixel<56>;
        default:
            return nullptr;
    }
}

// best[d + 255]: the colour-difference byte whose decoded offset ((s * 87381) >> 16) - 168 is nearest to d.
const std::array<uint8_t, 511>& chromaTable() {
    static const std::array<uint8_t, 511> table = [] {
        std::array<uint8_t, 511> t{};
        for (int d = -255; d <= 255; ++d) {
            int best = 0;
            int best_error = 1 << 30;
            for (int s = 0; s < 256; ++s) {
                const int error = std::abs(((s * 87381) >> 16) - 168 - d);
                if (error < best_error) {
                    best_error = error;
                    best = s;
                }
            }
            t[static_cast<size_t>(d + 255)] = static_cast<uint8_t>(best);
        }
        return t;
    }();
    return table;
}

// Luma: the decoder's green is 3 Y - R - B + 3 once both differences are right, so Y is the mean less 1.
int lumaOf(Rgb c) {
    const int y = (c.r + c.g + c.b + 1) / 3 - 1;
    return y < 0 ? 0 : y;
}

uint8_t chromaFor(int difference) {
    return chromaTable()[static_cast<size_t>(std::clamp(difference, -255, 255) + 255)];
}

// Mean of n values rounded to nearest, half away from zero.
int roundedMean(int sum, int n) {
    return sum >= 0 ? (sum + n / 2) / n : -((-sum + n / 2) / n);
}

struct BlockJob {
    const uint8_t* image;
    Loader load;
    int pixel_bytes;
    uint32_t frame_format;
    uint8_t* planes[3];
    int matrix;
    int columns;
    int width;
    int height;
};

void convertBlock(const BlockJob& job, uint32_t b) {
    const int e = job.matrix;
    const int x0 = static_cast<int>(b % static_cast<uint32_t>(job.columns)) * e;
    const int y0 = static_cast<int>(b / static_cast<uint32_t>(job.columns)) * e;
    Rgb pixels[32 * 32];
    for (int i = 0; i < e; ++i) {
        const int y = std::min(y0 + i, job.height - 1);
        const uint8_t* row = job.image + static_cast<size_t>(y) * static_cast<size_t>(job.width) *
                                             static_cast<size_t>(job.pixel_bytes);
        for (int j = 0; j < e; ++j) {
            const int x = std::min(x0 + j, job.width - 1);
            pixels[i * e + j] = job.load(row + static_cast<size_t>(x) * static_cast<size_t>(job.pixel_bytes));
        }
    }
    const size_t full = static_cast<size_t>(e) * static_cast<size_t>(e);
    uint8_t* p0 = job.planes[0] + b * full;
    if (job.frame_format == ZRC_FRAME_RGB) {
        for (size_t k = 0; k < full; ++k) {
            p0[k] = pixels[k].r;
            job.planes[1][b * full + k] = pixels[k].g;
            job.planes[2][b * full + k] = pixels[k].b;
        }
        return;
    }
    if (job.frame_format == ZRC_FRAME_YUV444) {
        for (size_t k = 0; k < full; ++k)
            rgbToYuv(pixels[k], &p0[k], &job.planes[1][b * full + k], &job.planes[2][b * full + k]);
        return;
    }
    int luma[32 * 32];
    for (size_t k = 0; k < full; ++k) {
        luma[k] = lumaOf(pixels[k]);
        p0[k] = static_cast<uint8_t>(luma[k]);
    }
    const int ce = e / 2;
    const size_t quarter = static_cast<size_t>(ce) * static_cast<size_t>(ce);
    uint8_t* p1 = job.planes[1] + b * quarter;
    uint8_t* p2 = job.planes[2] + b * quarter;
    // Pixels of each 2 x 2 group that its colour sample is taken from: top-left, all four, or the left pair.
    static constexpr int kOffsets[3][4][2] = {{{0, 0}}, {{0, 0}, {0, 1}, {1, 0}, {1, 1}}, {{0, 0}, {1, 0}}};
    const int variant = static_cast<int>(job.frame_format - ZRC_FRAME_YUV420A);
    const int taps = variant == 0 ? 1 : variant == 1 ? 4 : 2;
    for (int i = 0; i < ce; ++i) {
        for (int j = 0; j < ce; ++j) {
            int red = 0, blue = 0;
            for (int t = 0; t < taps; ++t) {
                const int k = (2 * i + kOffsets[variant][t][0]) * e + 2 * j + kOffsets[variant][t][1];
                red += pixels[k].r - luma[k];
                blue += pixels[k].b - luma[k];
            }
            p1[i * ce + j] = chromaFor(roundedMean(blue, taps));
            p2[i * ce + j] = chromaFor(roundedMean(red, taps));
        }
    }
}

}  // namespace

void rgbToYuv(Rgb c, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int luma = lumaOf(c);
    *y = static_cast<uint8_t>(luma);
    *u = chromaFor(c.b - luma);
    *v = chromaFor(c.r - luma);
}

namespace {

// The job for one picture, or a job without loader for formats it cannot handle.
BlockJob makeJob(const uint8_t* image, uint32_t image_format, uint32_t frame_format, uint8_t* planes,
                 int matrix, int width, int height) {
    const bool chroma420 = frame_format >= ZRC_FRAME_YUV420A && frame_format <= ZRC_FRAME_YUV420B;
    Loader load = loaderFor(image_format);
    if (frame_format != ZRC_FRAME_RGB && frame_format != ZRC_FRAME_YUV444 && !chroma420) load = nullptr;
    const int columns = (width + matrix - 1) / matrix;
    const size_t padded_pixels = static_cast<size_t>(columns) * static_cast<size_t>(matrix) *
                                 static_cast<size_t>((height + matrix - 1) / matrix) *
                                 static_cast<size_t>(matrix);
    return BlockJob{
        image,
        load,
        convertedPixelBytes(image_format),
        frame_format,
        {planes, planes + padded_pixels, planes + (chroma420 ? padded_pixels * 5 / 4 : 2 * padded_pixels)},
        matrix,
        columns,
        width,
        height};
}

}  // namespace

bool imageToPlanes(const uint8_t* image, uint32_t image_format, uint32_t frame_format, uint8_t* planes,
                   const uint8_t* map, uint32_t mapsize, int matrix, int width, int height, bool multicore) {
    const BlockJob job = makeJob(image, image_format, frame_format, planes, matrix, width, height);
    if (job.load == nullptr) return false;
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        for (uint32_t b = begin; b < end; ++b) {
            if (map[b] != 0) convertBlock(job, b);
        }
    });
    return true;
}

bool imageBlockToPlanes(const uint8_t* image, uint32_t image_format, uint32_t frame_format, uint8_t* planes,
                        uint32_t block, int matrix, int width, int height) {
    const BlockJob job = makeJob(image, image_format, frame_format, planes, matrix, width, height);
    if (job.load == nullptr) return false;
    convertBlock(job, block);
    return true;
}

}  // namespace zrc
