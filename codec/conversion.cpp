// Conversion of decoded planes to packed pixels, block by block.
#include "codec/conversion.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "codec/changedruns.h"
#include "codec/include/zrc.h"
#include "codec/picturelayout.h"
#include "codec/simd.h"
#include "codec/transform.h"
#include "codec/vectors.h"
#include "codec/workerpool.h"

#if ZRC_HAVE_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace zrc {
namespace {

// Writes one pixel of the given format.
template <uint32_t Format>
ZRC_INLINE void storePixel(uint8_t* row, int x, Rgb c) {
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
    int columns;  // blocks per row
    int width;
    int height;
    size_t stride;  // image bytes per row
};

enum class Source { kRgb, kYuv444, kYuv420 };

// Plain reference: converts one block of edge E; w and h are its pixels inside the picture (E except in the
// last block column and row).
template <uint32_t Format, Source From, int E>
ZRC_INLINE void convertBlock(const Geometry& g, uint8_t* image, uint32_t b, int w, int h) {
    constexpr int CE = From == Source::kYuv420 ? E / 2 : E;
    const int x0 = static_cast<int>(b % static_cast<uint32_t>(g.columns)) * E;
    const int y0 = static_cast<int>(b / static_cast<uint32_t>(g.columns)) * E;
    const uint8_t* p0 = g.planes[0] + static_cast<size_t>(b) * (E * E);
    const uint8_t* p1 = g.planes[1] + static_cast<size_t>(b) * (CE * CE);
    const uint8_t* p2 = g.planes[2] + static_cast<size_t>(b) * (CE * CE);
    for (int i = 0; i < h; ++i) {
        uint8_t* row = image + static_cast<size_t>(y0 + i) * g.stride;
        const int ci = From == Source::kYuv420 ? i / 2 : i;
        for (int j = 0; j < w; ++j) {
            const int cj = From == Source::kYuv420 ? j / 2 : j;
            Rgb c;
            if constexpr (From == Source::kRgb) {
                c = Rgb{p0[i * E + j], p1[ci * CE + cj], p2[ci * CE + cj]};
            } else {
                c = yuvToRgb(p0[i * E + j], p1[ci * CE + cj], p2[ci * CE + cj]);
            }
            storePixel<Format>(row, x0 + j, c);
        }
    }
}

// Packs eight pixels of clamped red, green and blue lanes into the image row.
template <uint32_t Format>
ZRC_INLINE void storeEight(uint8_t* out, Lanes<8>::I r, Lanes<8>::I g, Lanes<8>::I b) {
    using I = Lanes<8>::I;
    if constexpr (Format == 9 || Format == 14 || Format == 15 || Format == 20) {
        I word;
        if constexpr (Format == 9) word = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
        if constexpr (Format == 14) word = (b >> 3) << 11 | (g >> 2) << 5 | r >> 3;
        if constexpr (Format == 15) word = (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
        if constexpr (Format == 20) word = (b >> 3) << 10 | (g >> 3) << 5 | r >> 3;
        const Lanes<8>::H half = __builtin_convertvector(word, Lanes<8>::H);
        std::memcpy(out, &half, sizeof half);
    } else {
        I word;
        if constexpr (Format == 39) word = r << 16 | g << 8 | b;
        if constexpr (Format == 44) word = b << 16 | g << 8 | r;
        if constexpr (Format == 51) word = r << 16 | g << 8 | b;
        if constexpr (Format == 56) word = b << 16 | g << 8 | r;
        if constexpr (Format == 39 || Format == 44) word |= static_cast<int32_t>(0xFF000000u);
        std::memcpy(out, &word, sizeof word);
    }
}

// A whole block, eight pixels at a time; the same arithmetic as yuvToRgb. The colour terms of a 4:2:0 sample
// row serve the two luma rows under it.
template <uint32_t Format, Source From, int E>
ZRC_INLINE void convertWholeBlock(const Geometry& g, uint8_t* image, uint32_t b, int x0, int y0) {
    using I = Lanes<8>::I;
    constexpr int CE = From == Source::kYuv420 ? E / 2 : E;
    constexpr int kPixelBytes = Format < 33 ? 2 : 4;
    constexpr int kFourThirds = 87381;
    const uint8_t* p0 = g.planes[0] + static_cast<size_t>(b) * (E * E);
    const uint8_t* p1 = g.planes[1] + static_cast<size_t>(b) * (CE * CE);
    const uint8_t* p2 = g.planes[2] + static_cast<size_t>(b) * (CE * CE);
    I red[E / 8] = {}, green[E / 8] = {}, blue[E / 8] = {};  // colour terms of the current colour row
    for (int i = 0; i < E; ++i) {
        uint8_t* row = image + static_cast<size_t>(y0 + i) * g.stride + static_cast<size_t>(x0) * kPixelBytes;
        for (int j = 0; j < E; j += 8) {
            const I first = loadBytes<8>(p0 + i * E + j);
            if (From != Source::kYuv420 || i % 2 == 0) {
                I second, third;
                if constexpr (From == Source::kYuv420) {
                    second = loadHalfBytesDoubled<8>(p1 + (i / 2) * CE + j / 2);
                    third = loadHalfBytesDoubled<8>(p2 + (i / 2) * CE + j / 2);
                } else {
                    second = loadBytes<8>(p1 + i * E + j);
                    third = loadBytes<8>(p2 + i * E + j);
                }
                if constexpr (From == Source::kRgb) {
                    green[j / 8] = second;
                    blue[j / 8] = third;
                } else {
                    red[j / 8] = ((third * kFourThirds) >> 16) - 168;
                    green[j / 8] = 339 - (((second + third) * kFourThirds) >> 16);
                    blue[j / 8] = ((second * kFourThirds) >> 16) - 168;
                }
            }
            if constexpr (From == Source::kRgb) {
                storeEight<Format>(row + j * kPixelBytes, first, green[j / 8], blue[j / 8]);
            } else {
                storeEight<Format>(row + j * kPixelBytes, clampVector<0, 255>(first + red[j / 8]),
                                   clampVector<0, 255>(first + green[j / 8]),
                                   clampVector<0, 255>(first + blue[j / 8]));
            }
        }
    }
}

// Calls block(b, x0, y0, w, h) for each changed block of [begin, end), with its place in the image and its
// pixels inside the picture (E except in the last block column and row).
template <int E, typename Block>
ZRC_INLINE void forEachChangedBlock(const Geometry& g, const uint8_t* map, uint32_t begin, uint32_t end,
                                    Block block) {
    const uint32_t columns = static_cast<uint32_t>(g.columns);
    const int last_w = g.width - (g.columns - 1) * E;
    uint32_t bx = begin % columns;
    int y0 = static_cast<int>(begin / columns) * E;
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0)
            block(b, static_cast<int>(bx) * E, y0, bx == columns - 1 ? last_w : E,
                  g.height - y0 < E ? g.height - y0 : E);
        if (++bx == columns) {
            bx = 0;
            y0 += E;
        }
    }
}

