#include "codec/scaledtransform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "codec/transform.h"
#include "codec/transformtables.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The fast form in both legs, the portable code and the AVX2 kernel (skipped without AVX2), whatever the
// process had chosen (ZRC_FORCE_REFERENCE runs this file on the plain kernels), which it gets back after.
class ScaledKernels : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        zrc::useReferenceKernels(false);
        zrc::useAvx2Kernels(GetParam());
        if (GetParam() && !zrc::avx2Kernels())
            GTEST_SKIP() << "this processor has no AVX2; its kernels are not tested";
    }
    void TearDown() override {
        zrc::useReferenceKernels(reference_);
        zrc::useAvx2Kernels(avx2_);
    }

private:
    const bool reference_ = zrc::referenceKernels();
    const bool avx2_ = zrc::avx2Kernels();
};

INSTANTIATE_TEST_SUITE_P(Forms, ScaledKernels, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Avx2" : "Portable";
                         });

// Kinds of blocks that take different paths through the fast form.
enum Kind { kSparse, kDense, kExtreme, kLowSquare, kOneCoefficient, kDcOnly, kKinds };

Bytes randomBlock(std::mt19937& rng, int edge, int kind) {
    const zrc::TransformTables& t = zrc::transformTables(edge);
    Bytes block(static_cast<size_t>(edge * edge), 0);
    const int low = zrc::scaledEdge(edge, 1);
    for (size_t z = 0; z < block.size(); ++z) {
        const int row = t.natural[z] / edge, column = t.natural[z] % edge;
        switch (kind) {
            case kSparse:
                if (z < 12 && rng() % 2) block[z] = static_cast<uint8_t>(static_cast<int>(rng() % 41) - 20);
                break;
            case kDense:
                block[z] = static_cast<uint8_t>(rng());
                break;
            case kExtreme:  // wraps 32 bits at the largest shifts, as the full transform does
                block[z] = (rng() % 2) ? 0x7F : 0x80;
                break;
            case kLowSquare:  // every coefficient the reduced transform reads at shift 1, none other
                if (row < low && column < low) block[z] = static_cast<uint8_t>(rng());
                break;
            default:
                break;
        }
    }
    if (kind == kOneCoefficient) block[1 + rng() % (block.size() - 1)] = static_cast<uint8_t>(rng());
    if (kind == kDcOnly) block[0] = static_cast<uint8_t>(rng());
    return block;
}

TEST_P(ScaledKernels, FastFormMatchesReferenceForEveryEdgeShiftAndQuality) {
    std::mt19937 rng(13);
    for (int edge : {4, 8, 16, 32}) {
        for (int shift = 0; shift <= 3; ++shift) {
            const size_t out = static_cast<size_t>(zrc::scaledEdge(edge, shift));
            for (int q = 0; q < 6; ++q) {
                for (int kind = 0; kind < kKinds; ++kind) {
                    for (int round = 0; round < 10; ++round) {
                        const Bytes block = randomBlock(rng, edge, kind);
                        Bytes expected(out * out), actual(out * out);
                        zrc::scaledInverseTransformBlockReference(edge, shift, block.data(), q,
                                                                  expected.data());
                        zrc::scaledInverseTransformBlock(edge, shift, block.data(), q, actual.data());
                        ASSERT_EQ(actual, expected)
                            << "edge " << edge << " shift " << shift << " q" << q << " kind " << kind;
                    }
                }
            }
        }
    }
}

// A run of a plane's blocks: each changed block as the single-block reference at its quality (row 0 for map
// entry 1, r for entry 4 + r), each unchanged one left as it was, in the scaled layout of every plane, 4:2:0
// and 4:4:4.
TEST_P(ScaledKernels, BlocksOfAPlaneAreTheReferenceBlocksInTheScaledLayout) {
    std::mt19937 rng(29);
    struct Case {
        int matrix;
        bool chroma420;
    };
    const auto quality = [](uint8_t entry) { return entry >= 4 ? entry - 4 : entry == 1 ? 0 : 4; };
    for (const Case& c : {Case{8, true}, Case{16, true}, Case{32, false}, Case{4, false}}) {
        const zrc::PictureLayout layout =
            zrc::PictureLayout::of(c.matrix, 5 * c.matrix, 3 * c.matrix, c.chroma420);
        Bytes coefficients(layout.bytes), map(layout.blocks());
        for (uint8_t& b : map)
            b = static_cast<uint8_t>(rng() % 2 ? rng() % 3 : 4 + rng() % 6);
        for (int plane = 0; plane < 3; ++plane) {
            for (uint32_t b = 0; b < layout.blocks(); ++b) {
                const Bytes block = randomBlock(rng, layout.edges[plane], static_cast<int>(rng() % kKinds));
                std::copy(block.begin(), block.end(),
                          coefficients.begin() + static_cast<long>(layout.offsets[plane] + b * block.size()));
            }
        }
        for (int shift = 0; shift <= 3; ++shift) {
            const zrc::PictureLayout out = layout.scaled(shift);
            Bytes expected(out.bytes, 0xAA), actual(out.bytes, 0xAA);
            for (int plane = 0; plane < 3; ++plane) {
                for (uint32_t b = 1; b < layout.blocks(); ++b) {  // block 0 lies outside the run
                    if (map[b] == 0) continue;
                    zrc::scaledInverseTransformBlockReference(
                        layout.edges[plane], shift,
                        coefficients.data() + layout.offsets[plane] + b * layout.blockBytes(plane),
                        quality(map[b]), expected.data() + out.offsets[plane] + b * out.blockBytes(plane));
                }
                zrc::scaledInverseTransformBlocks(layout, plane, shift, coefficients.data(), actual.data(),
                                                  map.data(), 1, layout.blocks(), 4);
            }
            ASSERT_EQ(actual, expected) << "matrix " << c.matrix << " shift " << shift;
        }
    }
}

