// Forward transform kernels of the encoder.
#include "codec/forwardtransform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "codec/transform.h"
#include "codec/transformtables.h"
#include "codec/workerpool.h"

namespace zrc {
namespace {

// The decoder's weights are rounded, so each of its basis vectors k has the squared length norm(k) =
// sum over i of B(i, k)^2, near but not 65536. The coefficient that reproduces the block through them is the
// projection sum x B B scaled by 65536^2 / (norm(u) norm(v)); divided by the step 2^shift, with the samples
// doubled, that is sum * 2^(15 - shift) / (norm(u) norm(v)). The factor is kept per quality and position;
// the sums stay below 2^47, so a double holds them exactly and both kernel forms round the same products.
template <int N>
struct Quantiser {
    std::array<std::array<double, N * N>, 6> factor;  // [quality][natural position]

    Quantiser() {
        const TransformTables& t = transformTables(N);
        std::array<double, N> norms{};
        for (int k = 0; k < N; ++k)
            for (int i = 0; i < N; ++i)
                norms[k] += static_cast<double>(t.basis[i * N + k]) * t.basis[i * N + k];
        for (int q = 0; q < 6; ++q)
            for (int p = 0; p < N * N; ++p)
                factor[q][p] = static_cast<double>(1 << (15 - t.shift[q][p])) / (norms[p / N] * norms[p % N]);
    }
};

template <int N>
const Quantiser<N>& quantiser() {
    static const Quantiser<N> q;
    return q;
}

const double* factorsFor(int edge, int quality) {
    switch (edge) {
        case 4:
            return quantiser<4>().factor[quality].data();
        case 8:
            return quantiser<8>().factor[quality].data();
        case 16:
            return quantiser<16>().factor[quality].data();
        default:
            return quantiser<32>().factor[quality].data();
    }
}

// sum * factor rounded to nearest, half away from zero, saturated to a signed byte.
// Half a step towards the sign, then truncation: nearest, halves away from zero. No branches, as the signs
// and sizes of coefficients are unpredictable.
uint8_t quantise(int64_t sum, double factor) {
    const double v = static_cast<double>(sum) * factor;
    const double rounded = std::clamp(v + std::copysign(0.5, v), -128.0, 127.0);
    return static_cast<uint8_t>(static_cast<int8_t>(static_cast<int>(rounded)));
}

template <int N>
void fastBlock(const uint8_t* samples, int quality, uint8_t* coefficients) {
    const TransformTables& t = transformTables(N);
    const double* factor = quantiser<N>().factor[quality].data();
    bool flat = true;
    for (int k = 1; k < N * N && flat; ++k)
        flat = samples[k] == samples[0];
    if (flat) {
        // Every weighted sum factors into the value times the column sums of the weights.
        static const auto sums = [] {
            const TransformTables& tt = transformTables(N);
            std::array<int64_t, N> s{};
            for (int u = 0; u < N; ++u)
                for (int i = 0; i < N; ++i)
                    s[u] += tt.basis[i * N + u];
            return s;
        }();
        const int64_t value = 2 * samples[0] - 255;
        for (int z = 0; z < N * N; ++z) {
            const int p = t.natural[z];
            coefficients[z] = quantise(value * sums[p / N] * sums[p % N], factor[p]);
        }
        return;
    }
    // Rows: r(i, v) = sum over j of x(i, j) * B(j, v), fits 32 bits; columns in 64 bits, natural order.
    int32_t rows[N][N];
    for (int i = 0; i < N; ++i) {
        int32_t x[N];
        for (int j = 0; j < N; ++j)
            x[j] = 2 * samples[i * N + j] - 255;
        for (int v = 0; v < N; ++v) {
            int32_t sum = 0;
            const int32_t* column = t.columns + v * N;
            for (int j = 0; j < N; ++j)
                sum += x[j] * column[j];
            rows[i][v] = sum;
        }
    }
    int64_t sums[N * N];
    for (int u = 0; u < N; ++u) {
        int64_t* out = sums + u * N;
        for (int v = 0; v < N; ++v)
            out[v] = 0;
        const int32_t* column = t.columns + u * N;
        for (int i = 0; i < N; ++i) {
            const int64_t w = column[i];
            for (int v = 0; v < N; ++v)
                out[v] += w * rows[i][v];
        }
    }
    for (int z = 0; z < N * N; ++z) {
        const int p = t.natural[z];
        coefficients[z] = quantise(sums[p], factor[p]);
    }
}

size_t edgeBytes(int edge) {
    return static_cast<size_t>(edge) * static_cast<size_t>(edge);
}

}  // namespace

void forwardTransformBlockReference(int edge, const uint8_t* samples, int quality, uint8_t* coefficients) {
    const TransformTables& t = transformTables(edge);
    const double* factor = factorsFor(edge, quality);
    const int n = edge;
    for (int z = 0; z < n * n; ++z) {
        const int p = t.natural[z];
        const int u = p / n, v = p % n;
        int64_t sum = 0;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                sum += static_cast<int64_t>(2 * samples[i * n + j] - 255) * t.basis[i * n + u] *
                       t.basis[j * n + v];
            }
        }
        coefficients[z] = quantise(sum, factor[p]);
    }
}