// Converts eight pixels of samples in 32-bit lanes; the same arithmetic as yuvToRgb.
template <uint32_t Format, Source From>
ZRC_INLINE void convertEight(Lanes<8>::I first, Lanes<8>::I second, Lanes<8>::I third, uint8_t* out) {
    constexpr int kFourThirds = 87381;
    if constexpr (From == Source::kRgb) {
        storeEight<Format>(out, first, second, third);
    } else {
        storeEight<Format>(out, clampVector<0, 255>(first + ((third * kFourThirds) >> 16) - 168),
                           clampVector<0, 255>(first + 339 - (((second + third) * kFourThirds) >> 16)),
                           clampVector<0, 255>(first + ((second * kFourThirds) >> 16) - 168));
    }
}

template <uint32_t Format, Source From>
ZRC_INLINE void convertOne(uint8_t* row, int x, uint8_t s0, uint8_t s1, uint8_t s2) {
    storePixel<Format>(row, x, From == Source::kRgb ? Rgb{s0, s1, s2} : yuvToRgb(s0, s1, s2));
}

// Eight bytes gathered as N-byte pieces, piece t from `at` + t * step, in lanes.
template <int N>
ZRC_INLINE Lanes<8>::I gatherBytes(const uint8_t* at, size_t step) {
    uint64_t bytes = 0;
    for (int t = 0; t < 8 / N; ++t) {
        uint64_t piece = 0;
        std::memcpy(&piece, at + static_cast<size_t>(t) * step, N);
        bytes |= piece << (8 * N * t);
    }
    Lanes<8>::B lanes;
    std::memcpy(&lanes, &bytes, 8);
    return widenBytes<8>(lanes);
}

// Four bytes gathered as N-byte pieces, each byte doubled: 4:2:0 colour samples under eight luma columns.
template <int N>
ZRC_INLINE Lanes<8>::I gatherDoubled(const uint8_t* at, size_t step) {
    uint32_t bytes = 0;
    for (int t = 0; t < 4 / N; ++t) {
        uint32_t piece = 0;
        std::memcpy(&piece, at + static_cast<size_t>(t) * step, N);
        bytes |= piece << (8 * N * t);
    }
    Lanes<4>::B half;
    std::memcpy(&half, &bytes, 4);
    return widenBytes<8>(__builtin_shufflevector(half, half, 0, 0, 1, 1, 2, 2, 3, 3));
}

// Calls run(b, x0, y0, pixels, rows) for each run of changed blocks of [begin, end) along one block row, from
// block b at (x0, y0) in the image, with its pixels and rows inside the picture.
template <int E, typename Run>
ZRC_INLINE void forEachChangedRun(const Geometry& g, const uint8_t* map, uint32_t begin, uint32_t end,
                                  Run run) {
    const uint32_t columns = static_cast<uint32_t>(g.columns);
    uint32_t b = nextChanged(map, begin, end);
    while (b < end) {
        const uint32_t by = b / columns;
        const uint32_t last = nextUnchanged(map, b, std::min(end, (by + 1) * columns));
        const int x0 = static_cast<int>(b - by * columns) * E, y0 = static_cast<int>(by) * E;
        run(b, x0, y0, std::min(static_cast<int>(last - b) * E, g.width - x0), std::min(E, g.height - y0));
        b = nextChanged(map, last, end);
    }
}

