#include "avc/rotation.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A 3 x 2 picture whose pixels are numbered 1..6 row by row:
//   1 2 3
//   4 5 6
std::vector<uint32_t> turned(int32_t angle) {
    const std::vector<uint32_t> src = {1, 2, 3, 4, 5, 6};
    std::vector<uint32_t> dst(6);
    rotatePixels(reinterpret_cast<const uint8_t*>(src.data()), 3, 2, 3 * 4, angle,
                 reinterpret_cast<uint8_t*>(dst.data()));
    return dst;
}

}  // namespace

TEST(Rotation, TurnsClockwise) {
    EXPECT_EQ(turned(0), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(turned(90), (std::vector<uint32_t>{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(turned(180), (std::vector<uint32_t>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(turned(270), (std::vector<uint32_t>{3, 6, 2, 5, 1, 4}));
}

TEST(Rotation, NormalizesAngles) {
    const struct {
        int32_t angle, expected;
    } cases[] = {{0, 0}, {90, 90}, {270, 270}, {360, 0}, {450, 90}, {-90, 270}, {45, 0}, {91, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(normalizeRotation(c.angle), c.expected) << c.angle;
}