void forwardTransformBlock(int edge, const uint8_t* samples, int quality, uint8_t* coefficients) {
    switch (edge) {
        case 4:
            return fastBlock<4>(samples, quality, coefficients);
        case 8:
            return fastBlock<8>(samples, quality, coefficients);
        case 16:
            return fastBlock<16>(samples, quality, coefficients);
        default:
            return fastBlock<32>(samples, quality, coefficients);
    }
}

size_t forwardTransformPicture(const uint8_t* samples, uint8_t* kept, const CodedSections& out,
                               const uint8_t* map, uint32_t mapsize, uint32_t predictions, int matrix,
                               size_t padded_pixels, bool chroma420, uint32_t quality, bool multicore) {
    if (matrix != 8 && matrix != 16 && matrix != 32) return 0;
    uint32_t coded = 0;
    for (uint32_t b = 0; b < mapsize; ++b) {
        out.index[b] = coded;
        coded += map[b] != 0;
    }
    const int edges[3] = {matrix, chroma420 ? matrix / 2 : matrix, chroma420 ? matrix / 2 : matrix};
    const size_t offsets[3] = {0, padded_pixels, chroma420 ? padded_pixels * 5 / 4 : 2 * padded_pixels};
    const size_t section_offsets[3] = {0, predictions * edgeBytes(edges[0]),
                                       predictions * (edgeBytes(edges[0]) + edgeBytes(edges[1]))};
    const bool reference = referenceKernels();
    WorkerPool::instance().run(mapsize, multicore, [&](uint32_t begin, uint32_t end) {
        for (uint32_t b = begin; b < end; ++b) {
            if (map[b] == 0) continue;
            const int q = map[b] == 1 ? 0 : static_cast<int>(quality);
            for (int plane = 0; plane < 3; ++plane) {
                const size_t bytes = edgeBytes(edges[plane]);
                const size_t at = offsets[plane] + b * bytes;
                uint8_t* target = out.replace + section_offsets[plane] + out.index[b] * bytes;
                if (reference) {
                    forwardTransformBlockReference(edges[plane], samples + at, q, target);
                } else {
                    forwardTransformBlock(edges[plane], samples + at, q, target);
                }
                if (out.xor_section != nullptr) {
                    uint8_t* x = out.xor_section + section_offsets[plane] + out.index[b] * bytes;
                    for (size_t k = 0; k < bytes; ++k)
                        x[k] = target[k] ^ kept[at + k];
                }
                std::memcpy(kept + at, target, bytes);
            }
        }
    });
    return chroma420 ? padded_pixels * 3 / 2 : padded_pixels * 3;
}

}  // namespace zrc
