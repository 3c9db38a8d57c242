// Inverse transform kernels: a plain separable reference and a fast form that skips zero coefficients and
// zero rows (screen content is mostly flat), both exact integer arithmetic modulo 2^32, hence identical.
#include "codec/transform.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "codec/picturelayout.h"
#include "codec/simd.h"
#include "codec/transformtables.h"
#include "codec/vectors.h"
#include "codec/workerpool.h"

namespace zrc {
namespace {

// ZRC_FORCE_REFERENCE=1 in the environment forces the plain kernels, so that the whole library can be run and
// tested on them without a rebuild.
bool referenceFromEnvironment() {
    const char* value = std::getenv("ZRC_FORCE_REFERENCE");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

std::atomic<bool> reference_kernels{referenceFromEnvironment()};

constexpr uint32_t kLevelShift = 0x800000;

ZRC_INLINE uint8_t clampSample(uint32_t sum) {
    const int32_t value = static_cast<int32_t>(sum) >> 16;
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

ZRC_INLINE uint32_t dequantise(uint8_t byte, int shift) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte))) << shift;
}

template <int N>
ZRC_INLINE void fastBlock(const TransformTables& t, const uint8_t* coefficients, int quality,
                          uint8_t* samples) {
    using U = typename Lanes<N>::U;
    using I = typename Lanes<N>::I;
    const uint32_t* scan = t.scan[quality];
    U rows[N];
    uint32_t used = 0;  // bit u: row u of the first pass is not zero
    bool only_dc = true;
    int count = 0;  // non-zero coefficients
    for (int z = 0; z < N * N; z += 8) {
        uint64_t eight;
        std::memcpy(&eight, coefficients + z, 8);
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
        count += __builtin_popcountll((((eight & kLow7) + kLow7) | eight) & ~kLow7);
    }
    if (count > N * N / 4) {
        // Dense block: every coefficient in natural order, then each first-pass row as whole vectors.
        // Eight at a time: the bytes gathered through the inverse zigzag, widened with their sign, shifted
        // lane by lane.
        uint32_t natural[N * N];
        const uint8_t* shifts = t.shift[quality];
        for (int p = 0; p < N * N; p += 8) {
            typedef int8_t Signed __attribute__((vector_size(8)));
            typedef int16_t Signed16 __attribute__((vector_size(16)));
            Signed gathered;
            for (int k = 0; k < 8; ++k)
                gathered[k] = static_cast<int8_t>(coefficients[t.zigzag[p + k]]);
            const typename Lanes<8>::U values = (typename Lanes<8>::U) __builtin_convertvector(
                __builtin_convertvector(gathered, Signed16), typename Lanes<8>::I);
            const typename Lanes<8>::U dequantised = values << (typename Lanes<8>::U)loadBytes<8>(shifts + p);
            std::memcpy(natural + p, &dequantised, sizeof dequantised);
        }
        for (int u = 0; u < N; ++u) {
            U row = U{};
            for (int v = 0; v < N; ++v) {
                U column;
                std::memcpy(&column, t.columns + v * N, sizeof column);
                row += natural[u * N + v] * column;
            }
            rows[u] = row;
        }
        used = N == 32 ? 0xFFFFFFFFu : (1u << N) - 1;
        only_dc = false;
    } else {
        for (int z = 0; z < N * N; z += 8) {
            uint64_t eight;
            std::memcpy(&eight, coefficients + z, 8);
            // Visit the non-zero bytes of the eight only, lowest first (the bytes of a little-endian load).
            while (eight != 0) {
                const int k = z + __builtin_ctzll(eight) / 8;
                eight &= ~(uint64_t{0xFF} << (8 * (k - z)));
                const uint32_t entry = scan[k];
                const int u = entry & 0xFF;
                const int v = (entry >> 8) & 0xFF;
                if (k != 0) only_dc = false;
                U column;
                std::memcpy(&column, t.columns + v * N, sizeof column);
                const U term = dequantise(coefficients[k], static_cast<int>(entry >> 16)) * column;
                if (used & (1u << u)) {
                    rows[u] += term;
                } else {
                    rows[u] = term;
                    used |= 1u << u;
                }
            }
        }
    }
    if (only_dc) {
        const uint32_t w = static_cast<uint32_t>(t.basis[0]);
        const uint32_t dc = used == 0 ? 0 : dequantise(coefficients[0], static_cast<int>(scan[0] >> 16));
        std::memset(samples, clampSample(w * w * dc + kLevelShift), N * N);
        return;
    }
    // Second pass with the even-odd symmetry of the weights: output row N - 1 - i takes the even rows'
    // terms of row i and the odd rows' terms negated.
    constexpr uint32_t kEven = 0x55555555u;
    auto store = [&](int i, U sum) {
        const I clamped = clampVector<0, 255>(reinterpret_cast<I&>(sum) >> 16);
        const typename Lanes<N>::B bytes = lowBytes<N>(clamped);
        std::memcpy(samples + i * N, &bytes, N);
    };
    for (int i = 0; i < N / 2; ++i) {
        U even = U{} + kLevelShift;
        U odd = U{};
        const int32_t* weights = t.basis + i * N;
        for (uint32_t rest = used & kEven; rest != 0; rest &= rest - 1) {
            const int u = __builtin_ctz(rest);
            even += static_cast<uint32_t>(weights[u]) * rows[u];
        }
        for (uint32_t rest = used & ~kEven; rest != 0; rest &= rest - 1) {
            const int u = __builtin_ctz(rest);
            odd += static_cast<uint32_t>(weights[u]) * rows[u];
        }
        store(i, even + odd);
        store(N - 1 - i, even - odd);
    }
}

uint32_t blockQuality(uint8_t entry, uint32_t quality) {
    return entry == 1 ? 0 : quality;
}

