#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "codec/frameheader.h"
#include "codec/handle.h"
#include "codec/include/zrc.h"
#include "codec/transform.h"
#include "tests/unit/codec/framebuilder.h"
#include "tests/unit/codec/handleptr.h"
#include "tests/unit/codec/logcapture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zrctest::FrameSpec;
using zrctest::Geometry;

using zrctest::Handle;

int clamp255(int v) {
    return v < 1 ? 0 : v >= 255 ? 255 : v;
}

// Sample of a block whose only coefficient is the DC byte d, worked out from the transform's weights.
int dcSample(int edge, int d, int q) {
    const int64_t w = edge == 4 ? 128 : edge == 8 ? 91 : edge == 16 ? 64 : 45;
    const int shift = edge == 4 ? (q <= 2 ? 3 : 4) : edge == 32 ? 6 : 4;
    const int64_t sum = w * w * d * (int64_t{1} << shift) + 0x800000;
    const int64_t value = sum >> 16;
    return value < 0 ? 0 : value > 255 ? 255 : static_cast<int>(value);
}

// What the test expects the picture to hold: one DC value and quality per block and plane.
struct Model {
    Geometry g;
    uint32_t frame_format;
    std::vector<int8_t> dc[3];
    std::vector<int> q[3];

    Model(const Geometry& geometry, uint32_t format) : g(geometry), frame_format(format) {
        for (int p = 0; p < 3; ++p) {
            dc[p].assign(g.mapsize(), 0);
            q[p].assign(g.mapsize(), 0);
        }
    }

    Bytes coefficientPlanes() const {
        Bytes planes(g.planeBytes(), 0);
        for (int p = 0; p < 3; ++p) {
            for (uint32_t b = 0; b < g.mapsize(); ++b)
                planes[g.blockOffset(p, b)] = static_cast<uint8_t>(dc[p][b]);
        }
        return planes;
    }

    // Pixel (x, y) as bytes R, G, B, 255 (image format 44).
    uint32_t pixel(int x, int y) const {
        const uint32_t b = static_cast<uint32_t>((y / g.matrix) * g.columns() + x / g.matrix);
        int s[3];
        for (int p = 0; p < 3; ++p)
            s[p] = dcSample(g.edge(p), dc[p][b], q[p][b]);
        int r = s[0], gr = s[1], bl = s[2];
        if (frame_format != ZRC_FRAME_RGB) {
            r = clamp255(s[0] + ((s[2] * 87381) >> 16) - 168);
            gr = clamp255(s[0] - (((s[1] + s[2]) * 87381) >> 16) + 339);
            bl = clamp255(s[0] + ((s[1] * 87381) >> 16) - 168);
        }
        return 0xFF000000u | static_cast<uint32_t>(bl) << 16 | static_cast<uint32_t>(gr) << 8 |
               static_cast<uint32_t>(r);
    }

    ::testing::AssertionResult matches(const Bytes& image) const {
        for (int y = 0; y < g.height; ++y) {
            for (int x = 0; x < g.width; ++x) {
                uint32_t actual;
                std::memcpy(&actual, image.data() + 4 * (static_cast<size_t>(y) * g.width + x), 4);
                if (actual != pixel(x, y)) {
                    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << std::hex
                                                         << actual << " expected " << pixel(x, y);
                }
            }
        }
        return ::testing::AssertionSuccess();
    }
};

int decode(ZrcHandle* h, const Bytes& frame, Bytes& image, uint32_t* quality = nullptr) {
    return zrc_decompress(h, frame.data(), image.data(), quality);
}

Handle plainHandle() {
    Handle h(zrc_create());
    zrc_clear_flags(h.get(), ZRC_FLAG_SMOOTH);
    return h;
}

struct PipelineCase {
    Geometry g;
    uint32_t frame_format;
    uint32_t pack_format;
};

