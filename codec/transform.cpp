// Inverse transform kernels: a plain separable reference and a fast form that skips zero coefficients and
// zero rows (screen content is mostly flat), both exact integer arithmetic modulo 2^32, hence identical.
#include "codec/transform.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "codec/picturelayout.h"
#include "codec/simd.h"
#include "codec/transformavx2.h"
#include "codec/transformtables.h"
#include "codec/vectors.h"
#include "codec/workerpool.h"

#if ZRC_HAVE_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace zrc {
namespace {

// ZRC_FORCE_REFERENCE=1 in the environment forces the plain kernels, so that the whole library can be run and
// tested on them without a rebuild.
bool referenceFromEnvironment() {
    const char* value = std::getenv("ZRC_FORCE_REFERENCE");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

std::atomic<bool> reference_kernels{referenceFromEnvironment()};

// Non-zero coefficients of a block.
template <int N>
ZRC_INLINE int nonZeroCoefficients(const uint8_t* coefficients) {
    int count = 0;
    for (int z = 0; z < N * N; z += 8) {
        uint64_t eight;
        std::memcpy(&eight, coefficients + z, 8);
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
        count += __builtin_popcountll((((eight & kLow7) + kLow7) | eight) & ~kLow7);
    }
    return count;
}

// One block with `count` non-zero coefficients.
template <int N>
ZRC_INLINE void fastBlockCounted(const TransformTables& t, const uint8_t* coefficients, int quality,
                                 uint8_t* samples, int count) {
    using U = typename Lanes<N>::U;
    using I = typename Lanes<N>::I;
    const uint32_t* scan = t.scan[quality];
    U rows[N];
    uint32_t used = 0;  // bit u: row u of the first pass is not zero
    bool only_dc = true;
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
        used = static_cast<uint32_t>((uint64_t{1} << N) - 1);
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

template <int N>
ZRC_INLINE void fastBlock(const TransformTables& t, const uint8_t* coefficients, int quality,
                          uint8_t* samples) {
    fastBlockCounted<N>(t, coefficients, quality, samples, nonZeroCoefficients<N>(coefficients));
}

size_t planeBlockBytes(int edge) {
    return static_cast<size_t>(edge) * static_cast<size_t>(edge);
}

#if ZRC_HAVE_AVX2_KERNELS
// AVX2 kernels of the dense blocks of edges 8 and 4. The first pass multiplies coefficient pairs by weight
// pairs with pmaddwd (a dequantised coefficient and a weight both fit in 16 bits, and a row's sum of their
// products stays far inside 32 bits, so nothing wraps); the second pass multiplies 32-bit lanes, which wraps
// exactly as the reference does. Both passes use the even-odd symmetry of the weights: output N - 1 - i takes
// the even terms of output i and the odd terms negated. The clamp to 0..255 is a signed then an unsigned
// saturating pack.
struct Avx2Tables {
    // Edge 8. The coefficients sit in two 32-byte vectors, two rows per 16 bytes, each row as columns
    // 0, 2, 4, 6, 1, 3, 5, 7 so that every 32-bit pair feeds one half of the even-odd split.
    // gather8[o][s]: byte shuffle that takes output vector o's bytes from zigzag bytes 16s..16s+15.
    alignas(32) uint8_t gather8[2][4][32];
    alignas(32) int16_t scale8[6][64];  // 1 << shift by quality, in that order
    // First-pass weight pairs for outputs 0..3, in both halves: columns (0, 2), (4, 6), (1, 3), (5, 7).
    alignas(32) int16_t pairs8[4][16];
    int32_t weights8[64];
    // Edge 4: the coefficients in natural order, one vector, and the passes' weights.
    alignas(16) uint8_t gather4[16];
    Avx2Passes4 passes4;

    Avx2Tables() {
        const TransformTables& t8 = transformTables(8);
        constexpr int kColumns8[8] = {0, 2, 4, 6, 1, 3, 5, 7};
        std::memset(gather8, 0x80, sizeof gather8);
        for (int s = 0; s < 64; ++s) {
            const int p = (s / 8) * 8 + kColumns8[s % 8];
            const int z = t8.zigzag[p];
            gather8[s / 32][z / 16][s % 32] = static_cast<uint8_t>(z % 16);
            for (int q = 0; q < 6; ++q)
                scale8[q][s] = static_cast<int16_t>(1 << t8.shift[q][p]);
        }
        for (int pair = 0; pair < 4; ++pair) {
            for (int d = 0; d < 8; ++d) {
                const int j = d % 4;
                for (int k = 0; k < 2; ++k)
                    pairs8[pair][2 * d + k] = static_cast<int16_t>(t8.basis[j * 8 + kColumns8[2 * pair + k]]);
            }
        }
        std::memcpy(weights8, t8.basis, sizeof weights8);

        const TransformTables& t4 = transformTables(4);
        for (int p = 0; p < 16; ++p)
            gather4[p] = static_cast<uint8_t>(t4.zigzag[p]);
        passes4.build(t4.basis, [&](int q, int p) { return t4.shift[q][p]; });
    }
};

const Avx2Tables& avx2Tables() {
    static const Avx2Tables tables;
    return tables;
}

ZRC_AVX2_INLINE __m256i load256(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// Eight 32-bit rows (lanes: columns 0, 1, 2, 3, 7, 6, 5, 4), clamped, stored as 8x8 bytes in natural order.
ZRC_AVX2_INLINE void storeRows8(const __m256i* s, uint8_t* samples) {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i reverse = _mm256_setr_epi8(0, 1, 2, 3, 7, 6, 5, 4, 8, 9, 10, 11, 15, 14, 13, 12, 0, 1, 2, 3,
                                             7, 6, 5, 4, 8, 9, 10, 11, 15, 14, 13, 12);
    for (int h = 0; h < 2; ++h) {
        const __m256i* r = s + 4 * h;
        const __m256i low = _mm256_packs_epi32(_mm256_srai_epi32(r[0], 16), _mm256_srai_epi32(r[1], 16));
        const __m256i high = _mm256_packs_epi32(_mm256_srai_epi32(r[2], 16), _mm256_srai_epi32(r[3], 16));
        const __m256i bytes = _mm256_packus_epi16(low, high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 32 * h),
                            _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(bytes, order), reverse));
    }
}

ZRC_AVX2_INLINE void denseBlock8(const Avx2Tables& a, const uint8_t* coefficients, int quality,
                                 uint8_t* samples) {
    __m256i gathered[2];
    for (int o = 0; o < 2; ++o) {
        __m256i bytes = _mm256_setzero_si256();
        for (int s = 0; s < 4; ++s) {
            const __m256i source = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients) + s));
            bytes = _mm256_or_si256(bytes, _mm256_shuffle_epi8(source, load256(a.gather8[o][s])));
        }
        gathered[o] = bytes;
    }
    const __m128i quarters[4] = {
        _mm256_castsi256_si128(gathered[0]), _mm256_extracti128_si256(gathered[0], 1),
        _mm256_castsi256_si128(gathered[1]), _mm256_extracti128_si256(gathered[1], 1)};
    const __m256i even0 = load256(a.pairs8[0]), even1 = load256(a.pairs8[1]);
    const __m256i odd0 = load256(a.pairs8[2]), odd1 = load256(a.pairs8[3]);
    __m256i rows[8];
    for (int m = 0; m < 4; ++m) {
        const __m256i c =
            _mm256_mullo_epi16(_mm256_cvtepi8_epi16(quarters[m]), load256(a.scale8[quality] + 16 * m));
        const __m256i even = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(c, 0x00), even0),
                                              _mm256_madd_epi16(_mm256_shuffle_epi32(c, 0x55), even1));
        const __m256i odd = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(c, 0xAA), odd0),
                                             _mm256_madd_epi16(_mm256_shuffle_epi32(c, 0xFF), odd1));
        const __m256i sum = _mm256_add_epi32(even, odd);   // rows 2m, 2m + 1: columns 0..3
        const __m256i diff = _mm256_sub_epi32(even, odd);  // the same rows: columns 7..4
        rows[2 * m] = _mm256_permute2x128_si256(sum, diff, 0x20);
        rows[2 * m + 1] = _mm256_permute2x128_si256(sum, diff, 0x31);
    }
    const int32_t* w = a.weights8;
    const auto term = [&](int i, int u) ZRC_AVX2_LAMBDA {
        return _mm256_mullo_epi32(rows[u], _mm256_set1_epi32(w[i * 8 + u]));
    };
    // The even rows once more split: outputs 3 and 2 take rows 0 and 4 as outputs 0 and 1 do, rows 2 and 6
    // negated.
    const __m256i level = _mm256_set1_epi32(static_cast<int32_t>(kLevelShift));
    const __m256i a0 = _mm256_add_epi32(level, _mm256_add_epi32(term(0, 0), term(0, 4)));
    const __m256i a1 = _mm256_add_epi32(level, _mm256_add_epi32(term(1, 0), term(1, 4)));
    const __m256i c0 = _mm256_add_epi32(term(0, 2), term(0, 6));
    const __m256i c1 = _mm256_add_epi32(term(1, 2), term(1, 6));
    const __m256i even[4] = {_mm256_add_epi32(a0, c0), _mm256_add_epi32(a1, c1), _mm256_sub_epi32(a1, c1),
                             _mm256_sub_epi32(a0, c0)};
    __m256i out[8];
    for (int i = 0; i < 4; ++i) {
        const __m256i odd = _mm256_add_epi32(_mm256_add_epi32(term(i, 1), term(i, 3)),
                                             _mm256_add_epi32(term(i, 5), term(i, 7)));
        out[i] = _mm256_add_epi32(even[i], odd);
        out[7 - i] = _mm256_sub_epi32(even[i], odd);
    }
    storeRows8(out, samples);
}

