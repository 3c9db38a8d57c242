#include "device/devicemanager.h"

#include <gtest/gtest.h>

#include <vector>

#include "testenv.h"

namespace {

class DeviceManagerTest : public DeviceTestEnv {
protected:
    // Registers a device that counts as running, as a started one does (no threads needed for the registry).
    int32_t add() {
        Device* device = manager_.createDevice(kHost, 5555, INVALID_SOCKET, 0, 0, 100, 100);
        if (manager_.addDevice(device) != 0) {
            manager_.recycleDevice(device);
            return -1;
        }
        device->running = 1;
        return device->id;
    }

    static constexpr char kHost[32] = "127.0.0.1";
    DeviceManager manager_;
};

TEST_F(DeviceManagerTest, IdentifierIsCountPlusOneOrTheNextFreeAbove) {
    EXPECT_EQ(add(), 1);
    EXPECT_EQ(add(), 2);
    EXPECT_EQ(add(), 3);
    EXPECT_EQ(add(), 4);  // 1, 2, 3 mapped
    ASSERT_EQ(manager_.removeDevice(4), 0);
    ASSERT_EQ(manager_.removeDevice(1), 0);
    EXPECT_EQ(add(), 4);  // 2 and 3 mapped: candidate 3 is taken
}

TEST_F(DeviceManagerTest, SearchWrapsFrom128To1AndAFullRegistryRefuses) {
    for (int32_t id = 1; id <= 128; ++id)
        ASSERT_EQ(add(), id);
    Device* extra = manager_.createDevice(kHost, 5555, INVALID_SOCKET, 0, 0, 1, 1);
    EXPECT_FALSE(extra->isValid());
    EXPECT_EQ(manager_.addDevice(extra), -1);
    manager_.recycleDevice(extra);
    ASSERT_EQ(manager_.removeDevice(1), 0);
    EXPECT_EQ(add(), 1);  // 127 mapped: candidate 128 is taken, the search wraps
}

TEST_F(DeviceManagerTest, MissesLogOneLineAndNeverReturnNull) {
    Device* missing = manager_.findDevice(42);
    ASSERT_NE(missing, nullptr);
    EXPECT_FALSE(missing->isValid());
    EXPECT_EQ(manager_.removeDevice(43), 1);
    EXPECT_NE(log().find("device [id: 42] not found."), std::string::npos);
    EXPECT_NE(log().find("device [id: 43] not found."), std::string::npos);
}

TEST_F(DeviceManagerTest, RemovedDeviceIsBackInThePoolWithoutIdentifier) {
    const int32_t id = add();
    Device* device = manager_.findDevice(id);
    ASSERT_TRUE(device->isValid());
    device->running = 0;
    EXPECT_EQ(manager_.removeDevice(id), 0);
    EXPECT_EQ(device->id, -1);
    EXPECT_FALSE(manager_.findDevice(id)->isValid());
}

TEST_F(DeviceManagerTest, DeviceThatEndedByItselfIsReapedAndItsIdentifierReused) {
    ASSERT_EQ(add(), 1);
    ASSERT_EQ(add(), 2);
    Device* ended = manager_.findDevice(2);
    ended->markStopped();
    EXPECT_TRUE(manager_.findDevice(2)->isValid());  // still found until the next Connect
    EXPECT_EQ(add(), 2);
    EXPECT_EQ(ended->id, -1);
    EXPECT_TRUE(manager_.findDevice(1)->isRunning());
}

TEST_F(DeviceManagerTest, StopAllStopsEveryDeviceAndEmptiesTheRegistry) {
    std::vector<Device*> devices;
    for (int i = 0; i < 3; ++i)
        devices.push_back(manager_.findDevice(add()));
    EXPECT_EQ(manager_.stopAll(), 0);
    for (Device* device : devices) {
        EXPECT_FALSE(device->isRunning());
        EXPECT_EQ(device->id, -1);
    }
    EXPECT_EQ(add(), 1);
}

}  // namespace