TEST(Decompress, AbsoluteThenReplaceThenXorGiveTheKnownPixels) {
    const PipelineCase cases[] = {
        {{40, 26, 8, true}, ZRC_FRAME_YUV420, ZRC_PACK_LZ},
        {{37, 29, 8, true}, ZRC_FRAME_YUV420A, ZRC_PACK_RLE},
        {{50, 35, 16, true}, ZRC_FRAME_YUV420B, ZRC_PACK_LZ},
        {{70, 100, 32, true}, ZRC_FRAME_YUV420, ZRC_PACK_RLE},
        {{30, 20, 8, false}, ZRC_FRAME_YUV444, ZRC_PACK_LZ},
        {{33, 60, 16, false}, ZRC_FRAME_YUV444, ZRC_PACK_RLE},
        {{65, 100, 32, false}, ZRC_FRAME_YUV444, ZRC_PACK_LZ},
        {{20, 28, 8, false}, ZRC_FRAME_RGB, ZRC_PACK_RLE},
        {{40, 40, 32, false}, ZRC_FRAME_RGB, ZRC_PACK_LZ},
    };
    for (const PipelineCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.g.width << "x" << c.g.height << " m" << c.g.matrix << " format "
                                        << c.frame_format << " pack " << c.pack_format);
        std::mt19937 rng(c.g.width * 31 + c.g.matrix);
        auto randomDc = [&] { return static_cast<int8_t>(static_cast<int>(rng() % 61) - 30); };
        Model model(c.g, c.frame_format);
        for (int p = 0; p < 3; ++p) {
            for (int8_t& v : model.dc[p])
                v = randomDc();
        }
        Handle h = plainHandle();
        const size_t image_bytes = static_cast<size_t>(c.g.width * c.g.height * 4);
        Bytes image(image_bytes + 64, 0x5A);

        FrameSpec absolute = zrctest::absoluteSpec(c.g, c.frame_format, model.coefficientPlanes());
        absolute.pack_format = c.pack_format;
        absolute.id = 3;
        ASSERT_EQ(decode(h.get(), zrctest::buildFrame(absolute), image), static_cast<int>(image_bytes));
        EXPECT_TRUE(model.matches(image));
        EXPECT_EQ(image[image_bytes], 0x5A) << "nothing written past the image";

        // Replace: every third block, at quality 3 (map entry 2) or row 0 (entry 1).
        Bytes map(c.g.mapsize(), 0);
        for (uint32_t b = 0; b < c.g.mapsize(); b += 3) {
            map[b] = (b % 2) ? 2 : 1;
            for (int p = 0; p < 3; ++p) {
                model.dc[p][b] = randomDc();
                model.q[p][b] = map[b] == 2 ? 3 : 0;
            }
        }
        FrameSpec replace =
            zrctest::relativeSpec(c.g, c.frame_format, ZRC_DIFF_REPLACE, map, model.coefficientPlanes(), 4);
        replace.quality = 3;
        replace.pack_format = c.pack_format;
        ASSERT_EQ(decode(h.get(), zrctest::buildFrame(replace), image), static_cast<int>(image_bytes));
        EXPECT_TRUE(model.matches(image));

        // Xor: every fourth block's DC combined with a delta.
        std::fill(map.begin(), map.end(), 0);
        Model deltas(c.g, c.frame_format);
        for (uint32_t b = 1; b < c.g.mapsize(); b += 4) {
            map[b] = 1;
            for (int p = 0; p < 3; ++p) {
                deltas.dc[p][b] = static_cast<int8_t>(rng() % 16);
                model.dc[p][b] = static_cast<int8_t>(model.dc[p][b] ^ deltas.dc[p][b]);
                model.q[p][b] = 0;
            }
        }
        FrameSpec xored =
            zrctest::relativeSpec(c.g, c.frame_format, ZRC_DIFF_XOR, map, deltas.coefficientPlanes(), 5);
        xored.quality = 3;
        xored.pack_format = c.pack_format;
        ASSERT_EQ(decode(h.get(), zrctest::buildFrame(xored), image), static_cast<int>(image_bytes));
        EXPECT_TRUE(model.matches(image));
        EXPECT_EQ(h->absolute_count, 1u);
        EXPECT_EQ(h->replace_count, 1u);
        EXPECT_EQ(h->xor_count, 1u);
    }
}

FrameSpec flatAbsolute(const Geometry& g, uint32_t id, int8_t luma_dc = 0) {
    Model model(g, ZRC_FRAME_YUV420);
    std::fill(model.dc[0].begin(), model.dc[0].end(), luma_dc);
    FrameSpec desc = zrctest::absoluteSpec(g, ZRC_FRAME_YUV420, model.coefficientPlanes());
    desc.id = id;
    return desc;
}

