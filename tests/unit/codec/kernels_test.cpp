#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "codec/blockmap.h"
#include "codec/coefficients.h"
#include "codec/conversion.h"
#include "codec/picturelayout.h"
#include "codec/smoothing.h"
#include "codec/transform.h"
#include "codec/transformtables.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Transform, ZigzagIsTheJpegScanGeneralised) {
    const zrc::TransformTables& t8 = zrc::transformTables(8);
    const int jpeg[16] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5};
    for (int z = 0; z < 16; ++z)
        EXPECT_EQ(t8.natural[z], jpeg[z]) << z;
    EXPECT_EQ(t8.natural[63], 63);
    const zrc::TransformTables& t4 = zrc::transformTables(4);
    const int four[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};
    for (int z = 0; z < 16; ++z)
        EXPECT_EQ(t4.natural[z], four[z]) << z;
}

TEST(Transform, WeightsAreTheScaledCosines) {
    const int32_t* b8 = zrc::transformTables(8).basis;
    const int32_t row0[8] = {91, 126, 118, 106, 91, 71, 49, 25};
    const int32_t row1[8] = {91, 106, 49, -25, -91, -126, -118, -71};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(b8[k], row0[k]);
        EXPECT_EQ(b8[8 + k], row1[k]);
    }
    EXPECT_EQ(zrc::transformTables(4).basis[1], 167);
    EXPECT_EQ(zrc::transformTables(4).basis[2], 128);
    EXPECT_EQ(zrc::transformTables(16).basis[1], 90);
    EXPECT_EQ(zrc::transformTables(16).basis[0], 64);
    EXPECT_EQ(zrc::transformTables(32).basis[1], 64);
    EXPECT_EQ(zrc::transformTables(32).basis[0], 45);
    EXPECT_EQ(zrc::transformTables(32).basis[31], 3);
}

TEST(Transform, DequantisationShifts) {
    struct Case {
        int edge, quality, row, column, shift;
    };
    const Case cases[] = {{8, 0, 0, 0, 4},  {8, 0, 7, 7, 3},    {8, 2, 0, 2, 3},    {8, 2, 3, 0, 4},
                          {8, 5, 0, 1, 4},  {8, 5, 7, 7, 7},    {16, 1, 7, 7, 4},   {16, 1, 8, 7, 5},
                          {32, 0, 0, 0, 6}, {32, 2, 20, 26, 6}, {32, 2, 31, 31, 7}, {4, 1, 3, 3, 4},
                          {4, 1, 0, 2, 3},  {4, 4, 0, 0, 4}};
    for (const Case& c : cases) {
        EXPECT_EQ(zrc::transformTables(c.edge).shift[c.quality][c.row * c.edge + c.column], c.shift)
            << c.edge << " q" << c.quality << " (" << c.row << "," << c.column << ")";
    }
}

TEST(Transform, WorkedBlocks) {
    for (bool reference : {true, false}) {
        Bytes coefficients(64, 0), samples(64);
        auto run = [&](int q) {
            if (reference) {
                zrc::inverseTransformBlockReference(8, coefficients.data(), q, samples.data());
            } else {
                zrc::inverseTransformBlock(8, coefficients.data(), q, samples.data());
            }
        };
        run(3);
        EXPECT_EQ(samples, Bytes(64, 128)) << "level shift only";
        coefficients[0] = 1;
        run(0);
        EXPECT_EQ(samples, Bytes(64, 130)) << "(16 * 91 * 91 + 0x800000) >> 16";
        coefficients[0] = 0x80;  // -128: far below black
        run(5);
        EXPECT_EQ(samples, Bytes(64, 0));
        coefficients[0] = 0x7F;
        run(5);
        EXPECT_EQ(samples, Bytes(64, 255));
    }
}

// Kinds of coefficient blocks that take different paths through the fast transforms.
enum BlockKind { kSparse, kDense, kExtreme, kOneAc, kDcOnly, kDenseTail, kBlockKinds };

