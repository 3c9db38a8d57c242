// A stream into a registered, started device: its own window thread, render thread and decode thread, the
// headless window, and the registry reaping the device once its stream ended by itself.
#include <gtest/gtest.h>
#include <cstdlib>

#include "device/device.h"
#include "device/devicemanager.h"
#include "device/displaywindow.h"
#include "platform/window.h"
#include "tests/support/testsystem.h"
#include "tests/unit/stream/support/logcapture.h"
#include "tests/unit/stream/support/pictures.h"
#include "tests/unit/stream/support/streamfixtures.h"
#include "tests/unit/stream/support/zrcframes.h"

namespace {

using W = ZrcFrameWriter;

Device* connectDevice(SOCKET socket) {
    DeviceManager& registry = DeviceManager::instance();
    const char host[32] = "127.0.0.1";
    Device* device = registry.createDevice(host, 5000, socket, 10, 20, 128, 64);
    if (registry.addDevice(device) != 0) return nullptr;
    device->start();
    return device;
}

std::shared_ptr<const platform::Picture> shownBy(Device* device) {
    DisplayWindow* window = device->window.load();
    platform::Window* hwnd = window ? window->getHwnd() : nullptr;
    return hwnd ? hwnd->presented() : nullptr;
}

TEST(DeviceStream, ShowsStreamEndsWithTheConnectionAndIsReapedAtNextConnect) {
    testsystem::setEnv("QX_WINDOW", "headless");
    LogCapture log;
    TcpPair first = connectedTcpPair();
    ASSERT_GE(socketValue(first.client), 0);
    Device* device = connectDevice(first.client);
    ASSERT_NE(device, nullptr);
    const int32_t id = device->id;

    ZrcFrameWriter writer{64, 32};
    ASSERT_TRUE(sendAll(first.device, rsupFrame(7, {0}, 64, 32)));
    ASSERT_TRUE(sendAll(first.device, rsupFrame(7, writer.absolute(W::kLow, W::kHigh, W::kLow))));
    ASSERT_TRUE(sendAll(first.device, rsupFrame(7, writer.replace({7}, W::kHigh, W::kLow, W::kLow))));
    EXPECT_TRUE(waitUntil([&] {
        auto picture = shownBy(device);
        return picture && writer.mismatch(*picture).empty();
    }));
    EXPECT_EQ(pixelAt(*shownBy(device), 63, 0), (Rgb{255, 0, 0}));

    net::closeSocket(first.device);
    EXPECT_TRUE(waitUntil([&] { return !device->isRunning(); }));
    EXPECT_TRUE(waitUntil([&] { return log.count("DataReceiver::ReceiveAndDec receiveThread over") == 1; }));
    EXPECT_EQ(log.count("DataReceiver::ReceiveAndDec remote closed"), 1);
    EXPECT_EQ(DeviceManager::instance().findDevice(id), device) << "kept until the next Connect";

    // The next Connect stops and recycles the ended device (its threads joined, its socket closed), and its
    // identifier is free again for that same Connect.
    TcpPair second = connectedTcpPair();
    Device* next = connectDevice(second.client);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->id, id);
    EXPECT_EQ(log.count("createThreadReceiveAndDec success"), 1);
    if (next != device) {
        EXPECT_EQ(device->socket, INVALID_SOCKET);
        EXPECT_EQ(device->receiver, nullptr);
        EXPECT_FALSE(device->isValid());
    }
    EXPECT_EQ(DeviceManager::instance().stopAll(), 0);
    net::closeSocket(second.device);
}

}  // namespace
