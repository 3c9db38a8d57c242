// Zigzag order, dequantisation shifts and transform weights, built once.
#include "codec/transformtables.h"

#include <cmath>
#include <vector>

namespace zrc {
namespace {

// Shift rows of edges 8, 16 and 32: pairs of (last anti-diagonal, shift), by quality.
struct ShiftRun {
    int last;
    int shift;
};
struct DiagonalShifts {
    int dc;
    std::vector<ShiftRun> rows[6];
};

const DiagonalShifts kShifts8 = {4,
                                 {{{14, 3}},
                                  {{4, 3}, {9, 4}, {14, 5}},
                                  {{2, 3}, {6, 4}, {10, 5}, {14, 6}},
                                  {{3, 4}, {7, 5}, {11, 6}, {14, 7}},
                                  {{2, 4}, {5, 5}, {8, 6}, {14, 7}},
                                  {{1, 4}, {3, 5}, {5, 6}, {14, 7}}}};
const DiagonalShifts kShifts16 = {4,
                                  {{{30, 4}},
                                   {{14, 4}, {30, 5}},
                                   {{9, 4}, {20, 5}, {30, 6}},
                                   {{7, 4}, {14, 5}, {22, 6}, {30, 7}},
                                   {{5, 4}, {11, 5}, {17, 6}, {30, 7}},
                                   {{3, 4}, {7, 5}, {11, 6}, {30, 7}}}};
const DiagonalShifts kShifts32 = {6,
                                  {{{62, 5}},
                                   {{30, 5}, {62, 6}},
                                   {{30, 5}, {46, 6}, {62, 7}},
                                   {{20, 5}, {41, 6}, {62, 7}},
                                   {{15, 5}, {30, 6}, {62, 7}},
                                   {{7, 5}, {15, 6}, {62, 7}}}};
// Edge 4: shifts by zigzag position.
const uint8_t kShifts4[6][16] = {
    {3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, {3, 2, 2, 3, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4},
    {3, 3, 3, 4, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5}, {4, 4, 4, 5, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6},
    {4, 5, 5, 6, 5, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7}, {4, 5, 5, 6, 5, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7}};

struct TableStore {
    int edge;
    std::vector<uint16_t> natural;
    std::vector<uint16_t> zigzag;
    std::vector<uint8_t> shift[6];
    std::vector<uint32_t> scan[6];
    std::vector<int32_t> basis;
    std::vector<int32_t> columns;
    TransformTables view;

    explicit TableStore(int n)
        : edge(n),
          natural(static_cast<size_t>(n * n)),
          zigzag(static_cast<size_t>(n * n)),
          basis(static_cast<size_t>(n * n)),
          columns(static_cast<size_t>(n * n)) {
        // JPEG zigzag generalised: anti-diagonals from (0, 0), odd ones walked with the row rising.
        int z = 0;
        for (int s = 0; s <= 2 * (n - 1); ++s) {
            const int low = s < n ? 0 : s - n + 1;
            const int high = s < n ? s : n - 1;
            for (int k = 0; k <= high - low; ++k) {
                const int u = (s % 2 == 1) ? low + k : high - k;
                zigzag[static_cast<size_t>(u * n + (s - u))] = static_cast<uint16_t>(z);
                natural[static_cast<size_t>(z++)] = static_cast<uint16_t>(u * n + (s - u));
            }
        }
        for (int q = 0; q < 6; ++q) {
            shift[q].resize(static_cast<size_t>(n * n));
            scan[q].resize(static_cast<size_t>(n * n));
            for (int zz = 0; zz < n * n; ++zz) {
                const int p = natural[static_cast<size_t>(zz)];
                const int bits = shiftAt(n, q, zz, p / n + p % n);
                shift[q][static_cast<size_t>(p)] = static_cast<uint8_t>(bits);
                scan[q][static_cast<size_t>(zz)] = static_cast<uint32_t>(p / n | (p % n) << 8 | bits << 16);
            }
        }
        // Weights round(128 * sqrt(8 / N) * cos(k * pi / (2N))): for N = 8 the constants 126, 118, ... 25,
        // for N = 32 round(64 * cos(k * pi / 64)), which is the choice made for the 32-point transform.
        // Coefficient 0 takes the weight of k = N / 2, as in the even-odd butterfly.
        const double pi = std::acos(-1.0);
        const double scale = 128.0 * std::sqrt(8.0 / n);
        auto weight = [&](int k) {
            return static_cast<int32_t>(std::lround(scale * std::cos(k * pi / (2 * n))));
        };
        for (int i = 0; i < n; ++i) {
            for (int k = 0; k < n; ++k) {
                int32_t value;
                if (k == 0) {
                    value = weight(n / 2);
                } else {
                    const int m = (k * (2 * i + 1)) % (4 * n);  // angle m * pi / (2N)
                    if (m <= n) {
                        value = weight(m);
                    } else if (m <= 2 * n) {
                        value = -weight(2 * n - m);
                    } else if (m <= 3 * n) {
                        value = -weight(m - 2 * n);
                    } else {
                        value = weight(4 * n - m);
                    }
                }
                basis[static_cast<size_t>(i * n + k)] = value;
                columns[static_cast<size_t>(k * n + i)] = value;
            }
        }
        view.edge = n;
        view.natural = natural.data();
        view.zigzag = zigzag.data();
        for (int q = 0; q < 6; ++q) {
            view.shift[q] = shift[q].data();
            view.scan[q] = scan[q].data();
        }
        view.basis = basis.data();
        view.columns = columns.data();
    }

    static int shiftAt(int n, int q, int zigzag, int diagonal) {
        if (n == 4) return kShifts4[q][zigzag];
        const DiagonalShifts& table = n == 8 ? kShifts8 : n == 16 ? kShifts16 : kShifts32;
        if (diagonal == 0) return table.dc;
        for (const ShiftRun& run : table.rows[q]) {
            if (diagonal <= run.last) return run.shift;
        }
        return table.rows[q].back().shift;
    }
};

}  // namespace

const TransformTables& transformTables(int edge) {
    static const TableStore t4(4), t8(8), t16(16), t32(32);
    switch (edge) {
        case 4:
            return t4.view;
        case 8:
            return t8.view;
        case 16:
            return t16.view;
        default:
            return t32.view;
    }
}

}  // namespace zrc