// Blocks of edge 1, 2 or 4 (reduced scales) hold too few pixels for a vector loop each: the changed blocks
// are taken in runs along a block row, whose image rows are converted eight pixels at a time. At edge 1 a
// run's samples lie side by side in the planes; at 2 and 4 each group of lanes gathers a row of 8 / E
// blocks. Converts the pixels of the run from x on (a multiple of E, where a faster form stopped).
template <uint32_t Format, Source From, int E>
ZRC_INLINE void convertRun(const Geometry& g, uint8_t* image, uint32_t b, int x0, int y0, int x, int pixels,
                           int rows) {
    static_assert(E == 1 || E == 2 || E == 4);
    constexpr int CE = From == Source::kYuv420 ? E / 2 : E;
    constexpr int kPixelBytes = Format < 33 ? 2 : 4;
    constexpr size_t kBlock = E * E, kColourBlock = CE * CE;
    const uint8_t* p0 = g.planes[0] + static_cast<size_t>(b) * kBlock;
    const uint8_t* p1 = g.planes[1] + static_cast<size_t>(b) * kColourBlock;
    const uint8_t* p2 = g.planes[2] + static_cast<size_t>(b) * kColourBlock;
    for (int i = 0; i < rows; ++i) {
        uint8_t* row = image + static_cast<size_t>(y0 + i) * g.stride + static_cast<size_t>(x0) * kPixelBytes;
        const int ci = From == Source::kYuv420 ? i / 2 : i;
        int j = x;
        for (; j + 8 <= pixels; j += 8) {
            const size_t t = static_cast<size_t>(j / E);  // first block of the group
            const Lanes<8>::I first = gatherBytes<E>(p0 + t * kBlock + i * E, kBlock);
            Lanes<8>::I second, third;
            if constexpr (From == Source::kYuv420) {
                second = gatherDoubled<CE>(p1 + t * kColourBlock + ci * CE, kColourBlock);
                third = gatherDoubled<CE>(p2 + t * kColourBlock + ci * CE, kColourBlock);
            } else {
                second = gatherBytes<E>(p1 + t * kBlock + i * E, kBlock);
                third = gatherBytes<E>(p2 + t * kBlock + i * E, kBlock);
            }
            convertEight<Format, From>(first, second, third, row + j * kPixelBytes);
        }
        for (; j < pixels; ++j) {
            const size_t t = static_cast<size_t>(j / E);
            const int k = j % E, ck = From == Source::kYuv420 ? k / 2 : k;
            convertOne<Format, From>(row, j, p0[t * kBlock + i * E + k], p1[t * kColourBlock + ci * CE + ck],
                                     p2[t * kColourBlock + ci * CE + ck]);
        }
    }
}

template <uint32_t Format, Source From, int E>
ZRC_INLINE void convertSmallBlocks(const Geometry& g, uint8_t* image, const uint8_t* map, uint32_t begin,
                                   uint32_t end) {
    forEachChangedRun<E>(g, map, begin, end,
                         [&](uint32_t b, int x0, int y0, int pixels, int rows) ZRC_LAMBDA {
                             convertRun<Format, From, E>(g, image, b, x0, y0, 0, pixels, rows);
                         });
}

// Converts the changed blocks [begin, end); unless the plain reference is asked for, blocks wholly inside the
// picture take the vector loop with constant bounds, and blocks of the reduced edges go in runs.
template <uint32_t Format, Source From, int E>
ZRC_INLINE void convertRange(const Geometry& g, uint8_t* image, const uint8_t* map, uint32_t begin,
                             uint32_t end, bool reference) {
    if constexpr (E < 8) {
        if (!reference) return convertSmallBlocks<Format, From, E>(g, image, map, begin, end);
    }
    forEachChangedBlock<E>(g, map, begin, end, [&](uint32_t b, int x0, int y0, int w, int h) ZRC_LAMBDA {
        if constexpr (E >= 8) {
            if (!reference && w == E && h == E)
                return convertWholeBlock<Format, From, E>(g, image, b, x0, y0);
        }
        convertBlock<Format, From, E>(g, image, b, w, h);
    });
}

template <Source From, int E>
ZRC_INLINE bool convertFormats(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                               uint32_t begin, uint32_t end, bool reference) {
    switch (format) {
        case 9:
            convertRange<9, From, E>(g, image, map, begin, end, reference);
            return true;
        case 14:
            convertRange<14, From, E>(g, image, map, begin, end, reference);
            return true;
        case 15:
            convertRange<15, From, E>(g, image, map, begin, end, reference);
            return true;
        case 20:
            convertRange<20, From, E>(g, image, map, begin, end, reference);
            return true;
        case 39:
            convertRange<39, From, E>(g, image, map, begin, end, reference);
            return true;
        case 44:
            convertRange<44, From, E>(g, image, map, begin, end, reference);
            return true;
        case 51:
            convertRange<51, From, E>(g, image, map, begin, end, reference);
            return true;
        case 56:
            convertRange<56, From, E>(g, image, map, begin, end, reference);
            return true;
        default:
            return false;
    }
}