FrameSpec emptyReplace(const Geometry& g, uint32_t id) {
    return zrctest::relativeSpec(g, ZRC_FRAME_YUV420, ZRC_DIFF_REPLACE, Bytes(g.mapsize(), 0),
                                 Bytes(g.planeBytes()), id);
}

TEST(Decompress, RelativeFramesMustFollowOn) {
    const Geometry g{32, 32, 8, true};
    zrctest::LogCapture log;
    Handle h = plainHandle();
    Bytes image(32 * 32 * 4);
    ASSERT_EQ(decode(h.get(), zrctest::buildFrame(flatAbsolute(g, 5)), image), 32 * 32 * 4);
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 6)), image), 32 * 32 * 4)
        << "an empty replace frame still reports the full output";
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 8)), image), 0);
    EXPECT_TRUE(log.contains("ERROR USER ZRC: Unexpect relative frame id: 8"));
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 9)), image), 0);
    EXPECT_EQ(h->last_id, 6u);
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 7)), image), 32 * 32 * 4);
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(flatAbsolute(g, 100)), image), 32 * 32 * 4);
}

TEST(Decompress, FirstFrameMustBeAbsolute) {
    const Geometry g{32, 32, 8, true};
    zrctest::LogCapture log;
    Handle h = plainHandle();
    Bytes image(32 * 32 * 4);
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 1)), image), -4);
    EXPECT_TRUE(
        log.contains("INFO USER ZRC: [1] Initializing decoder, frame encode version=2.0.12, decoder "
                     "version=2.0.12"));
    EXPECT_TRUE(log.contains("ERROR USER ZRC: [1] Expect absolute frame"));
    EXPECT_EQ(h->mapsize, 0u);

    // A new size needs an absolute frame too; the old geometry stays, and the refused frame does not count in
    // the sequence: the frame after it is a gap.
    ASSERT_EQ(decode(h.get(), zrctest::buildFrame(flatAbsolute(g, 2)), image), 32 * 32 * 4);
    const Geometry wider{48, 32, 8, true};
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(wider, 3)), image), -4);
    EXPECT_EQ(h->width, 32);
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 4)), image), 0);
    EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 3)), image), 32 * 32 * 4);
}

TEST(Decompress, CommandOneStartsOverFromZeroedPlanes) {
    const Geometry g{16, 16, 8, true};
    Handle h = plainHandle();
    Bytes image(16 * 16 * 4);
    Model model(g, ZRC_FRAME_YUV420);
    std::fill(model.dc[1].begin(), model.dc[1].end(), 20);
    ASSERT_GT(
        decode(h.get(),
               zrctest::buildFrame(zrctest::absoluteSpec(g, ZRC_FRAME_YUV420, model.coefficientPlanes())),
               image),
        0);
    EXPECT_TRUE(model.matches(image));

    // Absolute frames carrying the luma plane only: the colour coefficients are kept, unless command 1.
    Bytes luma_only = model.coefficientPlanes();
    luma_only.resize(g.paddedPixels());
    FrameSpec keep = zrctest::absoluteSpec(g, ZRC_FRAME_YUV420, luma_only);
    keep.id = 2;
    ASSERT_GT(decode(h.get(), zrctest::buildFrame(keep), image), 0);
    EXPECT_TRUE(model.matches(image));

    FrameSpec restart = keep;
    restart.id = 3;
    restart.command = 1;
    zrctest::LogCapture log;
    ASSERT_GT(decode(h.get(), zrctest::buildFrame(restart), image), 0);
    EXPECT_TRUE(log.contains("[3] Initializing decoder"));
    std::fill(model.dc[1].begin(), model.dc[1].end(), 0);
    EXPECT_TRUE(model.matches(image));
}

TEST(Decompress, QualityChangeIsLoggedOnce) {
    const Geometry g{16, 16, 8, true};
    zrctest::LogCapture log;
    Handle h = plainHandle();
    Bytes image(16 * 16 * 4);
    uint32_t quality = 99;
    FrameSpec desc = flatAbsolute(g, 1);
    desc.quality = 4;
    ASSERT_GT(decode(h.get(), zrctest::buildFrame(desc), image, &quality), 0);
    EXPECT_EQ(quality, 4u);
    desc.id = 2;
    ASSERT_GT(decode(h.get(), zrctest::buildFrame(desc), image), 0);
    EXPECT_EQ(log.count("Decode quality changed to 4"), 1);
    EXPECT_TRUE(log.contains("INFO USER ZRC: [1] Decode quality changed to 4"));
}

