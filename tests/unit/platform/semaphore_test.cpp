#include "platform/semaphore.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(Semaphore, ReleaseBeyondMaximumIsLost) {
    platform::Semaphore semaphore(1, 2);
    EXPECT_TRUE(semaphore.release());
    EXPECT_FALSE(semaphore.release());
    EXPECT_FALSE(semaphore.release(0));
    EXPECT_TRUE(semaphore.acquireFor(0));
    EXPECT_TRUE(semaphore.acquireFor(0));
    EXPECT_FALSE(semaphore.acquireFor(10));
}

TEST(Semaphore, ReleaseWakesAWaiterOnAnotherThread) {
    platform::Semaphore semaphore(0, 32);
    std::thread waiter([&] { semaphore.acquire(); });
    EXPECT_TRUE(semaphore.release());
    waiter.join();
    EXPECT_FALSE(semaphore.acquireFor(0));
}

}  // namespace
