#include "avc/picturepool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

TEST(PicturePool, ReusesOnlyPicturesNobodyHolds) {
    PicturePool pool;
    auto first = pool.take(4, 2, platform::PixelFormat::Rgbx);
    ASSERT_GE(first->pixels.size(), 4u * 2 * 4);
    const uint8_t* firstPixels = first->pixels.data();
    auto second = pool.take(4, 2, platform::PixelFormat::Rgbx);
    EXPECT_NE(second->pixels.data(), firstPixels) << "the first is still held";
    auto copy = first;
    first.reset();
    auto third = pool.take(4, 2, platform::PixelFormat::Rgbx);
    EXPECT_NE(third->pixels.data(), firstPixels) << "a copy still holds the first";
    copy.reset();
    auto again = pool.take(4, 2, platform::PixelFormat::Rgbx);
    EXPECT_EQ(again->pixels.data(), firstPixels);
    EXPECT_EQ(again->width, 4);
    // Pictures beyond the pool's spares are plain ones and outlive the pool.
    auto extra = pool.take(4, 2, platform::PixelFormat::Rgbx);
    std::shared_ptr<platform::Picture> kept;
    {
        PicturePool shortLived;
        kept = shortLived.take(8, 8, platform::PixelFormat::Rgbx);
    }
    kept->pixels[0] = 1;
}

// The window thread reads a picture's pixels and lets go of it; the pool's owner then writes them again. The
// reuse must come after the read (ThreadSanitizer checks the order).
TEST(PicturePool, ReuseComesAfterTheLastReaderLetGo) {
    PicturePool pool;
    unsigned sum = 0;
    for (int round = 0; round < 200; ++round) {
        auto picture = pool.take(16, 16, platform::PixelFormat::Rgbx);
        picture->pixels[0] = static_cast<uint8_t>(round);
        std::thread window([&sum, shown = std::move(picture)]() mutable {
            for (uint8_t byte : shown->pixels)
                sum += byte;
            shown.reset();
        });
        // Whatever the pool hands out now is free of readers: write all of it.
        for (int i = 0; i < 4; ++i) {
            auto next = pool.take(16, 16, platform::PixelFormat::Rgbx);
            std::fill(next->pixels.begin(), next->pixels.end(), static_cast<uint8_t>(i));
        }
        window.join();
    }
    EXPECT_GT(sum, 0u);
}

}  // namespace