TEST(Decompress, PlanesPassThroughWhenTheImageFormatIsTheFrameFormat) {
    struct Case {
        Geometry g;
        uint32_t format;
        bool smooth;
    };
    const Case cases[] = {{{20, 28, 8, true}, ZRC_FRAME_YUV420, false},
                          {{20, 28, 8, true}, ZRC_FRAME_YUV420, true},
                          {{40, 40, 32, true}, ZRC_FRAME_YUV420A, false},
                          {{20, 60, 16, false}, ZRC_FRAME_YUV444, true}};
    for (const Case& c : cases) {
        Handle h = plainHandle();
        if (c.smooth) zrc_set_flags(h.get(), ZRC_FLAG_SMOOTH);
        ASSERT_EQ(zrc_configure(h.get(), c.g.matrix, c.g.width, c.g.height, c.format), 0);
        Model model(c.g, c.format);
        for (int p = 0; p < 3; ++p)
            std::fill(model.dc[p].begin(), model.dc[p].end(), static_cast<int8_t>(p * 5));
        FrameSpec desc = zrctest::absoluteSpec(c.g, c.format, model.coefficientPlanes());
        Bytes planes(c.g.planeBytes() + 16, 0xEE);
        ASSERT_EQ(decode(h.get(), zrctest::buildFrame(desc), planes), static_cast<int>(c.g.planeBytes()));
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(planes[c.g.planeOffset(p)], dcSample(c.g.edge(p), p * 5, 0));
            EXPECT_EQ(planes[c.g.planeOffset(p) + c.g.paddedPixels() / (p && c.g.chroma420 ? 4 : 1) - 1],
                      dcSample(c.g.edge(p), p * 5, 0));
        }
        EXPECT_EQ(planes[c.g.planeBytes()], 0xEE);
    }
}

TEST(Decompress, SmoothingBlendsCloseBlockEdges) {
    // 3x3 blocks of 4:4:4; the centre block's luma is brighter by a little: its edges average with the
    // neighbours, its inside does not.
    const Geometry g{24, 24, 8, false};
    Handle h(zrc_create());
    Model model(g, ZRC_FRAME_YUV444);
    model.dc[0][4] = 5;
    Bytes image(24 * 24 * 4);
    ASSERT_GT(
        decode(h.get(),
               zrctest::buildFrame(zrctest::absoluteSpec(g, ZRC_FRAME_YUV444, model.coefficientPlanes())),
               image),
        0);
    const int centre = dcSample(8, 5, 0), around = dcSample(8, 0, 0);
    ASSERT_LT(centre - around, 32);
    auto red = [&](int x, int y) { return image[4 * static_cast<size_t>(y * 24 + x)]; };
    auto redOf = [&](int luma) { return clamp255(luma + ((dcSample(8, 0, 0) * 87381) >> 16) - 168); };
    EXPECT_EQ(red(12, 12), redOf(centre));
    EXPECT_EQ(red(12, 8), redOf((centre + around) >> 1));
    EXPECT_EQ(red(8, 8), redOf((centre + around) >> 1));
    EXPECT_EQ(red(0, 0), redOf(around));
}