ZRC_AVX2_INLINE void denseBlock4(const Avx2Tables& a, const uint8_t* coefficients, int quality,
                                 uint8_t* samples) {
    const __m128i natural = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients)),
                                             _mm_load_si128(reinterpret_cast<const __m128i*>(a.gather4)));
    avx2Passes4(a.passes4, natural, quality, samples);
}

// Edges 16 and 32: the dense blocks dequantise through a table into 16-bit rows, even columns first, then
// the same two passes as edge 8 on whole rows of vectors.
template <int N>
struct WideTables {
    static constexpr int kVectors = N / 8;  // 32-bit vectors per row
    // Weight pairs of columns (4p, 4p + 2) and (4p + 1, 4p + 3) for outputs 8v .. 8v + 7 of the first half.
    alignas(32) int16_t even[N / 4][kVectors / 2][16];
    alignas(32) int16_t odd[N / 4][kVectors / 2][16];
    // place[z]: where zigzag position z goes: row * N, plus column / 2 for even columns, N / 2 + column / 2
    // for odd ones.
    uint16_t place[N * N];

    WideTables() {
        const TransformTables& t = transformTables(N);
        for (int p = 0; p < N / 4; ++p) {
            for (int v = 0; v < kVectors / 2; ++v) {
                for (int d = 0; d < 8; ++d) {
                    const int j = 8 * v + d;
                    for (int k = 0; k < 2; ++k) {
                        even[p][v][2 * d + k] = static_cast<int16_t>(t.basis[j * N + 4 * p + 2 * k]);
                        odd[p][v][2 * d + k] = static_cast<int16_t>(t.basis[j * N + 4 * p + 2 * k + 1]);
                    }
                }
            }
        }
        for (int z = 0; z < N * N; ++z) {
            const int u = t.natural[z] / N, column = t.natural[z] % N;
            place[z] = static_cast<uint16_t>(u * N + (column % 2 == 0 ? column / 2 : N / 2 + column / 2));
        }
    }
};

