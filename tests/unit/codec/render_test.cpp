#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/conversion.h"
#include "codec/handle.h"
#include "codec/include/zrc.h"
#include "codec/picturelayout.h"
#include "codec/scaledtransform.h"
#include "codec/smoothing.h"
#include "tests/unit/codec/framebuilder.h"
#include "tests/unit/codec/handleptr.h"
#include "tests/unit/codec/logcapture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zrctest::FrameSpec;
using zrctest::Geometry;

using zrctest::Handle;

constexpr int kWidth = 150;  // not whole blocks, so that the last column and row are cut
constexpr int kHeight = 98;
constexpr int kFrames = 14;

int scaled(int size, int shift) {
    return (size + (1 << shift) - 1) >> shift;
}

// A screen of 32-bit pixels (bytes R, G, B, 255) at step t: a soft gradient, a text-like pattern scrolling
// up and a bright box moving right.
Bytes screen(int t) {
    Bytes image(static_cast<size_t>(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = image.data() + 4 * (static_cast<size_t>(y) * kWidth + x);
            const int row = y + 3 * t;
            const bool ink = x > 10 && x < 90 && row % 12 < 7 && ((x * 7 + row * 3) / 5) % 3 == 0;
            const bool box = x >= 6 * t && x < 6 * t + 30 && y >= 40 && y < 70;
            p[0] = static_cast<uint8_t>(ink ? 20 : box ? 240 : 60 + x);
            p[1] = static_cast<uint8_t>(ink ? 30 : box ? 200 : 40 + y * 2);
            p[2] = static_cast<uint8_t>(ink ? 40 : box ? 30 : 120 + (x + y) / 3);
            p[3] = 255;
        }
    }
    return image;
}

// The frames of a moving screen, coded at a quality that changes every frame.
std::vector<Bytes> encodeStream(uint32_t frame_format, int matrix) {
    Handle encoder(zrc_create());
    EXPECT_EQ(zrc_configure(encoder.get(), matrix, kWidth, kHeight, 44), 0);
    Bytes frame(static_cast<size_t>(zrc_frame_capacity(encoder.get())));
    std::vector<Bytes> frames;
    for (int t = 0; t < kFrames; ++t) {
        const int length = zrc_encode(encoder.get(), screen(t).data(), frame.data(),
                                      static_cast<uint32_t>(t % 6), frame_format);
        EXPECT_GT(length, 0) << "step " << t;
        if (length > 0) frames.emplace_back(frame.begin(), frame.begin() + length);
    }
    return frames;
}

size_t imageBytes(int shift) {
    return static_cast<size_t>(scaled(kWidth, shift)) * static_cast<size_t>(scaled(kHeight, shift)) * 4;
}

// Mean absolute difference per channel between a picture at 1 / (1 << shift) and the box average of the
// full picture under each of its pixels.
double boxDifference(const Bytes& full, const Bytes& small, int shift) {
    const int sw = scaled(kWidth, shift), sh = scaled(kHeight, shift);
    double total = 0;
    for (int y = 0; y < sh; ++y) {
        for (int x = 0; x < sw; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0, count = 0;
                for (int v = y << shift; v < std::min((y + 1) << shift, kHeight); ++v) {
                    for (int u = x << shift; u < std::min((x + 1) << shift, kWidth); ++u) {
                        sum += full[4 * (static_cast<size_t>(v) * kWidth + u) + c];
                        ++count;
                    }
                }
                total += std::abs(sum / count - small[4 * (static_cast<size_t>(y) * sw + x) + c]);
            }
        }
    }
    return total / (3.0 * sw * sh);
}

struct StreamCase {
    uint32_t frame_format;
    int matrix;
};

std::vector<StreamCase> streamCases() {
    std::vector<StreamCase> cases;
    for (uint32_t format :
         {ZRC_FRAME_RGB, ZRC_FRAME_YUV444, ZRC_FRAME_YUV420A, ZRC_FRAME_YUV420, ZRC_FRAME_YUV420B}) {
        for (int matrix : {8, 16, 32}) {
            if (zrc_frame_format_supported(format, matrix)) cases.push_back({format, matrix});
        }
    }
    return cases;
}