TEST(Decompress, RefusesFramesThatDoNotFit) {
    const Geometry g{32, 32, 8, true};
    struct Case {
        const char* name;
        void (*change)(FrameSpec&);
        int result;
        const char* log;
    };
    const Case cases[] = {
        {"transform longer than section", [](FrameSpec& s) { s.trans_length = s.section.size() + 1; }, -6,
         "Frame sections do not fit"},
        {"transform longer than planes",
         [](FrameSpec& s) {
             s.section.resize(s.section.size() + 100);
             s.trans_length = s.section.size();
         },
         -6, "Frame sections do not fit"},
        {"relative with more coded blocks than predictions",
         [](FrameSpec& s) {
             s.diff_type = ZRC_DIFF_REPLACE;
             s.predictions = 3;
         },
         -6, "coded blocks"},
        {"relative section too short",
         [](FrameSpec& s) {
             s.diff_type = ZRC_DIFF_XOR;
             s.section.resize(s.section.size() - 1);
         },
         -6, "coded block bytes"},
        {"unknown pack format", [](FrameSpec& s) { s.pack_format = 3; }, -6,
         "Uncompression failed, format 3, expect 1540, got 0"},
        {"unknown frame format", [](FrameSpec& s) { s.frame_format = 0x85; }, -7,
         "[2] Invalid frame format 133"},
        {"quality over 5", [](FrameSpec& s) { s.quality = 6; }, -2, "Invalid frame header: -8"},
        {"major version 3", [](FrameSpec& s) { s.version = 0x03000000; }, -3,
         "Frame 2 major version mismatch, frame encode version=3.0.0, decoder version=2.0.12"},
        {"version 2.5.1 accepted", [](FrameSpec& s) { s.version = 0x02050001; }, 32 * 32 * 4, nullptr},
        {"zero width", [](FrameSpec& s) { s.geometry.width = 0; }, -2, "Invalid frame header: -4"},
    };
    for (const Case& c : cases) {
        zrctest::LogCapture log;
        Handle h = plainHandle();
        Bytes image(32 * 32 * 4, 0x11);
        ASSERT_GT(decode(h.get(), zrctest::buildFrame(flatAbsolute(g, 1, 10)), image), 0);
        const Bytes before = image;
        FrameSpec desc = flatAbsolute(g, 2, 40);
        c.change(desc);
        EXPECT_EQ(decode(h.get(), zrctest::buildFrame(desc), image), c.result) << c.name;
        if (c.result < 0) {
            EXPECT_EQ(image, before) << c.name;
        }
        if (c.log != nullptr) {
            EXPECT_TRUE(log.contains(c.log)) << c.name << "\n" << log.text();
        }
    }
}

TEST(Decompress, DamagedPayloadLeavesTheImage) {
    // 64x64 is decoded stage by stage; 1024x512 while it is unpacked when there are several cores. The
    // payload is cut at its end or in its middle.
    for (const Geometry g : {Geometry{64, 64, 8, true}, Geometry{1024, 512, 8, true}}) {
        for (uint32_t pack : {ZRC_PACK_LZ, ZRC_PACK_RLE}) {
            for (bool middle : {false, true}) {
                SCOPED_TRACE(testing::Message() << g.width << " pack " << pack << " middle " << middle);
                Handle h = plainHandle();
                const size_t image_bytes = static_cast<size_t>(g.width) * g.height * 4;
                Bytes image(image_bytes);
                ASSERT_GT(decode(h.get(), zrctest::buildFrame(flatAbsolute(g, 1, 3)), image), 0);
                const Bytes before = image;
                const Bytes coefficients = h->coefficients;
                FrameSpec desc = flatAbsolute(g, 2, 7);
                desc.pack_format = pack;
                Bytes frame = zrctest::buildFrame(desc);
                ZrcFrameHeader header = zrc::restoreHeader(frame.data());
                const uint32_t cut = middle ? header.pack_length / 2 : 5;
                header.pack_length -= cut;
                frame.resize(frame.size() - cut);
                zrc::writeHeader(header, frame.data());
                EXPECT_EQ(decode(h.get(), frame, image), -6);
                EXPECT_EQ(image, before);
                EXPECT_EQ(h->coefficients, coefficients);
                // A failed frame does not advance the sequence: a relative frame after it is a gap, and the
                // handle goes on with the next absolute frame.
                EXPECT_EQ(h->last_id, 1u);
                EXPECT_EQ(decode(h.get(), zrctest::buildFrame(emptyReplace(g, 3)), image), 0);
                EXPECT_GT(decode(h.get(), zrctest::buildFrame(flatAbsolute(g, 3, 7)), image), 0);
            }
        }
    }
}

TEST(Decompress, RgbPlanesWithMatrix16AreRefused) {
    const Geometry g{32, 32, 16, false};
    zrctest::LogCapture log;
    Handle h = plainHandle();
    Bytes image(32 * 32 * 4, 0x33);
    Model model(g, ZRC_FRAME_RGB);
    EXPECT_EQ(decode(h.get(),
                     zrctest::buildFrame(zrctest::absoluteSpec(g, ZRC_FRAME_RGB, model.coefficientPlanes())),
                     image),
              -8);
    EXPECT_TRUE(log.contains("[1] Cannot convert frame format 0X000084 to image format 0X00002C"));
    EXPECT_EQ(image, Bytes(32 * 32 * 4, 0x33));
}

