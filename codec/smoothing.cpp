// Block-edge smoothing over planes in block order.
#include "codec/smoothing.h"

#include <cstdlib>
#include <cstring>

#include "codec/simd.h"
#include "codec/transform.h"
#include "codec/vectors.h"
#include "codec/workerpool.h"

#if ZRC_HAVE_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace zrc {
namespace {

struct Plane {
    const uint8_t* in;
    uint8_t* out;  // block `first`'s place: block b goes to out + (b - first) * its bytes
    uint32_t first;
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
    uint8_t* out = p.out + (b - p.first) * bytes;
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
    uint8_t* out = p.out + (b - p.first) * bytes;
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

#if ZRC_HAVE_AVX2_KERNELS
// AVX2 smoothing of inner blocks: at edges 8 and 4 the whole block is one or two vectors, and each edge
// sample's neighbour across the edge is moved into its place (the neighbours' columns by shifting each row
// as one 64- or 32-bit lane, the rows above and below by a broadcast), so that every edge sample is smoothed
// at once and blended over the copy. A corner takes its column neighbour over the top row and the bottom
// row over its column, as smoothBlock's order of writes leaves it.
template <bool Mark>
ZRC_AVX2_INLINE __m256i smoothedVector(__m256i a, __m256i b) {
    const __m256i difference = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
    const __m256i close =
        _mm256_cmpeq_epi8(_mm256_subs_epu8(difference, _mm256_set1_epi8(31)), _mm256_setzero_si256());
    if constexpr (Mark) {
        const __m256i mark = _mm256_blendv_epi8(_mm256_set1_epi8(-1), _mm256_set1_epi8(127), close);
        return _mm256_blendv_epi8(mark, a, _mm256_cmpeq_epi8(a, b));
    } else {
        // The rounded-up average less the carry of the odd sum: (a + b) >> 1.
        const __m256i average = _mm256_sub_epi8(
            _mm256_avg_epu8(a, b), _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
        return _mm256_blendv_epi8(a, average, close);
    }
}

template <bool Mark>
ZRC_AVX2_INLINE void smoothInner8(const Plane& p, const uint8_t* in, uint8_t* out) {
    const size_t row_blocks = static_cast<size_t>(p.columns) * 64;
    int64_t above, below;
    std::memcpy(&above, in - row_blocks + 56, 8);
    std::memcpy(&below, in + row_blocks, 8);
    // Bytes 0 and 7 of every row, and the whole first (half 0) or last (half 1) row.
    const __m256i columns = _mm256_set1_epi64x(static_cast<int64_t>(0xFF000000000000FFull));
    const __m256i first_row = _mm256_setr_epi64x(-1, 0, 0, 0), last_row = _mm256_setr_epi64x(0, 0, 0, -1);
    for (int h = 0; h < 2; ++h) {
        const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * h));
        const __m256i left = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in - 64 + 32 * h));
        const __m256i right = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 64 + 32 * h));
        __m256i neighbours = _mm256_or_si256(_mm256_srli_epi64(left, 56), _mm256_slli_epi64(right, 56));
        __m256i edges;
        if (h == 0) {
            // The top row's inner samples only: its corners keep their column neighbours.
            const __m256i top = _mm256_andnot_si256(columns, first_row);
            neighbours = _mm256_blendv_epi8(neighbours, _mm256_set1_epi64x(above), top);
            edges = _mm256_or_si256(columns, first_row);
        } else {
            neighbours = _mm256_blendv_epi8(neighbours, _mm256_set1_epi64x(below), last_row);
            edges = _mm256_or_si256(columns, last_row);
        }
        const __m256i result = _mm256_blendv_epi8(samples, smoothedVector<Mark>(samples, neighbours), edges);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * h), result);
    }
}