template <int N>
const WideTables<N>& wideTables() {
    static const WideTables<N> tables;
    return tables;
}

template <int N>
ZRC_AVX2_INLINE void denseBlockWide(const TransformTables& t, const WideTables<N>& w,
                                    const uint8_t* coefficients, int quality, uint8_t* samples) {
    constexpr int V = N / 8;
    alignas(32) int16_t c[N * N];
    const uint32_t* scan = t.scan[quality];
    for (int z = 0; z < N * N; ++z)
        c[w.place[z]] = static_cast<int16_t>(static_cast<int8_t>(coefficients[z]) * (1 << (scan[z] >> 16)));
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    __m256i rows[N][V];
    for (int u = 0; u < N; ++u) {
        const int16_t* row = c + u * N;
        __m256i even[V / 2], odd[V / 2];
        for (int v = 0; v < V / 2; ++v)
            even[v] = odd[v] = _mm256_setzero_si256();
        for (int p = 0; p < N / 4; ++p) {
            int32_t even_pair, odd_pair;
            std::memcpy(&even_pair, row + 2 * p, 4);
            std::memcpy(&odd_pair, row + N / 2 + 2 * p, 4);
            const __m256i e = _mm256_set1_epi32(even_pair), o = _mm256_set1_epi32(odd_pair);
            for (int v = 0; v < V / 2; ++v) {
                even[v] = _mm256_add_epi32(even[v], _mm256_madd_epi16(e, load256(w.even[p][v])));
                odd[v] = _mm256_add_epi32(odd[v], _mm256_madd_epi16(o, load256(w.odd[p][v])));
            }
        }
        for (int v = 0; v < V / 2; ++v) {
            rows[u][v] = _mm256_add_epi32(even[v], odd[v]);
            rows[u][V - 1 - v] = _mm256_permutevar8x32_epi32(_mm256_sub_epi32(even[v], odd[v]), reverse);
        }
    }
    __m256i out[N][V];
    for (int i = 0; i < N / 2; ++i) {
        __m256i even[V], odd[V];
        for (int v = 0; v < V; ++v) {
            even[v] = _mm256_set1_epi32(static_cast<int32_t>(kLevelShift));
            odd[v] = _mm256_setzero_si256();
        }
        for (int u = 0; u < N; u += 2) {
            const __m256i we = _mm256_set1_epi32(t.basis[i * N + u]);
            const __m256i wo = _mm256_set1_epi32(t.basis[i * N + u + 1]);
            for (int v = 0; v < V; ++v) {
                even[v] = _mm256_add_epi32(even[v], _mm256_mullo_epi32(rows[u][v], we));
                odd[v] = _mm256_add_epi32(odd[v], _mm256_mullo_epi32(rows[u + 1][v], wo));
            }
        }
        for (int v = 0; v < V; ++v) {
            out[i][v] = _mm256_add_epi32(even[v], odd[v]);
            out[N - 1 - i][v] = _mm256_sub_epi32(even[v], odd[v]);
        }
    }
    // Four vectors of 32-bit samples make 32 bytes in order once the packs' lane interleaving is undone.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i* all = &out[0][0];
    for (int k = 0; k < N * V; k += 4) {
        const __m256i low =
            _mm256_packs_epi32(_mm256_srai_epi32(all[k], 16), _mm256_srai_epi32(all[k + 1], 16));
        const __m256i high =
            _mm256_packs_epi32(_mm256_srai_epi32(all[k + 2], 16), _mm256_srai_epi32(all[k + 3], 16));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 8 * k),
                            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(low, high), order));
    }
}