// The picture after each frame decoded one by one is what coalesced bursts and scaled display followed by
// full size give, bit for bit, with smoothing on (the default) and off.
TEST(Render, BurstsAndScaledDisplayEndAtTheFrameByFramePicture) {
    for (const StreamCase& c : streamCases()) {
        const std::vector<Bytes> frames = encodeStream(c.frame_format, c.matrix);
        ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
        // Converted pixels with smoothing (the default) and without, and the planes themselves.
        for (int output = 0; output < 3; ++output) {
            const bool smooth = output != 1, planes = output == 2;
            if (planes && c.frame_format == ZRC_FRAME_RGB) continue;  // no image format of those planes
            SCOPED_TRACE(testing::Message()
                         << "format " << std::hex << c.frame_format << std::dec << " matrix " << c.matrix
                         << " smooth " << smooth << " planes " << planes);
            const zrc::PictureLayout layout = zrc::PictureLayout::of(
                c.matrix, (kWidth + c.matrix - 1) / c.matrix * c.matrix,
                (kHeight + c.matrix - 1) / c.matrix * c.matrix, c.frame_format >= ZRC_FRAME_YUV420A);
            auto bytes = [&](int shift) {
                return static_cast<int>(planes ? layout.scaled(shift).bytes : imageBytes(shift));
            };
            Handle straight(zrc_create()), burst(zrc_create()), scaling(zrc_create());
            for (ZrcHandle* h : {straight.get(), burst.get(), scaling.get()}) {
                if (!smooth) zrc_clear_flags(h, ZRC_FLAG_SMOOTH);
                if (planes) zrc_set_decode_image_format(h, c.frame_format);
            }
            const size_t size = static_cast<size_t>(bytes(0));
            Bytes expected(size), coalesced(size), shown(size);
            // Bursts of 1, 2, 3 and 4 frames, rendered once each.
            const int burst_ends[] = {0, 2, 5, 9, 10, 13};
            int next_end = 0;
            for (int i = 0; i < kFrames; ++i) {
                ASSERT_EQ(zrc_decompress(straight.get(), frames[i].data(), expected.data(), nullptr),
                          bytes(0));

                ASSERT_GT(zrc_decode_coefficients(burst.get(), frames[i].data()), 0);
                if (i == burst_ends[next_end]) {
                    ++next_end;
                    ASSERT_EQ(zrc_render(burst.get(), coalesced.data()), bytes(0));
                    EXPECT_EQ(coalesced, expected) << "burst ending at frame " << i;
                    EXPECT_EQ(zrc_render(burst.get(), coalesced.data()), 0) << "nothing waits any more";
                }

                // Frames 3..5 shown at 1/2, 1/4, 1/8, then full size again from frame 6.
                const int shift = i >= 3 && i <= 5 ? i - 2 : 0;
                ASSERT_EQ(zrc_set_decode_scale(scaling.get(), shift), 0);
                ASSERT_GT(zrc_decode_coefficients(scaling.get(), frames[i].data()), 0);
                ASSERT_EQ(zrc_render(scaling.get(), shown.data()), bytes(shift));
                if (shift == 0) {
                    EXPECT_EQ(shown, expected) << "frame " << i;
                } else if (!planes) {
                    // A preview: near the box average of the full picture, not exact.
                    const Bytes small(shown.begin(), shown.begin() + bytes(shift));
                    EXPECT_LT(boxDifference(expected, small, shift), 16.0)
                        << "frame " << i << " shift " << shift;
                }
            }
        }
    }
}

// Renders make their planes a block row at a time, each converted as it is made: the image after a stream is
// the one the whole-picture kernels give on the coefficients the handle keeps, at every scale, with the
// picture's last block column and row cut, smoothing on and off, every block changed or only some.
TEST(Render, ImageIsTheWholePictureKernelsOnTheKeptCoefficients) {
    for (const StreamCase& c : streamCases()) {
        const std::vector<Bytes> frames = encodeStream(c.frame_format, c.matrix);
        for (int shift = 0; shift <= 3; ++shift) {
            for (const bool smooth : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << "format " << std::hex << c.frame_format << std::dec << " matrix " << c.matrix
                             << " shift " << shift << " smooth " << smooth);
                Handle h(zrc_create());
                if (!smooth) zrc_clear_flags(h.get(), ZRC_FLAG_SMOOTH);
                ASSERT_EQ(zrc_set_decode_scale(h.get(), shift), 0);
                Bytes image(imageBytes(shift));
                for (const Bytes& frame : frames)
                    ASSERT_GT(zrc_decompress(h.get(), frame.data(), image.data(), nullptr), 0);

                const zrc::PictureLayout layout = zrc::PictureLayout::of(
                    c.matrix, h->paddedWidth(), h->paddedHeight(), c.frame_format >= ZRC_FRAME_YUV420A);
                const zrc::PictureLayout output = layout.scaled(shift);
                const uint32_t mapsize = layout.blocks();
                Bytes map(mapsize);
                for (uint32_t b = 0; b < mapsize; ++b)
                    map[b] = static_cast<uint8_t>(4 + h->rows[b]);
                Bytes planes(output.bytes), smoothed(output.bytes);
                for (int plane = 0; plane < 3; ++plane)
                    zrc::scaledInverseTransformBlocks(layout, plane, shift, h->coefficients.data(),
                                                      planes.data(), map.data(), 0, mapsize, 0);
                if (smooth && shift == 0) {
                    for (int plane = 0; plane < 3; ++plane)
                        zrc::smoothBlocks(layout, plane, planes.data(), smoothed.data(), map.data(), 0,
                                          mapsize, false);
                    planes = smoothed;
                }
                Bytes expected(image.size());
                ASSERT_EQ(zrc::convertScaledBlocks(c.frame_format, planes.data(), expected.data(), map.data(),
                                                   0, mapsize, c.matrix, shift, scaled(kWidth, shift),
                                                   scaled(kHeight, shift), 44),
                          image.size());
                EXPECT_EQ(image, expected);
            }
        }
    }
}