// Smooth content: coefficients falling off with frequency, so that the full block neither clamps nor holds
// much the smaller picture cannot show. The reduced picture is a preview: close to the box average of the
// full one, not equal to it.
TEST(ScaledTransform, CloseToTheBoxAverageOfTheFullBlockOnSmoothContent) {
    struct Case {
        int edge, shift;
        double mean;  // bound on the mean difference
        int largest;  // bound on the largest difference
    };
    const Case cases[] = {{4, 1, 1.0, 4},  {4, 2, 1.0, 3},  {8, 1, 1.0, 4},  {8, 2, 1.0, 4},
                          {8, 3, 1.0, 3},  {16, 1, 1.0, 4}, {16, 2, 1.0, 4}, {16, 3, 1.0, 4},
                          {32, 1, 1.0, 4}, {32, 2, 1.0, 4}, {32, 3, 1.0, 4}};
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        const zrc::TransformTables& t = zrc::transformTables(c.edge);
        const int out = zrc::scaledEdge(c.edge, c.shift), m = c.edge / out;
        double total = 0;
        int largest = 0, samples = 0, blocks = 0;
        while (blocks < 200) {
            const int q = static_cast<int>(rng() % 6);
            Bytes block(static_cast<size_t>(c.edge * c.edge), 0);
            for (int z = 0; z < c.edge * c.edge; ++z) {
                const int p = t.natural[z], f = p / c.edge + p % c.edge;
                // Dequantised amplitudes in proportion to the edge: about the same in samples at every edge
                // and quality.
                const int amplitude = std::min(127, (32 * c.edge / (1 + f * f)) >> t.shift[q][p]);
                if (amplitude > 0)
                    block[z] =
                        static_cast<uint8_t>(static_cast<int>(rng() % (2 * amplitude + 1)) - amplitude);
            }
            Bytes full(block.size()), reduced(static_cast<size_t>(out * out));
            zrc::inverseTransformBlockReference(c.edge, block.data(), q, full.data());
            bool clamped = false;
            for (uint8_t v : full)
                clamped = clamped || v == 0 || v == 255;
            if (clamped) continue;
            ++blocks;
            zrc::scaledInverseTransformBlockReference(c.edge, c.shift, block.data(), q, reduced.data());
            for (int a = 0; a < out; ++a) {
                for (int b = 0; b < out; ++b) {
                    int sum = 0;
                    for (int i = a * m; i < a * m + m; ++i) {
                        for (int j = b * m; j < b * m + m; ++j)
                            sum += full[static_cast<size_t>(i * c.edge + j)];
                    }
                    const double average = static_cast<double>(sum) / (m * m);
                    const double difference = std::fabs(reduced[static_cast<size_t>(a * out + b)] - average);
                    total += difference;
                    largest = std::max(largest, static_cast<int>(std::lround(difference)));
                    ++samples;
                }
            }
        }
        EXPECT_LE(total / samples, c.mean) << "edge " << c.edge << " shift " << c.shift;
        EXPECT_LE(largest, c.largest) << "edge " << c.edge << " shift " << c.shift;
    }
}

// A block with its first coefficient only is flat: the reduced block is the same flat value, clamped or not.
TEST_P(ScaledKernels, DcOnlyBlockIsTheFullBlocksValue) {
    for (int edge : {4, 8, 16, 32}) {
        for (int shift = 0; shift <= 3; ++shift) {
            const size_t out = static_cast<size_t>(zrc::scaledEdge(edge, shift));
            for (int q = 0; q < 6; ++q) {
                for (int dc = -128; dc < 128; ++dc) {
                    Bytes block(static_cast<size_t>(edge * edge), 0), full(block.size());
                    block[0] = static_cast<uint8_t>(dc);
                    zrc::inverseTransformBlockReference(edge, block.data(), q, full.data());
                    Bytes reference(out * out), fast(out * out);
                    zrc::scaledInverseTransformBlockReference(edge, shift, block.data(), q, reference.data());
                    zrc::scaledInverseTransformBlock(edge, shift, block.data(), q, fast.data());
                    ASSERT_EQ(reference, Bytes(out * out, full[0]))
                        << "edge " << edge << " shift " << shift << " q" << q << " dc " << dc;
                    ASSERT_EQ(fast, reference) << "edge " << edge << " shift " << shift << " q" << q;
                }
            }
        }
    }
}

}  // namespace
