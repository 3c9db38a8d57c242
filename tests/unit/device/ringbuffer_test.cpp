#include "device/ringbuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> counting(size_t n, uint8_t from) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), from);
    return bytes;
}

// The storage starts small and grows only as far as the bytes waiting need, keeping them in order across the
// wrap; at its limit a write takes what fits.
TEST(RingBuffer, GrowsOnDemandUpToItsLimitKeepingTheOrder) {
    const size_t limit = 4 * RingBuffer::kInitialCapacity + 100;
    RingBuffer ring(limit);
    ASSERT_TRUE(ring.ok());
    EXPECT_EQ(ring.capacity(), RingBuffer::kInitialCapacity);

    // Wrap the read and write positions first, so the growth has to straighten them out.
    const size_t nearlyFull = RingBuffer::kInitialCapacity - 10;
    std::vector<uint8_t> sink(limit);
    ASSERT_EQ(ring.write(counting(nearlyFull, 0).data(), nearlyFull), nearlyFull);
    ASSERT_EQ(ring.read(sink.data(), nearlyFull - 20), nearlyFull - 20);
    const std::vector<uint8_t> first = counting(100, 50);
    ASSERT_EQ(ring.write(first.data(), first.size()), first.size());  // wraps
    EXPECT_EQ(ring.capacity(), RingBuffer::kInitialCapacity);

    const std::vector<uint8_t> big = counting(RingBuffer::kInitialCapacity, 7);
    ASSERT_EQ(ring.write(big.data(), big.size()), big.size());
    EXPECT_EQ(ring.capacity(), 2 * RingBuffer::kInitialCapacity);
    // Laid out with copies into a sized vector: GCC 12 at -O3 misreads chained inserts as overflows.
    const std::vector<uint8_t> unread = counting(20, static_cast<uint8_t>(nearlyFull - 20));
    std::vector<uint8_t> expected(unread.size() + first.size() + big.size());
    auto at = std::copy(unread.begin(), unread.end(), expected.begin());
    at = std::copy(first.begin(), first.end(), at);
    std::copy(big.begin(), big.end(), at);
    ASSERT_EQ(ring.used(), expected.size());
    std::vector<uint8_t> out(expected.size());
    ASSERT_EQ(ring.peek(out.data(), out.size()), out.size());
    EXPECT_EQ(out, expected);

    const std::vector<uint8_t> huge(limit, 1);
    EXPECT_EQ(ring.write(huge.data(), huge.size()), limit - expected.size());
    EXPECT_EQ(ring.capacity(), limit);
    EXPECT_EQ(ring.used(), limit);
    ASSERT_EQ(ring.read(out.data(), out.size()), out.size());
    EXPECT_EQ(out, expected);
}

// Writes and reads of every size, the ring emptied between some of them and not others, hand out the bytes
// in the order written, across the wrap and the growth.
TEST(RingBuffer, KeepsTheOrderWhetherOrNotItEmptiesBetweenWrites) {
    constexpr size_t kCap = RingBuffer::kInitialCapacity;
    RingBuffer ring(4 * kCap);
    const struct {
        size_t write, read;
    } steps[] = {{100, 100}, {kCap - 10, kCap - 40}, {200, 230}, {kCap, 10}, {kCap / 2, kCap + kCap / 2 - 10},
                 {1, 1},     {3 * kCap, 3 * kCap}};
    std::vector<uint8_t> written, got;
    uint8_t next = 0;
    for (const auto& step : steps) {
        const std::vector<uint8_t> bytes = counting(step.write, next);
        next = static_cast<uint8_t>(next + step.write);
        ASSERT_EQ(ring.write(bytes.data(), bytes.size()), bytes.size());
        written.resize(written.size() + bytes.size());
        std::copy(bytes.begin(), bytes.end(), written.end() - static_cast<ptrdiff_t>(bytes.size()));
        std::vector<uint8_t> out(step.read);
        ASSERT_EQ(ring.read(out.data(), out.size()), out.size());
        got.resize(got.size() + out.size());
        std::copy(out.begin(), out.end(), got.end() - static_cast<ptrdiff_t>(out.size()));
        ASSERT_EQ(ring.used(), written.size() - got.size());
    }
    EXPECT_EQ(ring.used(), 0u);
    EXPECT_EQ(got, written);
}

// A writer at the limit waits for the reader; below the limit it never waits.
TEST(RingBuffer, WriterWaitsForRoomOnlyAtTheLimit) {
    RingBuffer ring(RingBuffer::kInitialCapacity * 2);
    const std::vector<uint8_t> half(RingBuffer::kInitialCapacity, 3);
    ASSERT_EQ(ring.write(half.data(), half.size()), half.size());
    EXPECT_TRUE(ring.waitForRoom());  // full, but it can still grow
    ASSERT_EQ(ring.write(half.data(), half.size()), half.size());
    ASSERT_EQ(ring.write(half.data(), 1), 0u);
    std::thread reader([&] {
        std::vector<uint8_t> out(10);
        ring.read(out.data(), out.size());
    });
    EXPECT_TRUE(ring.waitForRoom());
    reader.join();
    EXPECT_EQ(ring.write(half.data(), 10), 10u);
    ring.close();
    EXPECT_FALSE(ring.waitForRoom());
}

// After an idle the storage goes back to its first size, but never while a byte waits; it grows again on
// demand, keeping the order.
TEST(RingBuffer, ShrinksOnlyWhenEmpty) {
    RingBuffer ring(4 * RingBuffer::kInitialCapacity);
    const std::vector<uint8_t> big = counting(3 * RingBuffer::kInitialCapacity, 1);
    ASSERT_EQ(ring.write(big.data(), big.size()), big.size());
    ASSERT_GE(ring.capacity(), big.size());
    std::vector<uint8_t> out(big.size());
    ASSERT_EQ(ring.read(out.data(), big.size() - 1), big.size() - 1);
    EXPECT_FALSE(ring.shrinkWhenEmpty()) << "one byte still waits";
    EXPECT_GT(ring.capacity(), RingBuffer::kInitialCapacity);
    ASSERT_EQ(ring.read(out.data(), 1), 1u);
    EXPECT_TRUE(ring.shrinkWhenEmpty());
    EXPECT_EQ(ring.capacity(), RingBuffer::kInitialCapacity);
    EXPECT_FALSE(ring.shrinkWhenEmpty());

    ASSERT_EQ(ring.write(big.data(), big.size()), big.size());
    ASSERT_EQ(ring.read(out.data(), out.size()), out.size());
    EXPECT_EQ(out, big);
}

}  // namespace