template <bool Mark>
ZRC_AVX2_INLINE void smoothInner4(const Plane& p, const uint8_t* in, uint8_t* out) {
    const size_t row_blocks = static_cast<size_t>(p.columns) * 16;
    int32_t above, below;
    std::memcpy(&above, in - row_blocks + 12, 4);
    std::memcpy(&below, in + row_blocks, 4);
    const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in - 16));
    const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
    const __m128i columns = _mm_set1_epi32(static_cast<int32_t>(0xFF0000FFu));
    const __m128i first_row = _mm_setr_epi32(-1, 0, 0, 0), last_row = _mm_setr_epi32(0, 0, 0, -1);
    __m128i neighbours = _mm_or_si128(_mm_srli_epi32(left, 24), _mm_slli_epi32(right, 24));
    neighbours = _mm_blendv_epi8(neighbours, _mm_set1_epi32(above), _mm_andnot_si128(columns, first_row));
    neighbours = _mm_blendv_epi8(neighbours, _mm_set1_epi32(below), last_row);
    const __m128i edges = _mm_or_si128(columns, _mm_or_si128(first_row, last_row));
    const __m256i smoothed =
        smoothedVector<Mark>(_mm256_zextsi128_si256(samples), _mm256_zextsi128_si256(neighbours));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_blendv_epi8(samples, _mm256_castsi256_si128(smoothed), edges));
}

// Two inner blocks of edge 4 side by side, one per 128-bit lane: the rows above and below come from one
// load each, their last (first) row spread over the lane.
template <bool Mark>
ZRC_AVX2_INLINE void smoothInner4Pair(const Plane& p, const uint8_t* in, uint8_t* out) {
    const size_t row_blocks = static_cast<size_t>(p.columns) * 16;
    const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i left = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in - 16));
    const __m256i right = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 16));
    const __m256i above =
        _mm256_shuffle_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in - row_blocks)), 0xFF);
    const __m256i below =
        _mm256_shuffle_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + row_blocks)), 0x00);
    const __m256i columns = _mm256_set1_epi32(static_cast<int32_t>(0xFF0000FFu));
    const __m256i first_row = _mm256_setr_epi32(-1, 0, 0, 0, -1, 0, 0, 0);
    const __m256i last_row = _mm256_setr_epi32(0, 0, 0, -1, 0, 0, 0, -1);
    __m256i neighbours = _mm256_or_si256(_mm256_srli_epi32(left, 24), _mm256_slli_epi32(right, 24));
    neighbours = _mm256_blendv_epi8(neighbours, above, _mm256_andnot_si256(columns, first_row));
    neighbours = _mm256_blendv_epi8(neighbours, below, last_row);
    const __m256i edges = _mm256_or_si256(columns, _mm256_or_si256(first_row, last_row));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_blendv_epi8(samples, smoothedVector<Mark>(samples, neighbours), edges));
}

// Edges 16 and 32: 32-byte vectors of one or two rows; each row's neighbour columns shifted in within its
// 128-bit lane (edge 16) or across the vector (edge 32).
template <int E>
ZRC_AVX2_INLINE __m256i leftNeighbours(__m256i left) {
    if constexpr (E == 16) return _mm256_srli_si256(left, 15);
    return _mm256_srli_si256(_mm256_permute2x128_si256(left, left, 0x81), 15);
}

template <int E>
ZRC_AVX2_INLINE __m256i rightNeighbours(__m256i right) {
    if constexpr (E == 16) return _mm256_slli_si256(right, 15);
    return _mm256_slli_si256(_mm256_permute2x128_si256(right, right, 0x08), 15);
}

// A row of the block above or below, in the lanes of its row in a vector.
template <int E>
ZRC_AVX2_INLINE __m256i neighbourRow(const uint8_t* row) {
    if constexpr (E == 16)
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
}

