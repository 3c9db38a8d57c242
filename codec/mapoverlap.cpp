// Agreement between the block map and the first section byte for map sizes that are not a multiple of 4.
#include "codec/mapoverlap.h"

#include <cstdlib>

#include "codec/forwardconversion.h"
#include "codec/handle.h"

namespace zrc {
namespace {

constexpr int kSearchLimit = 1024;
constexpr int kAbsoluteReach = 2;

int pairOf(int dc, uint32_t k) {
    return (static_cast<uint8_t>(dc) >> (2 * k)) & 3;
}

// Entry classes by dequantisation: 0 not coded, 1 the finest row, 2 and 3 the frame's quality.
int classOf(int entry) {
    return entry >= 2 ? 2 : entry;
}

size_t lumaBytes(const ZrcHandle& h) {
    return static_cast<size_t>(h.matrix) * h.matrix;
}

// The DC byte block b gets from `image`.
int dcOf(ZrcHandle& h, const uint8_t* image, uint32_t b) {
    imageBlockToPlanes(image, h.image_format, h.frame_format, h.work[2], b, static_cast<int>(h.matrix),
                       h.width, h.height);
    uint8_t coefficients[32 * 32];
    forwardTransformBlock(static_cast<int>(h.matrix), h.work[2] + b * lumaBytes(h), 0, coefficients);
    return static_cast<int8_t>(coefficients[0]);
}

// The value nearest to dc (in -128..127) accepted by `fits`; dc itself when none is.
template <typename Fits>
int nearestFitting(int dc, Fits fits) {
    for (int step = 0; step < 256; ++step) {
        for (int candidate : {dc - step, dc + step}) {
            if (candidate >= -128 && candidate <= 127 && fits(candidate)) return candidate;
        }
    }
    return dc;
}

void setCorners(ZrcHandle& h, int dc, uint32_t* predictions) {
    const uint32_t r = h.mapsize % 4;
    for (uint32_t k = 0; k < r; ++k) {
        uint8_t& entry = h.time_map[h.mapsize - r + k];
        const uint8_t now = static_cast<uint8_t>(pairOf(dc, k));
        if (predictions != nullptr) *predictions += (now != 0) - (entry != 0);
        entry = now;
    }
}

}  // namespace

OverlapFix settleOverlap(ZrcHandle& h, const uint8_t* image, bool absolute, uint32_t* predictions) {
    OverlapFix fix;
    const uint32_t r = h.mapsize % 4;
    if (r == 0) return fix;
    const uint32_t base = h.mapsize - r;
    uint8_t wanted[3];
    for (uint32_t k = 0; k < r; ++k)
        wanted[k] = h.time_map[base + k];
    // Strict: each corner gets exactly the treatment it asked for, so that refinement runs its course and a
    // still screen falls silent; a corner not to be sent may be sent at the finest quality.
    auto strict = [&](int dc) {
        for (uint32_t k = 0; k < r; ++k) {
            const int p = pairOf(dc, k);
            if (wanted[k] == 0 ? p > 1 : wanted[k] == 1 ? p != 1 : p == 0) return false;
        }
        return true;
    };
    uint32_t first = base;  // the first coded block before the corners; base when there is none
    for (uint32_t b = 0; b < base; ++b) {
        if (h.time_map[b] != 0) {
            first = b;
            break;
        }
    }
    auto codeFirst = [&](uint32_t block, int dc) {
        if (h.time_map[block] == 0) {
            h.time_map[block] = 1;
            ++*predictions;
        }
        setCorners(h, dc, predictions);
    };
    // An absolute frame codes every block at once: any entry that is not 0 will do for the corners.
    if (!absolute) {
        // The first coded block, then the blocks before it (with none coded, those before the corners).
        int tries = 0;
        for (int64_t b = first < base ? first : static_cast<int64_t>(base) - 1;
             b >= 0 && tries < kSearchLimit; --b, ++tries) {
            const int dc = dcOf(h, image, static_cast<uint32_t>(b));
            if (!strict(dc)) continue;
            codeFirst(static_cast<uint32_t>(b), dc);
            return fix;
        }
    }
    // The first block gets a DC near its own that fits; with only corners to code, the block before them
    // is coded as well to carry it.
    uint32_t f = first < base ? first : base > 0 ? base - 1 : 0;
    const int dc = dcOf(h, image, f);
    auto fits = [&](int candidate, bool exact) {
        if (exact && !strict(candidate)) return false;
        for (uint32_t k = 0; k < r; ++k) {
            const int p = pairOf(candidate, k);
            // With no block before the corners, the first of them carries the byte: the ones before it
            // must stay uncoded, and it must be coded.
            if (base == 0 && (k < f ? p != 0 : k == f && p == 0)) return false;
            if (wanted[k] != 0 && p == 0) return false;
        }
        return true;
    };
    // An absolute frame takes the exact entries when they are near, else any that code every corner.
    int chosen = nearestFitting(dc, [&](int candidate) { return fits(candidate, true); });
    if (absolute && std::abs(chosen - dc) > kAbsoluteReach)
        chosen = nearestFitting(dc, [&](int candidate) { return fits(candidate, false); });
    if (base == 0) {
        while (pairOf(chosen, f) == 0)
            ++f;
    }
    fix.kept_dc = h.work[4][f * lumaBytes(h)];
    codeFirst(f, chosen);
    fix.active = chosen != dc;
    fix.block = f;
    fix.dc = static_cast<uint8_t>(chosen);
    return fix;
}

bool applyOverlap(ZrcHandle& h, const OverlapFix& fix, const CodedSections& sections) {
    const uint32_t r = h.mapsize % 4;
    if (r == 0) return true;
    if (fix.active) {
        sections.replace[0] = fix.dc;
        h.work[4][fix.block * lumaBytes(h)] = fix.dc;
        if (sections.xor_section != nullptr) sections.xor_section[0] = fix.dc ^ fix.kept_dc;
    }
    if (sections.xor_section == nullptr) return false;
    const uint8_t mask = static_cast<uint8_t>((1u << (2 * r)) - 1);
    return (sections.xor_section[0] & mask) == (sections.replace[0] & mask);
}

void settleOverlapKept(ZrcHandle& h, uint8_t* section) {
    const uint32_t r = h.mapsize % 4;
    if (r == 0) return;
    const uint32_t base = h.mapsize - r;
    const int dc = static_cast<int8_t>(section[0]);
    auto sameClass = [&](int candidate, uint32_t k) {
        const int p = pairOf(candidate, k);
        return p != 0 && (h.quality == 0 || classOf(p) == classOf(h.time_map[base + k]));
    };
    const int chosen = nearestFitting(dc, [&](int candidate) {
        for (uint32_t k = 0; k < r; ++k) {
            if (pairOf(candidate, k) == 0) return false;
        }
        return true;
    });
    const bool chroma420 = h.frame_format >= ZRC_FRAME_YUV420A && h.frame_format <= ZRC_FRAME_YUV420B;
    const int matrix = static_cast<int>(h.matrix);
    const size_t pp = h.paddedPixels();
    const size_t offsets[3] = {0, pp, chroma420 ? pp * 5 / 4 : 2 * pp};
    for (uint32_t k = 0; k < r; ++k) {
        const uint32_t b = base + k;
        if (sameClass(chosen, k)) continue;
        // Coded again from the last image, with the quality its entry in this frame stands for.
        const int quality = pairOf(chosen, k) == 1 ? 0 : static_cast<int>(h.quality);
        imageBlockToPlanes(h.work[0], h.image_format, h.frame_format, h.work[2], b, matrix, h.width,
                           h.height);
        for (int plane = 0; plane < 3; ++plane) {
            const int edge = plane > 0 && chroma420 ? matrix / 2 : matrix;
            const size_t at = offsets[plane] + b * static_cast<size_t>(edge * edge);
            forwardTransformBlock(edge, h.work[2] + at, quality, section + at);
        }
    }
    section[0] = static_cast<uint8_t>(chosen);
}

}  // namespace zrc