template <Source From>
ZRC_INLINE void convertEdges(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                             uint32_t begin, uint32_t end, bool reference) {
    switch (g.edge) {
        // The small edges come from reduced scales only; a 4:2:0 block of edge 1 is converted as 4:4:4.
        case 1:
            if constexpr (From != Source::kYuv420)
                convertFormats<From, 1>(format, g, image, map, begin, end, reference);
            break;
        case 2:
            convertFormats<From, 2>(format, g, image, map, begin, end, reference);
            break;
        case 4:
            convertFormats<From, 4>(format, g, image, map, begin, end, reference);
            break;
        case 8:
            convertFormats<From, 8>(format, g, image, map, begin, end, reference);
            break;
        case 16:
            convertFormats<From, 16>(format, g, image, map, begin, end, reference);
            break;
        default:
            convertFormats<From, 32>(format, g, image, map, begin, end, reference);
            break;
    }
}

ZRC_CLONES void convertRgb(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                           uint32_t begin, uint32_t end, bool reference) {
    convertEdges<Source::kRgb>(format, g, image, map, begin, end, reference);
}
ZRC_CLONES void convertYuv444(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                              uint32_t begin, uint32_t end, bool reference) {
    convertEdges<Source::kYuv444>(format, g, image, map, begin, end, reference);
}
ZRC_CLONES void convertYuv420(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                              uint32_t begin, uint32_t end, bool reference) {
    convertEdges<Source::kYuv420>(format, g, image, map, begin, end, reference);
}

#if ZRC_HAVE_AVX2_KERNELS
// AVX2 conversion of 4:2:0 blocks (and of 4:4:4 blocks of edge 1) in 16-bit lanes: (t * 87381) >> 16 is t
// plus the high half of t * 21845 for every t below 65536, every sum stays within 16 bits, and the clamp to
// 0..255 is an unsigned saturating pack (or a min and max for the 16-bit formats). At edge 8 a vector holds
// two luma rows with different colour rows, i and i + 2; the colour rows are loaded in the order 0, 2, 1, 3
// so that widening each colour term to both of its columns in place puts it under them.
struct Terms420 {
    __m256i red[2], green[2], blue[2];  // [0]: colour rows 0 | 1, [1]: 2 | 3, each sample twice
};

ZRC_AVX2_INLINE __m256i fourThirds(__m256i t) {
    return _mm256_add_epi16(t, _mm256_mulhi_epu16(t, _mm256_set1_epi16(21845)));
}

ZRC_AVX2_INLINE Terms420 colourTerms420(const uint8_t* p1, const uint8_t* p2) {
    const __m256i u =
        _mm256_cvtepu8_epi16(_mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p1)), 0xD8));
    const __m256i v =
        _mm256_cvtepu8_epi16(_mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p2)), 0xD8));
    const __m256i red = _mm256_sub_epi16(fourThirds(v), _mm256_set1_epi16(168));
    const __m256i green = _mm256_sub_epi16(_mm256_set1_epi16(339), fourThirds(_mm256_add_epi16(u, v)));
    const __m256i blue = _mm256_sub_epi16(fourThirds(u), _mm256_set1_epi16(168));
    return Terms420{{_mm256_unpacklo_epi16(red, red), _mm256_unpackhi_epi16(red, red)},
                    {_mm256_unpacklo_epi16(green, green), _mm256_unpackhi_epi16(green, green)},
                    {_mm256_unpacklo_epi16(blue, blue), _mm256_unpackhi_epi16(blue, blue)}};
}

// 16-bit pixels of two rows (lanes of rows i | i + 2), clamped with min and max.
template <uint32_t Format>
ZRC_AVX2_INLINE __m256i packWords(__m256i r, __m256i g, __m256i b) {
    const __m256i zero = _mm256_setzero_si256(), top = _mm256_set1_epi16(255);
    r = _mm256_min_epi16(_mm256_max_epi16(r, zero), top);
    g = _mm256_min_epi16(_mm256_max_epi16(g, zero), top);
    b = _mm256_min_epi16(_mm256_max_epi16(b, zero), top);
    if constexpr (Format == 14 || Format == 20) std::swap(r, b);
    constexpr int kGreenBits = Format == 9 || Format == 14 ? 6 : 5;
    const __m256i high = _mm256_slli_epi16(_mm256_and_si256(r, _mm256_set1_epi16(0xF8)), kGreenBits + 2);
    const __m256i middle = _mm256_slli_epi16(
        _mm256_and_si256(g, _mm256_set1_epi16(0xFF & (0xFF << (8 - kGreenBits)))), kGreenBits - 3);
    return _mm256_or_si256(_mm256_or_si256(high, middle), _mm256_srli_epi16(b, 3));
}