// Every block but a flat one (no coefficient other than the first) takes the vector kernel: cheaper than
// the walk over the non-zero coefficients from two on. Edges 16 and 32 keep that walk for sparse blocks.
template <int N>
ZRC_AVX2_INLINE void avx2Block(const TransformTables& t, const Avx2Tables& a, const uint8_t* coefficients,
                               int quality, uint8_t* samples) {
    if constexpr (N > 8) {
        const int count = nonZeroCoefficients<N>(coefficients);
        if (count > N * N / 4) {
            denseBlockWide<N>(t, wideTables<N>(), coefficients, quality, samples);
        } else {
            fastBlockCounted<N>(t, coefficients, quality, samples, count);
        }
        return;
    }
    bool flat;
    if constexpr (N == 8) {
        const __m256i high = load256(coefficients + 32);
        flat =
            _mm256_testz_si256(load256(coefficients), _mm256_setr_epi32(~0xFF, -1, -1, -1, -1, -1, -1, -1)) &&
            _mm256_testz_si256(high, high);
    } else {
        flat = _mm_testz_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients)),
                               _mm_setr_epi32(~0xFF, -1, -1, -1));
    }
    if (!flat) {
        if constexpr (N == 8) {
            denseBlock8(a, coefficients, quality, samples);
        } else {
            denseBlock4(a, coefficients, quality, samples);
        }
        return;
    }
    const uint32_t w = static_cast<uint32_t>(t.basis[0]);
    const uint32_t dc = dequantise(coefficients[0], static_cast<int>(t.scan[quality][0] >> 16));
    std::memset(samples, clampSample(w * w * dc + kLevelShift), N * N);
}

template <int N>
ZRC_AVX2_INLINE void avx2Range(const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                               uint32_t begin, uint32_t end, uint32_t quality) {
    const TransformTables& t = transformTables(N);
    const Avx2Tables& a = avx2Tables();
    // forEachChangedBlock's walk written out: an AVX2 kernel cannot be inlined through a template built
    // without AVX2.
    for (uint32_t b = begin; b < end; ++b) {
        if (map[b] != 0)
            avx2Block<N>(t, a, coefficients + b * N * N, static_cast<int>(blockQuality(map[b], quality)),
                         samples + b * N * N);
    }
}