// A 4x4-block picture of flat blocks, every colour plane mid-grey, the luma DC of each block given.
struct FlatPicture {
    Geometry g{30, 32, 8, false};  // the last block column is cut to 6 pixels
    std::vector<int8_t> luma = std::vector<int8_t>(16, 0);

    Bytes planes() const {
        Bytes out(g.planeBytes(), 0);
        for (uint32_t b = 0; b < g.mapsize(); ++b)
            out[g.blockOffset(0, b)] = static_cast<uint8_t>(luma[b]);
        return out;
    }
};

// A block's smoothed edge follows its neighbour when only the neighbour changes later: the picture after the
// frames is the one a receiver joining at the end gets from an absolute frame of the same coefficients.
TEST(Render, SmoothedEdgesFollowANeighbourThatChangesLater) {
    FlatPicture picture;
    for (int8_t& v : picture.luma)
        v = 10;
    Handle h(zrc_create());
    Bytes image(30 * 32 * 4);
    ASSERT_GT(
        zrc_decompress(
            h.get(),
            zrctest::buildFrame(zrctest::absoluteSpec(picture.g, ZRC_FRAME_YUV444, picture.planes())).data(),
            image.data(), nullptr),
        0);
    // Block 6 (column 2, row 1) gets a little brighter: its inner neighbour, block 5, is not coded again.
    picture.luma[6] = 14;
    std::vector<uint8_t> map(16, 0);
    map[6] = 2;
    const FrameSpec replace =
        zrctest::relativeSpec(picture.g, ZRC_FRAME_YUV444, ZRC_DIFF_REPLACE, map, picture.planes(), 2);
    ASSERT_GT(zrc_decompress(h.get(), zrctest::buildFrame(replace).data(), image.data(), nullptr), 0);

    Handle late(zrc_create());
    Bytes fresh(image.size());
    FrameSpec absolute = zrctest::absoluteSpec(picture.g, ZRC_FRAME_YUV444, picture.planes(), 2);
    ASSERT_GT(zrc_decompress(late.get(), zrctest::buildFrame(absolute).data(), fresh.data(), nullptr), 0);
    EXPECT_EQ(image, fresh);

    // It wrote block 6 and its four neighbours; at 1/2 only block 6, after the whole picture once.
    int x, y, w, hh;
    ASSERT_EQ(zrc_rendered_area(h.get(), &x, &y, &w, &hh), 0);
    EXPECT_EQ((std::vector<int>{x, y, w, hh}), (std::vector<int>{8, 0, 22, 24}));
    ASSERT_EQ(zrc_set_decode_scale(h.get(), 1), 0);
    ASSERT_GT(zrc_render(h.get(), image.data()), 0);
    ASSERT_EQ(zrc_rendered_area(h.get(), &x, &y, &w, &hh), 0);
    EXPECT_EQ((std::vector<int>{x, y, w, hh}), (std::vector<int>{0, 0, 15, 16}));
    map[6] = 0;
    map[7] = 3;
    const FrameSpec last =
        zrctest::relativeSpec(picture.g, ZRC_FRAME_YUV444, ZRC_DIFF_REPLACE, map, picture.planes(), 3);
    ASSERT_GT(zrc_decompress(h.get(), zrctest::buildFrame(last).data(), image.data(), nullptr), 0);
    ASSERT_EQ(zrc_rendered_area(h.get(), &x, &y, &w, &hh), 0);
    EXPECT_EQ((std::vector<int>{x, y, w, hh}), (std::vector<int>{12, 4, 3, 4}));
    EXPECT_EQ(zrc_render(h.get(), image.data()), 0);
    ASSERT_EQ(zrc_rendered_area(h.get(), &x, &y, &w, &hh), 0);
    EXPECT_EQ((std::vector<int>{x, y, w, hh}), (std::vector<int>{0, 0, 0, 0}));
    // A configure lets the picture go, and with it the area drawn in it.
    const FrameSpec again =
        zrctest::relativeSpec(picture.g, ZRC_FRAME_YUV444, ZRC_DIFF_REPLACE, map, picture.planes(), 4);
    ASSERT_GT(zrc_decompress(h.get(), zrctest::buildFrame(again).data(), image.data(), nullptr), 0);
    ASSERT_EQ(zrc_configure(h.get(), 8, 8, 8, 0), 0);
    ASSERT_EQ(zrc_rendered_area(h.get(), &x, &y, &w, &hh), 0);
    EXPECT_EQ((std::vector<int>{x, y, w, hh}), (std::vector<int>{0, 0, 0, 0}));
}