// Stores two vectors of pixels: k = 0, 1 each hold 16 pixels of red, green and blue in 16-bit lanes, whose
// low half goes to to[k][0] and high half to to[k][1] (eight pixels each).
template <uint32_t Format>
ZRC_AVX2_INLINE void storeSixteen(const __m256i* r, const __m256i* gr, const __m256i* bl,
                                  uint8_t* const (*to)[2]) {
    if constexpr (Format < 33) {
        for (int k = 0; k < 2; ++k) {
            const __m256i words = packWords<Format>(r[k], gr[k], bl[k]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to[k][0]), _mm256_castsi256_si128(words));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to[k][1]), _mm256_extracti128_si256(words, 1));
        }
    } else {
        // Bytes of halves (0 of k = 0, 0 of k = 1 | 1 of k = 0, 1 of k = 1).
        __m256i first = _mm256_packus_epi16(r[0], r[1]);
        const __m256i second = _mm256_packus_epi16(gr[0], gr[1]);
        __m256i third = _mm256_packus_epi16(bl[0], bl[1]);
        if constexpr (Format == 39 || Format == 51) std::swap(first, third);
        const __m256i alpha = Format == 39 || Format == 44 ? _mm256_set1_epi8(-1) : _mm256_setzero_si256();
        const __m256i pairs[2] = {_mm256_unpacklo_epi8(first, second), _mm256_unpackhi_epi8(first, second)};
        const __m256i tails[2] = {_mm256_unpacklo_epi8(third, alpha), _mm256_unpackhi_epi8(third, alpha)};
        for (int k = 0; k < 2; ++k) {
            const __m256i left = _mm256_unpacklo_epi16(pairs[k], tails[k]);
            const __m256i right = _mm256_unpackhi_epi16(pairs[k], tails[k]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[k][0]),
                                _mm256_permute2x128_si256(left, right, 0x20));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to[k][1]),
                                _mm256_permute2x128_si256(left, right, 0x31));
        }
    }
}

// A whole block of edge 8: a vector holds luma rows i | i + 2.
template <uint32_t Format>
ZRC_AVX2_INLINE void convertWholeBlock420(const Geometry& g, uint8_t* image, uint32_t b, int x0, int y0) {
    constexpr int kPixelBytes = Format < 33 ? 2 : 4;
    const uint8_t* p0 = g.planes[0] + static_cast<size_t>(b) * 64;
    const Terms420 terms =
        colourTerms420(g.planes[1] + static_cast<size_t>(b) * 16, g.planes[2] + static_cast<size_t>(b) * 16);
    uint8_t* out = image + static_cast<size_t>(y0) * g.stride + static_cast<size_t>(x0) * kPixelBytes;
    const __m256i zero = _mm256_setzero_si256();
    for (int h = 0; h < 2; ++h) {
        // Luma rows 4h .. 4h + 3 as lanes of rows (4h | 4h + 2) and (4h + 1 | 4h + 3).
        const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0 + 32 * h));
        const __m256i y[2] = {_mm256_unpacklo_epi8(luma, zero), _mm256_unpackhi_epi8(luma, zero)};
        __m256i r[2], gr[2], bl[2];
        for (int k = 0; k < 2; ++k) {
            r[k] = _mm256_add_epi16(y[k], terms.red[h]);
            gr[k] = _mm256_add_epi16(y[k], terms.green[h]);
            bl[k] = _mm256_add_epi16(y[k], terms.blue[h]);
        }
        uint8_t* rows = out + static_cast<size_t>(4 * h) * g.stride;
        uint8_t* const to[2][2] = {{rows, rows + 2 * g.stride}, {rows + g.stride, rows + 3 * g.stride}};
        storeSixteen<Format>(r, gr, bl, to);
    }
}

// A whole block of edge 16 or 32 in strips of 16 pixels: a vector holds 16 pixels of one luma row, and the
// two rows over one colour row share its terms.
template <uint32_t Format, int E>
ZRC_AVX2_INLINE void convertWideBlock420(const Geometry& g, uint8_t* image, uint32_t b, int x0, int y0) {
    constexpr int CE = E / 2;
    constexpr int kPixelBytes = Format < 33 ? 2 : 4;
    const uint8_t* p0 = g.planes[0] + static_cast<size_t>(b) * (E * E);
    const uint8_t* p1 = g.planes[1] + static_cast<size_t>(b) * (CE * CE);
    const uint8_t* p2 = g.planes[2] + static_cast<size_t>(b) * (CE * CE);
    uint8_t* out = image + static_cast<size_t>(y0) * g.stride + static_cast<size_t>(x0) * kPixelBytes;
    for (int i = 0; i < CE; ++i) {
        uint8_t* rows = out + static_cast<size_t>(2 * i) * g.stride;
        for (int j = 0; j < E; j += 16) {
            auto doubled = [&](const uint8_t* p) ZRC_AVX2_LAMBDA {
                const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i * CE + j / 2));
                return _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(eight, eight));
            };
            const __m256i u = doubled(p1), v = doubled(p2);
            const __m256i red = _mm256_sub_epi16(fourThirds(v), _mm256_set1_epi16(168));
            const __m256i green =
                _mm256_sub_epi16(_mm256_set1_epi16(339), fourThirds(_mm256_add_epi16(u, v)));
            const __m256i blue = _mm256_sub_epi16(fourThirds(u), _mm256_set1_epi16(168));
            __m256i r[2], gr[2], bl[2];
            for (int k = 0; k < 2; ++k) {
                const __m256i y = _mm256_cvtepu8_epi16(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + (2 * i + k) * E + j)));
                r[k] = _mm256_add_epi16(y, red);
                gr[k] = _mm256_add_epi16(y, green);
                bl[k] = _mm256_add_epi16(y, blue);
            }
            uint8_t* left = rows + j * kPixelBytes;
            uint8_t* const to[2][2] = {{left, left + 8 * kPixelBytes},
                                       {left + g.stride, left + g.stride + 8 * kPixelBytes}};
            storeSixteen<Format>(r, gr, bl, to);
        }
    }
}

