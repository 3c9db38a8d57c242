// Agreement between the block map and the first section byte for map sizes that are not a multiple of 4.
#include "codec/mapoverlap.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "codec/forwardconversion.h"
#include "codec/handle.h"
#include "codec/picturelayout.h"

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

void setCorners(ZrcHandle& h, const uint8_t* entries, uint32_t* predictions) {
    const uint32_t r = h.mapsize % 4;
    for (uint32_t k = 0; k < r; ++k) {
        uint8_t& entry = h.time_map[h.mapsize - r + k];
        *predictions += (entries[k] != 0) - (entry != 0);
        entry = entries[k];
    }
}

PictureLayout layoutOf(const ZrcHandle& h) {
    const bool chroma420 = h.frame_format >= ZRC_FRAME_YUV420A && h.frame_format <= ZRC_FRAME_YUV420B;
    return PictureLayout::of(static_cast<int>(h.matrix), h.paddedWidth(), h.paddedHeight(), chroma420);
}

}  // namespace

OverlapFix planOverlap(ZrcHandle& h, const uint8_t* image, bool absolute) {
    OverlapFix fix;
    const uint32_t r = h.mapsize % 4;
    if (r == 0) return fix;
    fix.corners = r;
    const uint32_t base = h.mapsize - r;
    for (uint32_t k = 0; k < r; ++k)
        fix.wanted[k] = h.time_map[base + k];
    // Strict: each corner gets exactly the treatment it asked for, so that refinement runs its course and a
    // still screen falls silent; a corner not to be sent may be sent at the finest quality.
    auto strict = [&](int dc) {
        for (uint32_t k = 0; k < r; ++k) {
            const int p = pairOf(dc, k);
            if (fix.wanted[k] == 0 ? p > 1 : fix.wanted[k] == 1 ? p != 1 : p == 0) return false;
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
    auto carry = [&](uint32_t block, int dc, int own) {
        fix.block = block;
        fix.add_block = h.time_map[block] == 0;
        for (uint32_t k = 0; k < r; ++k)
            fix.entries[k] = static_cast<uint8_t>(pairOf(dc, k));
        fix.dc = static_cast<uint8_t>(dc);
        fix.own_dc = static_cast<uint8_t>(own);
        fix.kept_dc = h.work[4][block * lumaBytes(h)];
        return fix;
    };
    // An absolute frame codes every block at once: any entry that is not 0 will do for the corners.
    if (!absolute) {
        // The first coded block, then the blocks before it (with none coded, those before the corners).
        int tries = 0;
        for (int64_t b = first < base ? first : static_cast<int64_t>(base) - 1;
             b >= 0 && tries < kSearchLimit; --b, ++tries) {
            const int dc = dcOf(h, image, static_cast<uint32_t>(b));
            if (strict(dc)) return carry(static_cast<uint32_t>(b), dc, dc);
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
            if (fix.wanted[k] != 0 && p == 0) return false;
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
    return carry(f, chosen, dc);
}

void commitOverlap(ZrcHandle& h, const OverlapFix& fix, uint32_t* predictions) {
    if (fix.corners == 0) return;
    if (fix.add_block && h.time_map[fix.block] == 0) {
        h.time_map[fix.block] = 1;
        ++*predictions;
    }
    setCorners(h, fix.entries, predictions);
}

void applyOverlap(ZrcHandle& h, const OverlapFix& fix, const CodedSections& sections) {
    if (!fix.moved()) return;
    sections.replace[0] = fix.dc;
    h.work[4][fix.block * lumaBytes(h)] = fix.dc;
}

XorOverlap settleXor(ZrcHandle& h, const OverlapFix& fix, const CodedSections& sections,
                     uint32_t predictions) {
    XorOverlap xo;
    xo.predictions = predictions;
    if (sections.xor_section == nullptr) return xo;
    const uint32_t r = fix.corners;
    xo.usable = true;
    if (r == 0) return xo;
    const uint32_t base = h.mapsize - r;
    uint8_t* x = sections.xor_section;
    if (base == 0) {
        // The carrier is a corner itself: the byte must give the corners the replace form's entries.
        xo.dc = fix.dc;
        x[0] = fix.dc ^ fix.kept_dc;
        const uint8_t mask = static_cast<uint8_t>((1u << (2 * r)) - 1);
        xo.usable = (x[0] & mask) == (fix.dc & mask);
        return xo;
    }
    // Whether byte b codes every corner correctly; *dropped gets the corners it leaves out.
    auto serves = [&](int b, uint8_t* dropped) {
        *dropped = 0;
        for (uint32_t k = 0; k < r; ++k) {
            const int p = pairOf(b, k), e = fix.entries[k];
            if (e == 0 ? p != 0 : p != 0 ? h.quality != 0 && classOf(p) != classOf(e) : fix.wanted[k] != 0)
                return false;
            if (e != 0 && p == 0) *dropped |= static_cast<uint8_t>(1u << k);
        }
        return true;
    };
    const int own = static_cast<int8_t>(fix.own_dc);
    const int reach = std::abs(static_cast<int8_t>(fix.dc) - own);
    const int kept = static_cast<int8_t>(fix.kept_dc);
    int chosen = nearestFitting(own, [&](int candidate) {
        uint8_t dropped;
        return std::abs(candidate - own) <= reach && serves(candidate ^ kept, &dropped);
    });
    if (std::abs(chosen - own) > reach || !serves(chosen ^ kept, &xo.dropped)) {
        xo.usable = false;
        return xo;
    }
    xo.dc = static_cast<uint8_t>(chosen);
    x[0] = static_cast<uint8_t>(chosen ^ kept);
    if (xo.dropped == 0) return xo;
    // The dropped corners come last in each plane's run of coded blocks: the planes close up over them.
    const PictureLayout layout = layoutOf(h);
    const uint32_t before = sections.index[base];
    size_t read = 0, write = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const size_t bytes = layout.blockBytes(plane);
        std::memmove(x + write, x + read, before * bytes);
        read += before * bytes;
        write += before * bytes;
        for (uint32_t k = 0; k < r; ++k) {
            if (fix.entries[k] == 0) continue;
            if ((xo.dropped >> k & 1) != 0) {
                // The kept planes already hold this frame's coefficients; the xor gives back the old ones.
                const uint8_t* now = h.work[4] + layout.offsets[plane] + (base + k) * bytes;
                for (size_t i = 0; i < bytes; ++i)
                    xo.restored.push_back(x[read + i] ^ now[i]);
            } else {
                std::memmove(x + write, x + read, bytes);
                write += bytes;
            }
            read += bytes;
        }
    }
    xo.predictions = predictions - static_cast<uint32_t>(std::popcount(xo.dropped));
    return xo;
}

void commitXor(ZrcHandle& h, const OverlapFix& fix, const XorOverlap& xo) {
    if (fix.corners == 0) return;
    h.work[4][fix.block * lumaBytes(h)] = xo.dc;
    if (xo.dropped == 0) return;
    const PictureLayout layout = layoutOf(h);
    const uint32_t base = h.mapsize - fix.corners;
    size_t read = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const size_t bytes = layout.blockBytes(plane);
        for (uint32_t k = 0; k < fix.corners; ++k) {
            if ((xo.dropped >> k & 1) == 0) continue;
            std::memcpy(h.work[4] + layout.offsets[plane] + (base + k) * bytes, xo.restored.data() + read,
                        bytes);
            read += bytes;
        }
    }
    for (uint32_t k = 0; k < fix.corners; ++k) {
        if ((xo.dropped >> k & 1) != 0) h.time_map[base + k] = 0;
    }
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