TEST(Render, RefusesWhatItCannotDo) {
    zrctest::LogCapture log;
    Bytes image(64 * 64 * 4);
    EXPECT_EQ(zrc_render(nullptr, image.data()), -1);
    EXPECT_EQ(zrc_decode_coefficients(nullptr, image.data()), -1);
    EXPECT_EQ(zrc_set_decode_scale(nullptr, 1), -1);
    EXPECT_EQ(zrc_rendered_area(nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    Handle h(zrc_create());
    EXPECT_EQ(zrc_render(h.get(), image.data()), -5);
    EXPECT_EQ(zrc_set_decode_scale(h.get(), -1), -2);
    EXPECT_EQ(zrc_set_decode_scale(h.get(), 4), -2);
    // Configured but nothing decoded yet: nothing to draw.
    ASSERT_EQ(zrc_configure(h.get(), 8, 64, 64, 0), 0);
    EXPECT_EQ(zrc_render(h.get(), image.data()), 0);
    // An image format the planes cannot be converted to.
    const Geometry g{16, 16, 8, true};
    ASSERT_EQ(zrc_set_decode_image_format(h.get(), 33), 0);
    EXPECT_GT(
        zrc_decode_coefficients(
            h.get(),
            zrctest::buildFrame(zrctest::absoluteSpec(g, ZRC_FRAME_YUV420, Bytes(g.planeBytes()))).data()),
        0);
    EXPECT_EQ(zrc_render(h.get(), image.data()), -8);
}

// The decoder holds the buffers its frames and scale need, each at the size they need.
TEST(Render, BuffersFollowTheFrameFormatAndScale) {
    struct Case {
        uint32_t frame_format;
        int matrix;
        bool smooth;
        int shift;
    };
    const Case cases[] = {
        {ZRC_FRAME_YUV420, 8, true, 0},  {ZRC_FRAME_YUV420, 8, false, 0}, {ZRC_FRAME_YUV444, 8, true, 0},
        {ZRC_FRAME_YUV420, 32, true, 0}, {ZRC_FRAME_YUV420, 8, true, 2},  {ZRC_FRAME_RGB, 32, true, 1},
        {ZRC_FRAME_YUV420, 8, true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.frame_format << std::dec << " matrix " << c.matrix
                                        << " smooth " << c.smooth << " shift " << c.shift);
        const std::vector<Bytes> frames = encodeStream(c.frame_format, c.matrix);
        Handle h(zrc_create());
        if (!c.smooth) zrc_clear_flags(h.get(), ZRC_FLAG_SMOOTH);
        Bytes image(imageBytes(0));
        // Full size first, so that the scaled render must let the full-size planes go.
        for (int i = 0; i < 3; ++i)
            ASSERT_GT(zrc_decompress(h.get(), frames[i].data(), image.data(), nullptr), 0);
        ASSERT_EQ(zrc_set_decode_scale(h.get(), c.shift), 0);
        ASSERT_GT(zrc_decompress(h.get(), frames[3].data(), image.data(), nullptr), 0);

        const zrc::PictureLayout layout = zrc::PictureLayout::of(
            c.matrix, h->paddedWidth(), h->paddedHeight(), c.frame_format >= ZRC_FRAME_YUV420A);
        // Planes are kept only for the smoothing, which reads the neighbours of the blocks a frame changes.
        EXPECT_EQ(h->coefficients.size(), layout.bytes);
        EXPECT_EQ(h->planes.size(), c.shift == 0 && c.smooth ? layout.bytes : 0);
        EXPECT_LE(h->unpacked.size(), h->workSize());
        for (uint8_t* buffer : h->work)
            EXPECT_EQ(buffer, nullptr) << "the encoder's buffers";
    }
}

}  // namespace