TEST(Decompress, MapEntriesPastAWholeByteComeFromTheSection) {
    // Five blocks: the map takes one byte, the fifth entry is the low bits of the section's first byte.
    const Geometry g{40, 8, 8, true};
    Handle h = plainHandle();
    Bytes image(40 * 8 * 4);
    ASSERT_GT(decode(h.get(), zrctest::buildFrame(flatAbsolute(g, 1)), image), 0);
    Model model(g, ZRC_FRAME_YUV420);
    model.dc[0][0] = 1;  // first coded luma block: its first byte 1 also sets entry 4 to 1
    model.dc[0][4] = 12;
    Bytes map = {1, 0, 0, 0, 1};
    FrameSpec desc =
        zrctest::relativeSpec(g, ZRC_FRAME_YUV420, ZRC_DIFF_REPLACE, map, model.coefficientPlanes(), 2);
    ASSERT_GT(decode(h.get(), zrctest::buildFrame(desc), image), 0);
    EXPECT_TRUE(model.matches(image));
}

TEST(Decompress, MultiCoreAndReferenceKernelsGiveIdenticalOutput) {
    struct Case {
        Geometry g;
        uint32_t frame_format;
        uint32_t image_format;
    };
    const Case cases[] = {
        {{200, 128, 8, true}, ZRC_FRAME_YUV420, 44},
        {{250, 130, 16, true}, ZRC_FRAME_YUV420B, 9},
        {{300, 256, 32, true}, ZRC_FRAME_YUV420, 56},
        {{200, 128, 8, false}, ZRC_FRAME_YUV444, 20},
        {{250, 130, 16, false}, ZRC_FRAME_YUV444, 39},
        {{300, 256, 32, false}, ZRC_FRAME_YUV444, 15},
        {{200, 128, 8, false}, ZRC_FRAME_RGB, 51},
        {{300, 256, 32, false}, ZRC_FRAME_RGB, 14},
        {{200, 128, 8, true}, ZRC_FRAME_YUV420, ZRC_FRAME_YUV420},
        // Large enough that absolute frames are decoded while they are unpacked on several cores.
        {{1000, 264, 8, true}, ZRC_FRAME_YUV420, 44},
        {{1000, 530, 16, false}, ZRC_FRAME_YUV444, 9},
        {{1290, 1060, 32, true}, ZRC_FRAME_YUV420A, 39},
        {{1000, 264, 8, false}, ZRC_FRAME_RGB, 56},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "m" << c.g.matrix << " format " << c.frame_format << " image " << c.image_format);
        std::mt19937 rng(c.g.width + c.frame_format);
        Bytes planes(c.g.planeBytes());
        for (uint8_t& b : planes)
            b = (rng() % 4 == 0) ? static_cast<uint8_t>(rng()) : 0;
        Bytes map(c.g.mapsize());
        for (uint8_t& m : map)
            m = static_cast<uint8_t>(rng() % 4);
        FrameSpec absolute = zrctest::absoluteSpec(c.g, c.frame_format, planes);
        absolute.map = map;  // unchanged blocks in an absolute frame keep what configuration left
        absolute.quality = 4;
        FrameSpec relative = zrctest::relativeSpec(c.g, c.frame_format, ZRC_DIFF_XOR, map, planes, 2);
        relative.quality = 4;
        FrameSpec second = absolute;  // word run-length packing
        second.id = 3;
        second.pack_format = ZRC_PACK_RLE;
        const Bytes frames[3] = {zrctest::buildFrame(absolute), zrctest::buildFrame(relative),
                                 zrctest::buildFrame(second)};
        const size_t image_bytes = c.g.planeBytes() * 2 + static_cast<size_t>(c.g.width * c.g.height * 4);

        struct Mode {
            uint32_t flags;
            bool reference;
        };
        const Mode modes[] = {{ZRC_FLAG_SMOOTH, true},
                              {ZRC_FLAG_SMOOTH, false},
                              {ZRC_FLAG_SMOOTH | ZRC_FLAG_MULTICORE, false},
                              {ZRC_FLAG_SMOOTH | ZRC_FLAG_MULTICORE | ZRC_FLAG_MARK_EDGES, false},
                              {ZRC_FLAG_SMOOTH | ZRC_FLAG_MARK_EDGES, true},
                              {ZRC_FLAG_MULTICORE, false},
                              {0, true}};
        Bytes results[std::size(modes)];
        const bool forced =
            zrc::referenceKernels();  // ZRC_FORCE_REFERENCE runs the other tests on the plain forms
        for (size_t m = 0; m < std::size(modes); ++m) {
            zrc::useReferenceKernels(modes[m].reference);
            Handle h(zrc_create());
            zrc_clear_flags(h.get(), 0xFFFFFFFFu);
            zrc_set_flags(h.get(), modes[m].flags);
            ASSERT_EQ(zrc_configure(h.get(), c.g.matrix, c.g.width, c.g.height, c.image_format), 0);
            results[m].assign(image_bytes, 0);
            for (const Bytes& frame : frames)
                ASSERT_GT(decode(h.get(), frame, results[m]), 0);
        }
        zrc::useReferenceKernels(forced);
        EXPECT_EQ(results[1], results[0]);
        EXPECT_EQ(results[2], results[0]);
        EXPECT_EQ(results[3], results[4]);
        EXPECT_EQ(results[5], results[6]);
    }
}