// Colour terms of 16 pixels from their colour samples in 16-bit lanes.
struct Terms16 {
    __m256i red, green, blue;
};

ZRC_AVX2_INLINE Terms16 colourTerms16(__m256i u, __m256i v) {
    return Terms16{_mm256_sub_epi16(fourThirds(v), _mm256_set1_epi16(168)),
                   _mm256_sub_epi16(_mm256_set1_epi16(339), fourThirds(_mm256_add_epi16(u, v))),
                   _mm256_sub_epi16(fourThirds(u), _mm256_set1_epi16(168))};
}

// Two image rows of 16 pixels at `out` from their luma rows (16 bytes each) and colour terms.
template <uint32_t Format>
ZRC_AVX2_INLINE void storeRowPair(const Geometry& g, uint8_t* out, __m128i first, __m128i second,
                                  const Terms16& terms) {
    constexpr int kPixelBytes = Format < 33 ? 2 : 4;
    const __m256i y[2] = {_mm256_cvtepu8_epi16(first), _mm256_cvtepu8_epi16(second)};
    __m256i r[2], gr[2], bl[2];
    for (int k = 0; k < 2; ++k) {
        r[k] = _mm256_add_epi16(y[k], terms.red);
        gr[k] = _mm256_add_epi16(y[k], terms.green);
        bl[k] = _mm256_add_epi16(y[k], terms.blue);
    }
    uint8_t* const to[2][2] = {{out, out + 8 * kPixelBytes},
                               {out + g.stride, out + g.stride + 8 * kPixelBytes}};
    storeSixteen<Format>(r, gr, bl, to);
}

// 16 pixels of every row of four blocks of edge 4 from block b: the rows of the four luma blocks by a 4 x 4
// transpose of 32-bit pieces, the colour rows (2 x 2 samples a block) by a byte shuffle that doubles them.
template <uint32_t Format>
ZRC_AVX2_INLINE void convertFourBlocks420(const Geometry& g, uint8_t* out, uint32_t b) {
    const uint8_t* p0 = g.planes[0] + static_cast<size_t>(b) * 16;
    __m128i blocks[4];
    for (int t = 0; t < 4; ++t)
        blocks[t] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + 16 * t));
    const __m128i low01 = _mm_unpacklo_epi32(blocks[0], blocks[1]),
                  low23 = _mm_unpacklo_epi32(blocks[2], blocks[3]);
    const __m128i high01 = _mm_unpackhi_epi32(blocks[0], blocks[1]),
                  high23 = _mm_unpackhi_epi32(blocks[2], blocks[3]);
    const __m128i rows[4] = {_mm_unpacklo_epi64(low01, low23), _mm_unpackhi_epi64(low01, low23),
                             _mm_unpacklo_epi64(high01, high23), _mm_unpackhi_epi64(high01, high23)};
    const __m128i u =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.planes[1] + static_cast<size_t>(b) * 4));
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.planes[2] + static_cast<size_t>(b) * 4));
    const __m128i picks[2] = {_mm_setr_epi8(0, 0, 1, 1, 4, 4, 5, 5, 8, 8, 9, 9, 12, 12, 13, 13),
                              _mm_setr_epi8(2, 2, 3, 3, 6, 6, 7, 7, 10, 10, 11, 11, 14, 14, 15, 15)};
    for (int c = 0; c < 2; ++c) {
        const Terms16 terms = colourTerms16(_mm256_cvtepu8_epi16(_mm_shuffle_epi8(u, picks[c])),
                                            _mm256_cvtepu8_epi16(_mm_shuffle_epi8(v, picks[c])));
        storeRowPair<Format>(g, out + static_cast<size_t>(2 * c) * g.stride, rows[2 * c], rows[2 * c + 1],
                             terms);
    }
}

// 16 pixels of both rows of eight blocks of edge 2 from block b: a byte shuffle splits each block's two rows,
// and each block's one colour sample is doubled.
template <uint32_t Format>
ZRC_AVX2_INLINE void convertEightBlocks420(const Geometry& g, uint8_t* out, uint32_t b) {
    const __m256i luma =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g.planes[0] + static_cast<size_t>(b) * 4));
    const __m256i split =
        _mm256_shuffle_epi8(luma, _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15, 0, 1,
                                                   4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15));
    const __m256i rows = _mm256_permute4x64_epi64(split, 0xD8);  // row 0 of the eight blocks | row 1
    const __m128i u = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(g.planes[1] + b));
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(g.planes[2] + b));
    const Terms16 terms = colourTerms16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u, u)),
                                        _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v, v)));
    storeRowPair<Format>(g, out, _mm256_castsi256_si128(rows), _mm256_extracti128_si256(rows, 1), terms);
}