Bytes randomBlock(std::mt19937& rng, int edge, int kind) {
    Bytes block(static_cast<size_t>(edge * edge), 0);
    auto any = [&] { return static_cast<uint8_t>(rng()); };
    for (size_t i = 0; i < block.size(); ++i) {
        switch (kind) {
            case kSparse:  // low frequencies
                if (i < 10 && rng() % 2) block[i] = static_cast<uint8_t>(static_cast<int>(rng() % 41) - 20);
                break;
            case kDense:
                block[i] = any();
                break;
            case kExtreme:  // -128 and 127, which overflow 32 bits at the largest shifts
                block[i] = (rng() % 2) ? 0x7F : 0x80;
                break;
            case kDenseTail:  // the last zigzag half only, extreme
                if (i >= block.size() / 2) block[i] = (rng() % 2) ? 0x7F : 0x80;
                break;
            default:
                break;
        }
    }
    if (kind == kOneAc) block[1 + rng() % (block.size() - 1)] = any();
    if (kind == kDcOnly) block[0] = any();
    return block;
}

// The fast kernel forms, each a leg of its own: the portable vector code everywhere, and the AVX2 kernels,
// which skip with a message on a processor without AVX2 rather than run the portable code a second time.
enum class FastForm { kPortable, kAvx2 };

class FastKernels : public ::testing::TestWithParam<FastForm> {
protected:
    void SetUp() override {
        zrc::useReferenceKernels(false);
        zrc::useAvx2Kernels(avx2());
        if (avx2() && !zrc::avx2Kernels())
            GTEST_SKIP() << "this processor has no AVX2; its kernels are not tested";
    }
    // Gives the process back the forms it had chosen.
    void TearDown() override {
        zrc::useReferenceKernels(reference_);
        zrc::useAvx2Kernels(avx2_);
    }
    bool avx2() const { return GetParam() == FastForm::kAvx2; }
    // Runs body(false) on the plain reference kernels, then body(true) on this leg's fast form.
    template <typename Body>
    void referenceThenFast(Body body) {
        zrc::useReferenceKernels(true);
        body(false);
        zrc::useReferenceKernels(false);
        body(true);
    }

private:
    const bool reference_ = zrc::referenceKernels();
    const bool avx2_ = zrc::avx2Kernels();
};

INSTANTIATE_TEST_SUITE_P(Forms, FastKernels, ::testing::Values(FastForm::kPortable, FastForm::kAvx2),
                         [](const ::testing::TestParamInfo<FastForm>& info) {
                             return info.param == FastForm::kAvx2 ? "Avx2" : "Portable";
                         });

TEST_P(FastKernels, TransformMatchesReferenceOnRandomAndExtremeBlocks) {
    std::mt19937 rng(5);
    for (int edge : {4, 8, 16, 32}) {
        for (int q = 0; q < 6; ++q) {
            for (int kind = 0; kind < kBlockKinds; ++kind) {
                for (int round = 0; round < 20; ++round) {
                    const Bytes block = randomBlock(rng, edge, kind);
                    Bytes expected(block.size()), actual(block.size());
                    zrc::inverseTransformBlockReference(edge, block.data(), q, expected.data());
                    zrc::inverseTransformBlock(edge, block.data(), q, actual.data());
                    ASSERT_EQ(actual, expected) << "edge " << edge << " q" << q << " kind " << kind;
                }
            }
        }
    }
}

TEST(Transform, PictureUsesQualityRowZeroForEntryOne) {
    // Two 8x8 blocks (4:4:4, one block row): the AC coefficient at zigzag 14 (anti-diagonal 4) dequantises
    // with shift 3 in row 0 but 6 in row 5.
    const size_t pp = 128;
    Bytes coefficients(3 * pp, 0);
    coefficients[14] = 3;
    coefficients[64 + 14] = 3;
    Bytes samples(3 * pp, 0);
    const uint8_t map[2] = {1, 2};
    ASSERT_EQ(
        zrc::inverseTransformPicture(coefficients.data(), samples.data(), map, 2, 8, pp, false, 5, false),
        3 * pp);
    Bytes q0(64), q5(64);
    zrc::inverseTransformBlockReference(8, coefficients.data(), 0, q0.data());
    zrc::inverseTransformBlockReference(8, coefficients.data(), 5, q5.data());
    EXPECT_NE(q0, q5);
    EXPECT_EQ(Bytes(samples.begin(), samples.begin() + 64), q0);
    EXPECT_EQ(Bytes(samples.begin() + 64, samples.begin() + 128), q5);
    EXPECT_EQ(Bytes(samples.begin() + pp, samples.begin() + pp + 64), Bytes(64, 128)) << "second plane";
    EXPECT_EQ(
        zrc::inverseTransformPicture(coefficients.data(), samples.data(), map, 2, 12, pp, false, 5, false),
        0u);
}

