// Block-edge smoothing over planes in block order.
#include "codec/smoothing.h"

#include <cstdlib>
#include <cstring>

#include "codec/simd.h"
#include "codec/transform.h"
#include "codec/vectors.h"
#include "codec/workerpool.h"

namespace zrc {
namespace {

struct Plane {
    const uint8_t* in;
    uint8_t* out;
    int edge;
    int columns;  // blocks per row
    int rows;     // block rows
};

template <bool Mark>
ZRC_INLINE uint8_t smoothed(uint8_t a, uint8_t b) {
    const int difference = std::abs(static_cast<int>(a) - static_cast<int>(b));
    if constexpr (Mark) return a == b ? a : difference < 32 ? 127 : 255;
    return difference < 32 ? static_cast<uint8_t>((a + b) >> 1) : a;
}

// Plain reference of one changed block.
template <int E, bool Mark>
ZRC_INLINE void smoothBlock(const Plane& p, uint32_t b) {
    constexpr size_t bytes = E * E;
    const uint8_t* in = p.in + b * bytes;
    uint8_t* out = p.out + b * bytes;
    std::memcpy(out, in, bytes);
    const int bx = static_cast<int>(b % static_cast<uint32_t>(p.columns));
    const int by = static_cast<int>(b / static_cast<uint32_t>(p.columns));
    if (bx == 0 || by == 0 || bx == p.columns - 1 || by == p.rows - 1) return;
    const uint8_t* above = in - static_cast<size_t>(p.columns) * bytes;
    const uint8_t* below = in + static_cast<size_t>(p.columns) * bytes;
    const uint8_t* left = in - bytes;
    const uint8_t* right = in + bytes;
    // In this order, so that at a corner the column comparison stands over the row one, and the bottom row
    // over the columns.
    for (int j = 0; j < E; ++j)
        out[j] = smoothed<Mark>(in[j], above[(E - 1) * E + j]);
    for (int i = 0; i < E; ++i) {
        out[i * E] = smoothed<Mark>(in[i * E], left[i * E + E - 1]);
        out[i * E + E - 1] = smoothed<Mark>(in[i * E + E - 1], right[i * E]);
    }
    for (int j = 0; j < E; ++j)
        out[(E - 1) * E + j] = smoothed<Mark>(in[(E - 1) * E + j], below[j]);
}

// smoothed() on E lanes of bytes at once.
template <int E, bool Mark>
ZRC_INLINE typename Lanes<E>::B smoothedLanes(typename Lanes<E>::B a, typename Lanes<E>::B b) {
    using B = typename Lanes<E>::B;
    const B difference = (a > b ? a : b) - (a > b ? b : a);
    if constexpr (Mark) return a == b ? a : difference < 32 ? B{} + 127 : B{} + 255;
    // (a + b) >> 1 without leaving the byte; the halving shifts 16-bit lanes and masks, since there is no
    // byte shift and the compiler would take the lanes one by one.
    typedef uint16_t Pairs __attribute__((vector_size(E)));
    const B halves = (B)((Pairs)(a ^ b) >> 1) & 0x7F;
    const B average = (a & b) + halves;
    return difference < 32 ? average : a;
}

template <int E, bool Mark>
ZRC_INLINE void smoothRow(const uint8_t* in, const uint8_t* neighbour, uint8_t* out) {
    typename Lanes<E>::B a, b;
    std::memcpy(&a, in, E);
    std::memcpy(&b, neighbour, E);
    const typename Lanes<E>::B result = smoothedLanes<E, Mark>(a, b);
    std::memcpy(out, &result, E);
}

// The fast form of smoothBlock: the same samples written, rows and columns as byte vectors, and the block
// position carried in from the caller instead of divided out.
template <int E, bool Mark>
ZRC_INLINE void smoothBlockFast(const Plane& p, uint32_t b, bool inner) {
    constexpr size_t bytes = E * E;
    const uint8_t* in = p.in + b * bytes;
    uint8_t* out = p.out + b * bytes;
    std::memcpy(out, in, bytes);
    if (!inner) return;
    const uint8_t* above = in - static_cast<size_t>(p.columns) * bytes;
    const uint8_t* below = in + static_cast<size_t>(p.columns) * bytes;
    const uint8_t* left = in - bytes;
    const uint8_t* right = in + bytes;
    smoothRow<E, Mark>(in, above + (E - 1) * E, out);
    typename Lanes<E>::B first, before, last, after;
    for (int i = 0; i < E; ++i) {
        first[i] = in[i * E];
        before[i] = left[i * E + E - 1];
        last[i] = in[i * E + E - 1];
        after[i] = right[i * E];
    }
    const typename Lanes<E>::B left_edge = smoothedLanes<E, Mark>(first, before);
    const typename Lanes<E>::B right_edge = smoothedLanes<E, Mark>(last, after);
    for (int i = 0; i < E - 1; ++i) {
        out[i * E] = left_edge[i];
        out[i * E + E - 1] = right_edge[i];
    }
    smoothRow<E, Mark>(in + (E - 1) * E, below, out + (E - 1) * E);
}

template <int E, bool Mark>
ZRC_INLINE void smoothChangedBlocks(const Plane& p, const uint8_t* map, uint32_t begin, uint32_t end,
                                    bool reference) {
    if (reference) {
        for (uint32_t b = begin; b < end; ++b) {
            if (map[b] != 0) smoothBlock<E, Mark>(p, b);
        }
        return;
    }
    const uint32_t columns = static_cast<uint32_t>(p.columns);
    uint32_t bx = begin % columns;
    uint32_t by = begin / columns;
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0) {
            const bool inner =
                bx != 0 && by != 0 && bx != columns - 1 && by != static_cast<uint32_t>(p.rows - 1);
            smoothBlockFast<E, Mark>(p, b, inner);
        }
        if (++bx == columns) {
            bx = 0;
            ++by;
        }
    }
}