ZRC_AVX2 void avx2Range4(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                         uint32_t q) {
    avx2Range<4>(c, s, map, begin, end, q);
}
ZRC_AVX2 void avx2Range8(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                         uint32_t q) {
    avx2Range<8>(c, s, map, begin, end, q);
}
ZRC_AVX2 void avx2Range16(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                          uint32_t q) {
    avx2Range<16>(c, s, map, begin, end, q);
}
ZRC_AVX2 void avx2Range32(const uint8_t* c, uint8_t* s, const uint8_t* map, uint32_t begin, uint32_t end,
                          uint32_t q) {
    avx2Range<32>(c, s, map, begin, end, q);
}
ZRC_AVX2 void avx2Block(int edge, const uint8_t* c, int q, uint8_t* s) {
    switch (edge) {
        case 4:
            return avx2Block<4>(transformTables(4), avx2Tables(), c, q, s);
        case 8:
            return avx2Block<8>(transformTables(8), avx2Tables(), c, q, s);
        case 16:
            return avx2Block<16>(transformTables(16), avx2Tables(), c, q, s);
        default:
            return avx2Block<32>(transformTables(32), avx2Tables(), c, q, s);
    }
}

bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#else
bool processorHasAvx2() {
    return false;
}
#endif

std::atomic<bool> avx2_kernels{processorHasAvx2()};

}  // namespace

void useReferenceKernels(bool on) {
    reference_kernels.store(on);
}
bool referenceKernels() {
    return reference_kernels.load();
}

void useAvx2Kernels(bool on) {
    avx2_kernels.store(on && processorHasAvx2());
}
bool avx2Kernels() {
    return avx2_kernels.load();
}

void inverseTransformBlockReference(int edge, const uint8_t* coefficients, int quality, uint8_t* samples) {
    const TransformTables& t = transformTables(edge);
    const int n = edge;
    uint32_t c[32 * 32];
    for (int z = 0; z < n * n; ++z) {
        const int p = t.natural[z];
        c[p] = dequantise(coefficients[z], t.shift[quality][p]);
    }
    separableInverseReference(n, c, t.basis, samples);
}

void separableInverseReference(int n, const uint32_t* c, const int32_t* basis, uint8_t* samples) {
    uint32_t rows[32 * 32];
    for (int u = 0; u < n; ++u) {
        for (int j = 0; j < n; ++j) {
            uint32_t sum = 0;
            for (int k = 0; k < n; ++k)
                sum += c[u * n + k] * static_cast<uint32_t>(basis[j * n + k]);
            rows[u * n + j] = sum;
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            uint32_t sum = kLevelShift;
            for (int k = 0; k < n; ++k)
                sum += static_cast<uint32_t>(basis[i * n + k]) * rows[k * n + j];
            samples[i * n + j] = clampSample(sum);
        }
    }
}

void inverseTransformBlock(int edge, const uint8_t* coefficients, int quality, uint8_t* samples) {
#if ZRC_HAVE_AVX2_KERNELS
    if (avx2Kernels()) return avx2Block(edge, coefficients, quality, samples);
#endif
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
    const TransformTables& t = transformTables(N);
    forEachChangedBlock(coefficients, N * N, samples, N * N, map, begin, end, quality,
                        [&](const uint8_t* c, int q, uint8_t* s) ZRC_LAMBDA { fastBlock<N>(t, c, q, s); });
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
        return forEachChangedBlock(
            coefficients, bytes, samples, bytes, map, begin, end, quality,
            [&](const uint8_t* c, int q, uint8_t* s) { inverseTransformBlockReference(edge, c, q, s); });
    }
#if ZRC_HAVE_AVX2_KERNELS
    if (avx2Kernels()) {
        switch (edge) {
            case 4:
                return avx2Range4(coefficients, samples, map, begin, end, quality);
            case 8:
                return avx2Range8(coefficients, samples, map, begin, end, quality);
            case 16:
                return avx2Range16(coefficients, samples, map, begin, end, quality);
            default:
                return avx2Range32(coefficients, samples, map, begin, end, quality);
        }
    }
#endif
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
    inverseTransformPlane(layout.edges[plane], coefficients + layout.offsets[plane],
                          samples + layout.offsets[plane], map, begin, end, quality);
}

void inverseTransformPlane(int edge, const uint8_t* coefficients, uint8_t* samples, const uint8_t* map,
                           uint32_t begin, uint32_t end, uint32_t quality) {
    transformRange(edge, coefficients, samples, map, begin, end, quality, referenceKernels());
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

}  // namespace zrc