TEST(Decompress, StreamsDecodedAtOnceShareTheCores) {
    // Two handles on two threads, each decoding large absolute and relative frames on several cores: when
    // the other stream has the pool, a frame runs on its own thread, with the same output.
    const Geometry g{1000, 520, 8, true};
    std::mt19937 rng(3);
    Bytes planes(g.planeBytes()), map(g.mapsize());
    for (uint8_t& b : planes)
        b = rng() % 3 == 0 ? static_cast<uint8_t>(rng()) : 0;
    for (uint8_t& m : map)
        m = static_cast<uint8_t>(rng() % 4);
    const Bytes frames[2] = {
        zrctest::buildFrame(zrctest::absoluteSpec(g, ZRC_FRAME_YUV420, planes, 2)),
        zrctest::buildFrame(zrctest::relativeSpec(g, ZRC_FRAME_YUV420, ZRC_DIFF_XOR, map, planes, 2))};
    const size_t image_bytes = static_cast<size_t>(g.width) * g.height * 4;
    Bytes expected[2];
    {
        Handle h(zrc_create());
        zrc_clear_flags(h.get(), ZRC_FLAG_MULTICORE);
        Bytes image(image_bytes);
        for (int f = 0; f < 2; ++f) {
            ASSERT_GT(decode(h.get(), frames[f], image), 0);
            expected[f] = image;
        }
    }
    std::atomic<int> mismatches{0};
    auto stream = [&] {
        Handle h(zrc_create());
        Bytes image(image_bytes);
        for (int round = 0; round < 10; ++round) {
            for (int f = 0; f < 2; ++f) {
                Bytes frame = frames[f];
                ZrcFrameHeader header = zrc::restoreHeader(frame.data());
                header.id = static_cast<uint32_t>(2 * round + f + 1);
                zrc::writeHeader(header, frame.data());
                if (decode(h.get(), frame, image) <= 0 || image != expected[f]) ++mismatches;
            }
        }
    };
    std::thread first(stream), second(stream);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(Decompress, PacingSpacesFramesByTheirTimestamps) {
    const Geometry g{16, 16, 8, true};
    Handle h = plainHandle();
    zrc_set_flags(h.get(), ZRC_FLAG_PACE);
    Bytes image(16 * 16 * 4);
    FrameSpec desc = flatAbsolute(g, 1);
    desc.timestamp = 1000;
    ASSERT_GT(decode(h.get(), zrctest::buildFrame(desc), image), 0);
    auto timed = [&](uint32_t id, uint32_t timestamp) {
        FrameSpec next = flatAbsolute(g, id);
        next.timestamp = timestamp;
        const Bytes frame = zrctest::buildFrame(next);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_GT(decode(h.get(), frame, image), 0);
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    };
    EXPECT_GE(timed(2, 1040), 30);
    EXPECT_LT(timed(3, 1040 + 150), 100) << "a gap above 100 ms is not waited for";
    EXPECT_EQ(h->frame_count, 3u);
}

}  // namespace