TEST(BlockMap, ExpandsTwoBitEntriesLowestFirst) {
    const uint8_t packed[8] = {0xE4, 0x1B, 0, 0xC0, 0x03, 0xFF, 0xFF, 0xFF};
    uint8_t map[20];
    EXPECT_EQ(zrc::expandBlockMap(packed, 17, map), 4u);
    const uint8_t expected[17] = {0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3};
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ(map[i], expected[i]) << i;
    uint8_t again[8] = {};
    zrc::packBlockMap(map, 17, again);
    EXPECT_EQ(0, std::memcmp(again, packed, 4));
    EXPECT_EQ(again[4], 0x03);
}

TEST(Coefficients, ReplaceAndXorWalkTheCodedBlocks) {
    // 4:2:0, matrix 8, four blocks; blocks 1 and 3 coded. Luma blocks 64 bytes, colour blocks 16.
    const size_t pp = 256;
    const uint8_t map[4] = {0, 2, 0, 1};
    Bytes section(2 * 96);
    for (size_t i = 0; i < section.size(); ++i)
        section[i] = static_cast<uint8_t>(i * 7 + 1);
    Bytes planes(pp * 3 / 2, 0xAA);
    ASSERT_EQ(zrc::applyCodedBlocks(section.data(), planes.data(), map, 4, 2, 8, pp, true, false),
              pp * 3 / 2);
    EXPECT_EQ(planes[0], 0xAA);
    EXPECT_EQ(planes[64], section[0]);             // luma block 1 from the first coded luma block
    EXPECT_EQ(planes[3 * 64 + 63], section[127]);  // luma block 3 from the second
    EXPECT_EQ(planes[pp + 16], section[128]);      // first colour plane, block 1
    EXPECT_EQ(planes[pp + 48 + 15], section[159]);
    EXPECT_EQ(planes[pp * 5 / 4 + 16], section[160]);  // second colour plane starts at predictions * 80
    EXPECT_EQ(planes[pp * 5 / 4 + 48 + 15], section[191]);
    EXPECT_EQ(planes[pp * 5 / 4], 0xAA);

    const Bytes before = planes;
    zrc::applyCodedBlocks(section.data(), planes.data(), map, 4, 2, 8, pp, true, true);
    EXPECT_NE(planes, before);
    zrc::applyCodedBlocks(section.data(), planes.data(), map, 4, 2, 8, pp, true, true);
    EXPECT_EQ(planes, before) << "xor twice restores";
}

TEST(Conversion, ColourFormulaWorkedValues) {
    const zrc::Rgb c = zrc::yuvToRgb(128, 126, 126);
    EXPECT_EQ(c.r, 127);
    EXPECT_EQ(c.g, 132);
    EXPECT_EQ(c.b, 127);
    const zrc::Rgb black = zrc::yuvToRgb(0, 128, 128);
    EXPECT_EQ(black.r, 2);  // 0 + 170 - 168
    const zrc::Rgb clipped = zrc::yuvToRgb(255, 255, 0);
    EXPECT_EQ(clipped.r, 87);   // 255 + 0 - 168
    EXPECT_EQ(clipped.b, 255);  // 255 + 340 - 168
    EXPECT_EQ(zrc::yuvToRgb(0, 255, 255).g, 0);
}

TEST(Conversion, PacksEveryOutputFormat) {
    // One 8x8 RGB-plane block, a 3x2 picture: red 0xF8, green 0xFC, blue 0x08.
    const size_t pp = 64;
    Bytes planes(3 * pp);
    std::fill(planes.begin(), planes.begin() + 64, 0xF8);
    std::fill(planes.begin() + 64, planes.begin() + 128, 0xFC);
    std::fill(planes.begin() + 128, planes.end(), 0x08);
    const uint8_t map[1] = {1};
    struct Case {
        uint32_t format;
        uint32_t pixel;
        int bytes;
    };
    const Case cases[] = {{9, 0xFFE1, 2},      {14, 0x0FFF, 2},     {15, 0x7FE1, 2},     {20, 0x07FF, 2},
                          {39, 0xFFF8FC08, 4}, {44, 0xFF08FCF8, 4}, {51, 0x00F8FC08, 4}, {56, 0x0008FCF8, 4}};
    for (const Case& c : cases) {
        Bytes image(3 * 2 * 4 + 8, 0xEE);
        ASSERT_EQ(zrc::convertPicture(0x84, planes.data(), image.data(), map, 1, 8, 3, 2, c.format, false),
                  static_cast<size_t>(3 * 2 * c.bytes));
        uint32_t pixel = 0;
        std::memcpy(&pixel, image.data() + 5 * c.bytes, static_cast<size_t>(c.bytes));
        EXPECT_EQ(pixel, c.pixel) << c.format;
        EXPECT_EQ(image[static_cast<size_t>(6 * c.bytes)], 0xEE) << "cropped to width x height";
    }
    Bytes image(64 * 4);
    EXPECT_EQ(zrc::convertPicture(0x84, planes.data(), image.data(), map, 1, 8, 3, 2, 33, false), 0u);
    EXPECT_EQ(zrc::convertPicture(0x84, planes.data(), image.data(), map, 1, 16, 3, 2, 44, false), 0u);
}

