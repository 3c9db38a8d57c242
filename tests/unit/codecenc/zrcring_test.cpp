#include "codec/zrcring.h"

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

namespace {

TEST(ZrcRing, WrapsAroundTheEndOfItsData) {
    auto ring = ZrcRing::create(16);
    ASSERT_NE(ring, nullptr);
    std::vector<uint8_t> a(10), b(10), out(10);
    std::iota(a.begin(), a.end(), 1);
    std::iota(b.begin(), b.end(), 100);
    EXPECT_EQ(ring->write(a.data(), 10), 10);
    EXPECT_EQ(ring->read(out.data(), 10), 10);
    EXPECT_EQ(out, a);
    EXPECT_EQ(ring->write(b.data(), 10), 10);  // 6 bytes to the end, 4 at the start
    EXPECT_EQ(ring->count(), 10);
    EXPECT_EQ(ring->read(out.data(), 10), 10);
    EXPECT_EQ(out, b);
}

TEST(ZrcRing, RefusesTransfersLargerThanItAtOnce) {
    auto ring = ZrcRing::create(16);
    std::vector<uint8_t> data(17);
    EXPECT_EQ(ring->write(data.data(), 17), -1);
    EXPECT_EQ(ring->read(data.data(), 17), -1);
    EXPECT_EQ(ZrcRing::create(0), nullptr);
}

// Closing wakes a reader waiting for data and a writer waiting for room; later transfers return 0.
TEST(ZrcRing, CloseWakesWaitersAndEndsTransfers) {
    auto empty = ZrcRing::create(8);
    auto full = ZrcRing::create(8);
    std::vector<uint8_t> data(8);
    ASSERT_EQ(full->write(data.data(), 8), 8);
    int read_result = -5, write_result = -5;
    std::thread reader([&] { read_result = empty->read(data.data(), 4); });
    std::thread writer([&] { write_result = full->write(data.data(), 4); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    empty->close();
    full->close();
    reader.join();
    writer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(read_result, 0);
    EXPECT_EQ(write_result, 0);
    EXPECT_EQ(empty->write(data.data(), 1), 0);
    EXPECT_EQ(full->read(data.data(), 1), 0);
}

// A reader waiting for more than is stored and a writer waiting for room must not wait on each other: a
// transfer moves what fits as it goes.
TEST(ZrcRing, MismatchedTransferSizesDoNotDeadlock) {
    auto ring = ZrcRing::create(100);
    std::vector<uint8_t> in(6000), out(6000);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<uint8_t>(i * 7 + i / 251);
    std::thread writer([&] {
        for (size_t at = 0; at < in.size(); at += 60)
            ASSERT_EQ(ring->write(in.data() + at, 60), 60);
    });
    for (size_t at = 0; at < out.size(); at += 88) {
        const int n = static_cast<int>(std::min<size_t>(88, out.size() - at));
        ASSERT_EQ(ring->read(out.data() + at, n), n);
    }
    writer.join();
    EXPECT_EQ(out, in);
}

}  // namespace