size_t planeBlockBytes(int edge) {
    return static_cast<size_t>(edge) * static_cast<size_t>(edge);
}

}  // namespace

void useReferenceKernels(bool on) {
    reference_kernels.store(on);
}
bool referenceKernels() {
    return reference_kernels.load();
}

void inverseTransformBlockReference(int edge, const uint8_t* coefficients, int quality, uint8_t* samples) {
    const TransformTables& t = transformTables(edge);
    const int n = edge;
    uint32_t c[32 * 32];
    for (int z = 0; z < n * n; ++z) {
        const int p = t.natural[z];
        c[p] = dequantise(coefficients[z], t.shift[quality][p]);
    }
    uint32_t rows[32 * 32];
    for (int u = 0; u < n; ++u) {
        for (int j = 0; j < n; ++j) {
            uint32_t sum = 0;
            for (int k = 0; k < n; ++k)
                sum += c[u * n + k] * static_cast<uint32_t>(t.basis[j * n + k]);
            rows[u * n + j] = sum;
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            uint32_t sum = kLevelShift;
            for (int k = 0; k < n; ++k)
                sum += static_cast<uint32_t>(t.basis[i * n + k]) * rows[k * n + j];
            samples[i * n + j] = clampSample(sum);
        }
    }
}

void inverseTransformBlock(int edge, const uint8_t* coefficients, int quality, uint8_t* samples) {
    switch (edge) {
        case 4:
            return fastBlock<4>(transformTables(4), coefficients, quality, samples);
        case 8:
            return fastBlock<8>(transformTables(8), coefficients, quality, samples);
        case 16:
            return fastBlock<16>(transformTables(16), coefficients, quality, samples);
        default:
            return fastBlock<32>(transformTables(32), coefficients, quality, samples);
    }
}

namespace {

// Transforms the changed blocks [begin, end) of one plane with the fast kernel of edge N.
template <int N>
ZRC_INLINE void fastRange(const uint8_t* coefficients, uint8_t* samples, const uint8_t* map, uint32_t begin,
                          uint32_t end, uint32_t quality) {
    constexpr size_t bytes = N * N;
    const TransformTables& t = transformTables(N);
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0)
            fastBlock<N>(t, coefficients + b * bytes, static_cast<int>(blockQuality(map[b], quality)),
                         samples + b * bytes);
    }
}

ZRC_CLONES void fastRange4(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                           uint32_t q) {
    fastRange<4>(c, s, map, begin, end, q);
}
ZRC_CLONES void fastRange8(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                           uint32_t q) {
    fastRange<8>(c, s, map, begin, end, q);
}
ZRC_CLONES void fastRange16(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                            uint32_t q) {
    fastRange<16>(c, s, map, begin, end, q);
}
ZRC_CLONES void fastRange32(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                            uint32_t q) {
    fastRange<32>(c, s, map, begin, end, q);
}

// Transforms the changed blocks [begin, end) of one plane.
void transformRange(int edge, const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                    uint32_t begin, uint32_t end, uint32_t quality, bool reference) {
    if (reference) {
        const size_t bytes = planeBlockBytes(edge);
        for (uint32_t b = begin; b < end; ++b) {
            if (map[b] == 0) continue;
            inverseTransformBlockReference(edge, coefficients + b * bytes,
                                           static_cast<int>(blockQuality(map[b], quality)),
                                           samples + b * bytes);
        }
        return;
    }
    switch (edge) {
        case 4:
            return fastRange4(coefficients, samples, map, begin, end, quality);
        case 8:
            return fastRange8(coefficients, samples, map, begin, end, quality);
        case 16:
            return fastRange16(coefficients, samples, map, begin, end, quality);
        default:
            return fastRange32(coefficients, samples, map, begin, end, quality);
    }
}

}  // namespace

void inverseTransformBlocks(const PictureLayout& layout, int plane, const uint8_t* coefficients,
                            uint8_t* samples, const uint8_t* map, uint32_t begin, uint32_t end,
                            uint32_t quality) {
    transformRange(layout.edges[plane], coefficients + layout.offsets[plane], samples + layout.offsets[plane],
                   map, begin, end, quality, referenceKernels());
}

size_t inverseTransformPicture(const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                               uint32_t mapsize, int matrix, size_t padded_pixels, bool chroma420,
                               uint32_t quality, bool multicore) {
    if (matrix != 8 && matrix != 16 && matrix != 32 && !(matrix == 4 && !chroma420)) return 0;
    // Only the plane offsets and edges matter here: a picture of one row of padded_pixels.
    const PictureLayout layout = PictureLayout::of(matrix, static_cast<int>(padded_pixels), 1, chroma420);
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        for (int plane = 0; plane < 3; ++plane)
            inverseTransformBlocks(layout, plane, coefficients, samples, map, begin, end, quality);
    });
    return layout.bytes;
}

void rearrangeBlocks(const uint8_t* from, uint8_t* to, const uint8_t* map, uint32_t mapsize, int matrix,
                     size_t padded_pixels, bool chroma420, bool multicore) {
    const PictureLayout layout = PictureLayout::of(matrix, static_cast<int>(padded_pixels), 1, chroma420);
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        for (int plane = 0; plane < 3; ++plane)
            copyBlocks(layout, plane, from, to, map, begin, end);
    });
}

void copyBlocks(const PictureLayout& layout, int plane, const uint8_t* from, uint8_t* to, const uint8_t* map,
                uint32_t begin, uint32_t end) {
    const size_t bytes = layout.blockBytes(plane);
    const size_t offset = layout.offsets[plane];
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0) std::memcpy(to + offset + b * bytes, from + offset + b * bytes, bytes);
    }
}

}  // namespace zrc