template <bool Mark>
ZRC_INLINE void smoothEdges(const Plane& p, const uint8_t* map, uint32_t begin, uint32_t end,
                            bool reference) {
    switch (p.edge) {
        case 4:
            return smoothChangedBlocks<4, Mark>(p, map, begin, end, reference);
        case 8:
            return smoothChangedBlocks<8, Mark>(p, map, begin, end, reference);
        case 16:
            return smoothChangedBlocks<16, Mark>(p, map, begin, end, reference);
        default:
            return smoothChangedBlocks<32, Mark>(p, map, begin, end, reference);
    }
}

ZRC_CLONES void smoothRange(const Plane& p, const uint8_t* map, uint32_t begin, uint32_t end, bool mark_edges,
                            bool reference) {
    if (mark_edges) {
        smoothEdges<true>(p, map, begin, end, reference);
    } else {
        smoothEdges<false>(p, map, begin, end, reference);
    }
}

}  // namespace

void smoothBlocks(const PictureLayout& layout, int plane, const uint8_t* in, uint8_t* out,
                  const uint8_t* time_map, uint32_t begin, uint32_t end, bool mark_edges) {
    const Plane p{in + layout.offsets[plane], out + layout.offsets[plane], layout.edges[plane],
                  layout.columns, layout.rows};
    smoothRange(p, time_map, begin, end, mark_edges, referenceKernels());
}

size_t smoothPicture(const uint8_t* in, uint8_t* out, const uint8_t* time_map, uint8_t* space_map,
                     uint32_t mapsize, int matrix, int padded_width, int padded_height, bool chroma420,
                     bool mark_edges, bool multicore) {
    if (matrix != 8 && matrix != 16 && matrix != 32) return 0;
    const PictureLayout layout = PictureLayout::of(matrix, padded_width, padded_height, chroma420);
    std::memcpy(space_map, time_map, mapsize);
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        for (int plane = 0; plane < 3; ++plane)
            smoothBlocks(layout, plane, in, out, time_map, begin, end, mark_edges);
    });
    return layout.bytes;
}

}  // namespace zrc
