#include <gtest/gtest.h>

#include "codec/handle.h"
#include "codec/include/zrc.h"
#include "tests/support/testsystem.h"
#include "tests/unit/codec/handleptr.h"
#include "tests/unit/codec/logcapture.h"

namespace {

using zrctest::Handle;

TEST(Handle, CreateLogsTheVersionAndSetsDefaults) {
    zrctest::LogCapture log;
    Handle h(zrc_create());
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(log.contains("INFO USER ZRC: version=2.0.12.2511"));
    EXPECT_EQ(h->mapsize, 0u);
    EXPECT_EQ(h->matrix, 8u);
    EXPECT_EQ(h->image_format, 0x2Cu);
    EXPECT_EQ(h->flags, 0x8013u);
    EXPECT_EQ(h->quality, 2u);
    EXPECT_EQ(zrc_version(), 0x0200000Cu);
}

TEST(Handle, ConfigureComputesTheBlockGeometry) {
    struct Case {
        int matrix, width, height;
        uint32_t format;
        int result;
        uint32_t matrix_after, mapsize, xspan, yspan, bits, length;
    };
    const Case cases[] = {
        {32, 100, 50, 0, 0, 32, 8, 28, 14, 32, 100 * 50 * 4},
        {0, 64, 48, 0, 0, 8, 48, 0, 0, 32, 64 * 48 * 4},
        {16, 33, 16, 0x8C, 0, 16, 3, 15, 0, 24, 33 * 16 * 3},
        {8, 16, 16, 0x88, 0, 8, 4, 0, 0, 32, 16 * 16 * 4},
        {8, 16, 16, 0x8D, 0, 8, 4, 0, 0, 12, 16 * 16 * 3 / 2},
        {8, 16, 16, 9, 0, 8, 4, 0, 0, 16, 16 * 16 * 2},
    };
    for (const Case& c : cases) {
        Handle h(zrc_create());
        ASSERT_EQ(zrc_configure(h.get(), c.matrix, c.width, c.height, c.format), c.result);
        EXPECT_EQ(h->matrix, c.matrix_after);
        EXPECT_EQ(h->mapsize, c.mapsize);
        EXPECT_EQ(h->xspan, c.xspan);
        EXPECT_EQ(h->yspan, c.yspan);
        EXPECT_EQ(h->image_bits, c.bits);
        EXPECT_EQ(h->image_length, c.length);
        EXPECT_EQ(h->command, 1u);
        EXPECT_EQ(h->time_map[0], 1);
        EXPECT_EQ(h->time_map[c.mapsize + 31], 1);
        EXPECT_EQ(h->work[6][h->workSize() - 1], 0);
    }
}

TEST(Handle, ConfigureRefusals) {
    zrctest::LogCapture log;
    Handle h(zrc_create());
    ASSERT_EQ(zrc_configure(h.get(), 8, 64, 64, 0), 0);
    EXPECT_EQ(zrc_configure(h.get(), 12, 32, 32, 0), -2);
    EXPECT_TRUE(log.contains("ERROR USER ZRC: Invalid matrix 12"));
    EXPECT_EQ(h->mapsize, 64u) << "an invalid matrix changes nothing";
    EXPECT_EQ(h->width, 64);
    EXPECT_EQ(zrc_configure(h.get(), 8, 0, 32, 0), -2);
    EXPECT_EQ(zrc_configure(h.get(), 8, 32, 4097, 0), -2);
    EXPECT_EQ(h->mapsize, 64u);

    // A failed configuration leaves the handle unconfigured, not holding buffers of the old size.
    EXPECT_EQ(zrc_configure(h.get(), 8, 32, 32, 63), -3);
    EXPECT_TRUE(log.contains("Unrecognized image format 0000003F"));
    EXPECT_EQ(h->image_bits, 0u);
    EXPECT_EQ(h->width, 32);
    EXPECT_EQ(h->mapsize, 0u);
    EXPECT_EQ(h->time_map, nullptr);
    EXPECT_EQ(h->work[2], nullptr);
    EXPECT_EQ(zrc_configure(nullptr, 8, 32, 32, 0), -1);
}

TEST(Handle, ConfigureRgbPicksTheFormatFromTheShifts) {
    struct Case {
        int r, g, b;
        int result;
        uint32_t format;
    };
    const Case cases[] = {{16, 8, 0, 0, 39}, {0, 8, 16, 0, 44}, {11, 5, 0, 0, 9},    {10, 5, 0, 0, 15},
                          {0, 5, 11, 0, 14}, {0, 5, 10, 0, 20}, {0, 6, 11, -1, 0x2C}};
    for (const Case& c : cases) {
        zrctest::LogCapture log;
        Handle h(zrc_create());
        EXPECT_EQ(zrc_configure_rgb(h.get(), 8, 32, 32, c.r, c.g, c.b), c.result);
        EXPECT_EQ(h->image_format, c.format);
        EXPECT_TRUE(log.contains("INFO USER ZRC: Multiple CPU core mode"));
    }
    zrctest::LogCapture log;
    Handle h(zrc_create());
    zrc_clear_flags(h.get(), ZRC_FLAG_MULTICORE);
    zrc_configure_rgb(h.get(), 8, 32, 32, 0, 8, 16);
    EXPECT_TRUE(log.contains("Single CPU core mode"));
}

TEST(Handle, SettersStoreAndLogTheirRequests) {
    testsystem::setEnv("LOG_LEVEL", "7");
    zrctest::LogCapture log;
    Handle h(zrc_create());
    EXPECT_EQ(zrc_set_decode_image_format(h.get(), 0x2C), 0);
    EXPECT_TRUE(log.contains("DEBUG USER ZRC: Set decode image format from 0X00002C to 0X00002C..."));
    EXPECT_EQ(zrc_set_decode_image_format(h.get(), 39), 0);
    EXPECT_EQ(h->image_format, 39u);
    EXPECT_EQ(zrc_set_decode_image_format(h.get(), 0), -2);
    EXPECT_TRUE(log.contains("Set decode image format failed, invalid format 00000000"));
    EXPECT_EQ(h->image_format, 39u);

    EXPECT_EQ(zrc_set_decode_image_bits(h.get(), 16), 0);
    EXPECT_EQ(h->image_bits, 16u);
    EXPECT_EQ(h->image_length, 0u) << "the bits setter recomputes nothing";
    EXPECT_EQ(zrc_set_decode_image_bits(h.get(), 0), -2);

    EXPECT_EQ(zrc_set_encode_quality(h.get(), 4), 0);
    EXPECT_EQ(h->encode_quality, 4u);
    EXPECT_TRUE(log.contains("Set encode quality from 2 to 4..."));
    EXPECT_EQ(zrc_set_encode_frame_format(h.get(), 0x8C), 0);
    EXPECT_EQ(h->encode_frame_format, 0x8Cu);
    EXPECT_EQ(zrc_set_encode_frame_format(h.get(), 0), -2);
    h->diff_type = 8;
    EXPECT_EQ(zrc_reset_encoder(h.get()), 0);
    EXPECT_EQ(h->diff_type, 0u);
    EXPECT_TRUE(log.contains("Reset encoder..."));

    EXPECT_EQ(zrc_set_flags(h.get(), 0x20), 0);
    EXPECT_EQ(h->flags, 0x8033u);
    EXPECT_EQ(zrc_clear_flags(h.get(), 0x8000), 0);
    EXPECT_EQ(h->flags, 0x33u);
    testsystem::unsetEnv("LOG_LEVEL");
}

TEST(Handle, NullHandleIsRefusedEverywhere) {
    zrctest::LogCapture log;
    EXPECT_EQ(zrc_set_flags(nullptr, 1), -1);
    EXPECT_EQ(zrc_clear_flags(nullptr, 1), -1);
    EXPECT_EQ(zrc_set_decode_image_format(nullptr, 1), -1);
    EXPECT_EQ(zrc_set_decode_image_bits(nullptr, 1), -1);
    EXPECT_EQ(zrc_set_encode_quality(nullptr, 1), -1);
    EXPECT_EQ(zrc_set_encode_frame_format(nullptr, 1), -1);
    EXPECT_EQ(zrc_reset_encoder(nullptr), -1);
    EXPECT_EQ(zrc_decompress(nullptr, nullptr, nullptr, nullptr), -1);
    zrc_release(nullptr);
    EXPECT_EQ(log.count("ERROR USER ZRC: Invalid handle"), 9);
}

}  // namespace