TEST(Smoothing, AveragesCloseEdgesOfInnerChangedBlocks) {
    // 3x3 blocks of edge 8 (4:4:4, only plane 0 checked); the centre block changed.
    const int w = 24, h = 24;
    const size_t pp = 576;
    Bytes in(3 * pp, 100);
    for (int k = 0; k < 64; ++k)
        in[4 * 64 + k] = 110;  // centre block
    for (int k = 0; k < 64; ++k)
        in[5 * 64 + k] = 200;      // right neighbour: too far to blend
    in[1 * 64 + 7 * 8 + 0] = 104;  // above, bottom-left sample
    Bytes out(3 * pp, 0);
    uint8_t time_map[9] = {0, 0, 0, 0, 2, 0, 0, 0, 0};
    uint8_t space_map[9] = {};
    for (bool mark : {false, true}) {
        ASSERT_EQ(
            zrc::smoothPicture(in.data(), out.data(), time_map, space_map, 9, 8, w, h, false, mark, false),
            3 * pp);
        const uint8_t* c = out.data() + 4 * 64;
        if (!mark) {
            EXPECT_EQ(c[1], 105);          // top row: (110 + 100) >> 1
            EXPECT_EQ(c[0], 105);          // corner: the left comparison is the later one
            EXPECT_EQ(c[7], 110);          // top-right corner: the right neighbour differs by 90
            EXPECT_EQ(c[8 + 7], 110);      // right column stays
            EXPECT_EQ(c[63 - 3], 105);     // bottom row
            EXPECT_EQ(c[3 * 8 + 3], 110);  // inside untouched
        } else {
            EXPECT_EQ(c[1], 127);
            EXPECT_EQ(c[8 + 7], 255);
            EXPECT_EQ(c[3 * 8 + 3], 110);
        }
        EXPECT_EQ(out[0], 0) << "unchanged blocks are not written";
        EXPECT_EQ(space_map[4], 2);
    }
    // A changed border block is copied without smoothing.
    time_map[4] = 0;
    time_map[1] = 1;
    zrc::smoothPicture(in.data(), out.data(), time_map, space_map, 9, 8, w, h, false, false, false);
    EXPECT_EQ(out[64 + 7 * 8], 104);
}

TEST_P(FastKernels, SmoothingMatchesReferenceOnRandomAndThresholdSamples) {
    std::mt19937 rng(17);
    for (int matrix : {8, 16, 32}) {
        for (bool c420 : {false, true}) {
            const int columns = 5, rows = 4, w = columns * matrix, h = rows * matrix;
            const size_t pp = static_cast<size_t>(w) * static_cast<size_t>(h);
            // Neighbours that differ by 0, 31, 32 or anything, around the byte ends too.
            Bytes in(c420 ? pp * 3 / 2 : pp * 3);
            for (uint8_t& b : in) {
                const uint8_t base = static_cast<uint8_t>(rng() % 2 ? 100 : rng() % 2 ? 0 : 255);
                const int steps[] = {0, 31, -31, 32, -32, static_cast<int>(rng() % 256)};
                b = static_cast<uint8_t>(base + steps[rng() % 6]);
            }
            Bytes map(static_cast<size_t>(columns * rows));
            for (uint8_t& m : map)
                m = static_cast<uint8_t>(rng() % 3);
            for (bool mark : {false, true}) {
                Bytes out[2];
                referenceThenFast([&](bool fast) {
                    Bytes space(map.size());
                    Bytes& o = out[fast];
                    o.assign(in.size(), 0xEE);
                    ASSERT_EQ(
                        zrc::smoothPicture(in.data(), o.data(), map.data(), space.data(),
                                           static_cast<uint32_t>(map.size()), matrix, w, h, c420, mark, fast),
                        in.size());
                });
                EXPECT_EQ(out[1], out[0]) << "matrix " << matrix << " 4:2:0 " << c420 << " mark " << mark;
            }
        }
    }
}

