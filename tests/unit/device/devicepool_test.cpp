#include "device/devicepool.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(DevicePool, HoldsOneBlockOfEightFromTheStart) {
    DevicePool pool;
    EXPECT_EQ(pool.blockCount(), 1u);
    EXPECT_EQ(pool.freeCount(), 8u);
    EXPECT_EQ(DevicePool(3).freeCount(), 8u);
    EXPECT_EQ(DevicePool(12).freeCount(), 12u);
}

TEST(DevicePool, NinthDeviceInUseAllocatesASecondBlock) {
    DevicePool pool;
    std::set<Device*> inUse;
    for (int i = 0; i < 8; ++i)
        inUse.insert(pool.acquire());
    EXPECT_EQ(pool.blockCount(), 1u);
    inUse.insert(pool.acquire());
    EXPECT_EQ(inUse.size(), 9u);
    EXPECT_EQ(pool.blockCount(), 2u);
    EXPECT_EQ(pool.freeCount(), 7u);
    for (Device* device : inUse) {
        EXPECT_EQ(device->id, -1);
        EXPECT_FALSE(device->isRunning());
        EXPECT_EQ(device->window.load(), nullptr);
    }
}

TEST(DevicePool, ReturnedDeviceGoesToTheBack) {
    DevicePool pool;
    Device* first = pool.acquire();
    pool.release(first);
    for (int i = 0; i < 7; ++i)
        EXPECT_NE(pool.acquire(), first);
    EXPECT_EQ(pool.acquire(), first);
    EXPECT_EQ(pool.blockCount(), 1u);
}

}  // namespace