// Runs of blocks of edge 2 or 4: 16 pixels at a time in block rows wholly inside the picture, the rest as
// the portable form does it.
template <uint32_t Format, int E>
ZRC_AVX2_INLINE void convertSmallRange420(const Geometry& g, uint8_t* image, const uint8_t* map,
                                          uint32_t begin, uint32_t end) {
    constexpr int kPixelBytes = Format < 33 ? 2 : 4;
    forEachChangedRun<E>(g, map, begin, end, [&](uint32_t b, int x0, int y0, int pixels, int rows) ZRC_AVX2 {
        int x = 0;
        if (rows == E) {
            uint8_t* out = image + static_cast<size_t>(y0) * g.stride + static_cast<size_t>(x0) * kPixelBytes;
            for (; x + 16 <= pixels; x += 16) {
                if constexpr (E == 4) {
                    convertFourBlocks420<Format>(g, out + x * kPixelBytes, b + static_cast<uint32_t>(x / E));
                } else {
                    convertEightBlocks420<Format>(g, out + x * kPixelBytes, b + static_cast<uint32_t>(x / E));
                }
            }
        }
        convertRun<Format, Source::kYuv420, E>(g, image, b, x0, y0, x, pixels, rows);
    });
}

template <uint32_t Format, int E>
ZRC_AVX2_INLINE void convertRange420(const Geometry& g, uint8_t* image, const uint8_t* map, uint32_t begin,
                                     uint32_t end) {
    if constexpr (E < 8) {
        convertSmallRange420<Format, E>(g, image, map, begin, end);
    } else {
        forEachChangedBlock<E>(g, map, begin, end, [&](uint32_t b, int x0, int y0, int w, int h) ZRC_AVX2 {
            if (w == E && h == E) {
                if constexpr (E == 8) {
                    convertWholeBlock420<Format>(g, image, b, x0, y0);
                } else {
                    convertWideBlock420<Format, E>(g, image, b, x0, y0);
                }
            } else {
                convertBlock<Format, Source::kYuv420, E>(g, image, b, w, h);
            }
        });
    }
}

template <int E>
ZRC_AVX2_INLINE void convertFormats420(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                                       uint32_t begin, uint32_t end) {
    switch (format) {
        case 9:
            return convertRange420<9, E>(g, image, map, begin, end);
        case 14:
            return convertRange420<14, E>(g, image, map, begin, end);
        case 15:
            return convertRange420<15, E>(g, image, map, begin, end);
        case 20:
            return convertRange420<20, E>(g, image, map, begin, end);
        case 39:
            return convertRange420<39, E>(g, image, map, begin, end);
        case 44:
            return convertRange420<44, E>(g, image, map, begin, end);
        case 51:
            return convertRange420<51, E>(g, image, map, begin, end);
        case 56:
            return convertRange420<56, E>(g, image, map, begin, end);
        default:
            return;
    }
}

// 4:4:4 colour at edge 1 (and 4:2:0 at 1/8 scale, one colour sample a block): a run's samples lie side by
// side, 32 pixels at a time.
template <uint32_t Format>
ZRC_AVX2_INLINE void convertEdgeOneRange(const Geometry& g, uint8_t* image, const uint8_t* map,
                                         uint32_t begin, uint32_t end) {
    constexpr int kPixelBytes = Format < 33 ? 2 : 4;
    forEachChangedRun<1>(g, map, begin, end, [&](uint32_t b, int x0, int y0, int pixels, int rows) ZRC_AVX2 {
        uint8_t* out = image + static_cast<size_t>(y0) * g.stride + static_cast<size_t>(x0) * kPixelBytes;
        int x = 0;
        for (; x + 32 <= pixels; x += 32) {
            __m256i samples[3];
            for (int k = 0; k < 3; ++k)
                samples[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g.planes[k] + b + x));
            __m256i r[2], gr[2], bl[2];
            for (int h = 0; h < 2; ++h) {
                auto half = [&](int k) ZRC_AVX2_LAMBDA {
                    return _mm256_cvtepu8_epi16(h == 0 ? _mm256_castsi256_si128(samples[k])
                                                       : _mm256_extracti128_si256(samples[k], 1));
                };
                const __m256i y = half(0);
                const Terms16 terms = colourTerms16(half(1), half(2));
                r[h] = _mm256_add_epi16(y, terms.red);
                gr[h] = _mm256_add_epi16(y, terms.green);
                bl[h] = _mm256_add_epi16(y, terms.blue);
            }
            uint8_t* left = out + x * kPixelBytes;
            uint8_t* const to[2][2] = {{left, left + 8 * kPixelBytes},
                                       {left + 16 * kPixelBytes, left + 24 * kPixelBytes}};
            storeSixteen<Format>(r, gr, bl, to);
        }
        convertRun<Format, Source::kYuv444, 1>(g, image, b, x0, y0, x, pixels, rows);
    });
}