// Whole pictures through the per-plane range kernels: blocks of every kind, map entries 0 (skipped), 1
// (quality row 0) and 2, every edge the layouts use.
TEST_P(FastKernels, TransformPictureMatchesReferenceOnEveryMatrixAndMap) {
    std::mt19937 rng(23);
    struct Case {
        int matrix;
        bool chroma420;
    };
    for (const Case& c :
         {Case{4, false}, Case{8, false}, Case{8, true}, Case{16, true}, Case{32, false}, Case{32, true}}) {
        const int columns = 3, rows = 2;
        const zrc::PictureLayout layout =
            zrc::PictureLayout::of(c.matrix, columns * c.matrix, rows * c.matrix, c.chroma420);
        const size_t padded = static_cast<size_t>(columns * c.matrix) * static_cast<size_t>(rows * c.matrix);
        Bytes coefficients(layout.bytes);
        for (int plane = 0; plane < 3; ++plane) {
            const int edge = layout.edges[plane];
            for (uint32_t b = 0; b < layout.blocks(); ++b) {
                const Bytes block = randomBlock(rng, edge, static_cast<int>(rng() % kBlockKinds));
                std::copy(block.begin(), block.end(),
                          coefficients.begin() + static_cast<std::ptrdiff_t>(layout.offsets[plane] +
                                                                             b * layout.blockBytes(plane)));
            }
        }
        Bytes map(layout.blocks());
        for (size_t b = 0; b < map.size(); ++b)
            map[b] = static_cast<uint8_t>(b % 3);
        for (uint32_t quality : {3u, 5u}) {
            Bytes out[2];
            referenceThenFast([&](bool fast) {
                out[fast].assign(layout.bytes, 0xEE);
                // The portable leg also spreads the picture over the cores.
                ASSERT_EQ(zrc::inverseTransformPicture(coefficients.data(), out[fast].data(), map.data(),
                                                       static_cast<uint32_t>(map.size()), c.matrix, padded,
                                                       c.chroma420, quality, fast && !avx2()),
                          layout.bytes);
            });
            EXPECT_EQ(out[1], out[0]) << "matrix " << c.matrix << " 4:2:0 " << c.chroma420 << " q" << quality;
        }
    }
}

}  // namespace