template <int E, bool Mark>
ZRC_AVX2_INLINE void smoothInnerWide(const Plane& p, const uint8_t* in, uint8_t* out) {
    constexpr int kBytes = E * E;
    constexpr int kVectors = kBytes / 32;
    const size_t row_blocks = static_cast<size_t>(p.columns) * kBytes;
    // Bytes of the first and last column of each row; of the first row (in the first vector) and of the last
    // row (in the last vector).
    __m256i columns, first_row, last_row;
    if constexpr (E == 16) {
        columns = _mm256_setr_epi64x(0xFF, static_cast<int64_t>(0xFF00000000000000ull), 0xFF,
                                     static_cast<int64_t>(0xFF00000000000000ull));
        first_row = _mm256_setr_epi64x(-1, -1, 0, 0);
        last_row = _mm256_setr_epi64x(0, 0, -1, -1);
    } else {
        columns = _mm256_setr_epi64x(0xFF, 0, 0, static_cast<int64_t>(0xFF00000000000000ull));
        first_row = last_row = _mm256_set1_epi8(-1);
    }
    for (int v = 0; v < kVectors; ++v) {
        const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * v));
        const __m256i left = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in - kBytes + 32 * v));
        const __m256i right = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + kBytes + 32 * v));
        __m256i neighbours = _mm256_or_si256(leftNeighbours<E>(left), rightNeighbours<E>(right));
        __m256i edges = columns;
        if (v == 0) {
            // The top row's inner samples only: its corners keep their column neighbours.
            neighbours = _mm256_blendv_epi8(neighbours, neighbourRow<E>(in - row_blocks + (E - 1) * E),
                                            _mm256_andnot_si256(columns, first_row));
            edges = _mm256_or_si256(edges, first_row);
        }
        if (v == kVectors - 1) {
            neighbours = _mm256_blendv_epi8(neighbours, neighbourRow<E>(in + row_blocks), last_row);
            edges = _mm256_or_si256(edges, last_row);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * v),
                            _mm256_blendv_epi8(samples, smoothedVector<Mark>(samples, neighbours), edges));
    }
}

template <int E, bool Mark>
ZRC_AVX2_INLINE void smoothChangedBlocksAvx2(const Plane& p, const uint8_t* map, uint32_t begin,
                                             uint32_t end) {
    constexpr size_t bytes = E * E;
    const uint32_t columns = static_cast<uint32_t>(p.columns);
    uint32_t bx = begin % columns;
    uint32_t by = begin / columns;
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0) {
            const uint8_t* in = p.in + b * bytes;
            uint8_t* out = p.out + (b - p.first) * bytes;
            if (bx != 0 && by != 0 && bx != columns - 1 && by != static_cast<uint32_t>(p.rows - 1)) {
                if constexpr (E == 8) {
                    smoothInner8<Mark>(p, in, out);
                } else if constexpr (E == 4) {
                    if (b + 1 < end && map[b + 1] != 0 && bx + 2 < columns) {
                        smoothInner4Pair<Mark>(p, in, out);
                        ++b;
                        ++bx;
                    } else {
                        smoothInner4<Mark>(p, in, out);
                    }
                } else {
                    smoothInnerWide<E, Mark>(p, in, out);
                }
            } else {
                std::memcpy(out, in, bytes);
            }
        }
        if (++bx == columns) {
            bx = 0;
            ++by;
        }
    }
}

template <bool Mark>
ZRC_AVX2_INLINE void smoothAvx2(const Plane& p, const uint8_t* map, uint32_t begin, uint32_t end) {
    switch (p.edge) {
        case 4:
            return smoothChangedBlocksAvx2<4, Mark>(p, map, begin, end);
        case 8:
            return smoothChangedBlocksAvx2<8, Mark>(p, map, begin, end);
        case 16:
            return smoothChangedBlocksAvx2<16, Mark>(p, map, begin, end);
        default:
            return smoothChangedBlocksAvx2<32, Mark>(p, map, begin, end);
    }
}

ZRC_AVX2 void smoothRangeAvx2(const Plane& p, const uint8_t* map, uint32_t begin, uint32_t end,
                              bool mark_edges) {
    if (mark_edges) {
        smoothAvx2<true>(p, map, begin, end);
    } else {
        smoothAvx2<false>(p, map, begin, end);
    }
}
#endif

}  // namespace

void smoothBlocks(const PictureLayout& layout, int plane, const uint8_t* in, uint8_t* out,
                  const uint8_t* time_map, uint32_t begin, uint32_t end, bool mark_edges) {
    smoothBlocksInto(layout, plane, in, out + layout.offsets[plane], 0, time_map, begin, end, mark_edges);
}

void smoothBlocksInto(const PictureLayout& layout, int plane, const uint8_t* in, uint8_t* out_plane,
                      uint32_t first, const uint8_t* time_map, uint32_t begin, uint32_t end,
                      bool mark_edges) {
    const Plane p{in + layout.offsets[plane], out_plane,      first,
                  layout.edges[plane],        layout.columns, layout.rows};
    const bool reference = referenceKernels();
#if ZRC_HAVE_AVX2_KERNELS
    if (!reference && avx2Kernels()) return smoothRangeAvx2(p, time_map, begin, end, mark_edges);
#endif
    smoothRange(p, time_map, begin, end, mark_edges, reference);
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