ZRC_AVX2 void convertEdgeOneAvx2(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                                 uint32_t begin, uint32_t end) {
    switch (format) {
        case 9:
            return convertEdgeOneRange<9>(g, image, map, begin, end);
        case 14:
            return convertEdgeOneRange<14>(g, image, map, begin, end);
        case 15:
            return convertEdgeOneRange<15>(g, image, map, begin, end);
        case 20:
            return convertEdgeOneRange<20>(g, image, map, begin, end);
        case 39:
            return convertEdgeOneRange<39>(g, image, map, begin, end);
        case 44:
            return convertEdgeOneRange<44>(g, image, map, begin, end);
        case 51:
            return convertEdgeOneRange<51>(g, image, map, begin, end);
        case 56:
            return convertEdgeOneRange<56>(g, image, map, begin, end);
        default:
            return;
    }
}

ZRC_AVX2 void convertYuv420Avx2(uint32_t format, const Geometry& g, uint8_t* image, const uint8_t* map,
                                uint32_t begin, uint32_t end) {
    switch (g.edge) {
        case 2:
            return convertFormats420<2>(format, g, image, map, begin, end);
        case 4:
            return convertFormats420<4>(format, g, image, map, begin, end);
        case 8:
            return convertFormats420<8>(format, g, image, map, begin, end);
        case 16:
            return convertFormats420<16>(format, g, image, map, begin, end);
        default:
            return convertFormats420<32>(format, g, image, map, begin, end);
    }
}
#endif

}  // namespace

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

bool convertibleFrame(uint32_t frame_format, int matrix) {
    if (matrix != 8 && matrix != 16 && matrix != 32) return false;
    // The red-green-blue planes have no matrix 16 form.
    if (frame_format == ZRC_FRAME_RGB) return matrix != 16;
    return frame_format == ZRC_FRAME_YUV444 ||
           (frame_format >= ZRC_FRAME_YUV420A && frame_format <= ZRC_FRAME_YUV420B);
}

namespace {

// Converts with luma blocks of `edge`; colour blocks of half that for 4:2:0 unless edge is 1 (then one
// sample per block, as 4:4:4).
size_t convertEdge(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                   uint32_t begin, uint32_t end, int edge, int width, int height, uint32_t image_format) {
    const int pixel_bytes = convertedPixelBytes(image_format);
    const bool chroma420 = frame_format >= ZRC_FRAME_YUV420A && frame_format <= ZRC_FRAME_YUV420B && edge > 1;
    const int columns = (width + edge - 1) / edge;
    const int rows = (height + edge - 1) / edge;
    const size_t luma = static_cast<size_t>(columns) * static_cast<size_t>(rows) * edge * edge;
    const size_t colour = chroma420 ? luma / 4 : luma;
    const Geometry g{{planes, planes + luma, planes + luma + colour},
                     edge,
                     columns,
                     width,
                     height,
                     static_cast<size_t>(width) * static_cast<size_t>(pixel_bytes)};
    const bool reference = referenceKernels();
    if (frame_format == ZRC_FRAME_RGB) {
        convertRgb(image_format, g, image, map, begin, end, reference);
    } else if (!chroma420) {
#if ZRC_HAVE_AVX2_KERNELS
        if (!reference && avx2Kernels() && edge == 1) {
            convertEdgeOneAvx2(image_format, g, image, map, begin, end);
            return static_cast<size_t>(width) * static_cast<size_t>(height) *
                   static_cast<size_t>(pixel_bytes);
        }
#endif
        convertYuv444(image_format, g, image, map, begin, end, reference);
    } else {
#if ZRC_HAVE_AVX2_KERNELS
        if (!reference && avx2Kernels()) {
            convertYuv420Avx2(image_format, g, image, map, begin, end);
            return static_cast<size_t>(width) * static_cast<size_t>(height) *
                   static_cast<size_t>(pixel_bytes);
        }
#endif
        convertYuv420(image_format, g, image, map, begin, end, reference);
    }
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(pixel_bytes);
}

}  // namespace

size_t convertBlocks(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                     uint32_t begin, uint32_t end, int matrix, int width, int height, uint32_t image_format) {
    return convertScaledBlocks(frame_format, planes, image, map, begin, end, matrix, 0, width, height,
                               image_format);
}

size_t convertScaledBlocks(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                           uint32_t begin, uint32_t end, int matrix, int shift, int width, int height,
                           uint32_t image_format) {
    // A combination without a form is refused rather than left unwritten.
    if (convertedPixelBytes(image_format) == 0 || !convertibleFrame(frame_format, matrix) || shift < 0 ||
        shift > 3)
        return 0;
    return convertEdge(frame_format, planes, image, map, begin, end, matrix >> shift, width, height,
                       image_format);
}

size_t convertPicture(uint32_t frame_format, const uint8_t* planes, uint8_t* image, const uint8_t* map,
                      uint32_t mapsize, int matrix, int width, int height, uint32_t image_format,
                      bool multicore) {
    // An empty range tells whether the combination can be produced before any pixel is written.
    const size_t bytes =
        convertBlocks(frame_format, planes, image, map, 0, 0, matrix, width, height, image_format);
    if (bytes == 0) return 0;
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        convertBlocks(frame_format, planes, image, map, begin, end, matrix, width, height, image_format);
    });
    return bytes;
}

}  // namespace zrc