namespace {

uint32_t packExpected(uint32_t format, zrc::Rgb c) {
    switch (format) {
        case 9:
            return (c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3;
        case 14:
            return (c.b >> 3) << 11 | (c.g >> 2) << 5 | c.r >> 3;
        case 15:
            return (c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3;
        case 20:
            return (c.b >> 3) << 10 | (c.g >> 3) << 5 | c.r >> 3;
        case 39:
            return 0xFF000000u | c.r << 16 | c.g << 8 | c.b;
        case 44:
            return 0xFF000000u | c.b << 16 | c.g << 8 | c.r;
        case 51:
            return c.r << 16 | c.g << 8 | c.b;
        default:
            return c.b << 16 | c.g << 8 | c.r;
    }
}

TEST_P(FastKernels, ConversionOfEveryFormatSourceAndEdgeMatchesThePixelFormula) {
    std::mt19937 rng(9);
    for (uint32_t frame_format : {0x84u, 0x8Cu, 0x8Eu}) {
        for (int matrix : {8, 16, 32}) {
            if (frame_format == 0x84 && matrix == 16) continue;
            const bool c420 = frame_format == 0x8E;
            // Cropped last column and row, then a picture of whole blocks only.
            for (const auto& [width, height] :
                 {std::pair{3 * matrix - 3, 2 * matrix + 5}, std::pair{3 * matrix, 3 * matrix}}) {
                const int columns = 3, rows = 3;
                const size_t pp = static_cast<size_t>(columns * matrix) * static_cast<size_t>(rows * matrix);
                Bytes planes(c420 ? pp * 3 / 2 : pp * 3);
                for (uint8_t& b : planes)
                    b = static_cast<uint8_t>(rng());
                Bytes map(9, 1);
                map[4] = 0;
                const int ce = c420 ? matrix / 2 : matrix;
                const size_t offsets[3] = {0, pp, c420 ? pp * 5 / 4 : 2 * pp};
                for (uint32_t format : {9u, 14u, 15u, 20u, 39u, 44u, 51u, 56u}) {
                    const int bytes = format < 33 ? 2 : 4;
                    Bytes image(static_cast<size_t>(width * height * bytes), 0xEE);
                    ASSERT_EQ(zrc::convertPicture(frame_format, planes.data(), image.data(), map.data(), 9,
                                                  matrix, width, height, format, true),
                              image.size());
                    for (int y = 0; y < height; ++y) {
                        for (int x = 0; x < width; ++x) {
                            const int b = (y / matrix) * columns + x / matrix;
                            const int i = y % matrix, j = x % matrix;
                            const int ci = c420 ? i / 2 : i, cj = c420 ? j / 2 : j;
                            const uint8_t s0 =
                                planes[static_cast<size_t>(b * matrix * matrix + i * matrix + j)];
                            const uint8_t s1 =
                                planes[offsets[1] + static_cast<size_t>(b * ce * ce + ci * ce + cj)];
                            const uint8_t s2 =
                                planes[offsets[2] + static_cast<size_t>(b * ce * ce + ci * ce + cj)];
                            const zrc::Rgb c =
                                frame_format == 0x84 ? zrc::Rgb{s0, s1, s2} : zrc::yuvToRgb(s0, s1, s2);
                            uint32_t actual = 0;
                            std::memcpy(&actual, image.data() + static_cast<size_t>((y * width + x) * bytes),
                                        static_cast<size_t>(bytes));
                            const uint32_t expected =
                                b == 4 ? (bytes == 2 ? 0xEEEEu : 0xEEEEEEEEu) : packExpected(format, c);
                            ASSERT_EQ(actual, expected)
                                << "frame " << frame_format << " m" << matrix << " format " << format << " ("
                                << x << "," << y << ")";
                        }
                    }
                }
            }
        }
    }
}

// Reduced scales convert blocks of edge 1, 2 and 4 in runs along the block rows: runs longer than the fast
// form takes at once, runs cut by the end of a row or of the range, a cropped last column and row.
TEST_P(FastKernels, ScaledConversionMatchesReferenceOnEveryEdgeAndOddSize) {
    std::mt19937 rng(13);
    for (uint32_t frame_format : {0x84u, 0x8Cu, 0x8Eu}) {
        for (int matrix : {8, 16, 32}) {
            if (frame_format == 0x84 && matrix == 16) continue;
            for (int shift = 1; shift <= 3; ++shift) {
                const int edge = matrix >> shift;
                if (edge > 4) continue;
                const bool c420 = frame_format == 0x8E && edge > 1;
                for (const auto& [columns, rows] : {std::pair{3, 2}, std::pair{150, 3}}) {
                    // A last column and row cut short where the edge allows it.
                    const int width = columns * edge - (edge > 1 ? 1 : 0);
                    const int height = rows * edge - edge / 2;
                    const size_t luma = static_cast<size_t>(columns * rows * edge * edge);
                    Bytes planes(luma + 2 * (c420 ? luma / 4 : luma));
                    for (uint8_t& b : planes)
                        b = static_cast<uint8_t>(rng());
                    const uint32_t blocks = static_cast<uint32_t>(columns * rows);
                    Bytes map(blocks, 1);
                    for (uint32_t b = 0; b < blocks; ++b) {
                        if (rng() % 5 == 0) map[b] = 0;
                    }
                    if (blocks > 140) std::fill(map.begin() + 10, map.begin() + 140, 2);
                    const uint32_t split = blocks / 2 + 1;
                    for (uint32_t format : {9u, 14u, 15u, 20u, 39u, 44u, 51u, 56u}) {
                        const size_t bytes = static_cast<size_t>(width * height * (format < 33 ? 2 : 4));
                        Bytes images[2] = {Bytes(bytes, 0xEE), Bytes(bytes, 0xEE)};
                        referenceThenFast([&](bool fast) {
                            uint8_t* image = images[fast].data();
                            ASSERT_EQ(
                                zrc::convertScaledBlocks(frame_format, planes.data(), image, map.data(), 0,
                                                         split, matrix, shift, width, height, format),
                                bytes);
                            zrc::convertScaledBlocks(frame_format, planes.data(), image, map.data(), split,
                                                     blocks, matrix, shift, width, height, format);
                        });
                        ASSERT_EQ(images[1], images[0])
                            << "frame " << frame_format << " m" << matrix << " shift " << shift << " format "
                            << format << " " << width << "x" << height;
                    }
                }
            }
        }
    }
}

}  // namespace
