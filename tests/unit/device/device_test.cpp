#include "device/device.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/displaywindow.h"
#include "platform/window.h"
#include "testenv.h"
#include "tests/support/testsystem.h"

namespace {

using namespace std::chrono_literals;

// Live threads of this process that belong to device 3.
std::multiset<std::string> deviceThreads() {
    std::multiset<std::string> names;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("dev3-", 0) == 0) names.insert(name);
    }
    closedir(dir);
    return names;
}

template <typename Predicate>
bool eventually(Predicate predicate) {
    for (int i = 0; i < 500; ++i) {
        if (predicate()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return predicate();
}

class DeviceTest : public DeviceTestEnv {
protected:
    void SetUp() override {
        DeviceTestEnv::SetUp();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair_), 0);
        device_.id = 3;
        device_.socket = pair_[0];
        device_.width = 360;
        device_.height = 640;
    }
    void TearDown() override {
        device_.stop();
        close(pair_[1]);
        DeviceTestEnv::TearDown();
    }

    platform::Window* waitForWindow() {
        platform::Window* window = nullptr;
        eventually([&] {
            DisplayWindow* displayWindow = device_.window.load();
            window = displayWindow ? displayWindow->getHwnd() : nullptr;
            return window != nullptr;
        });
        return window;
    }

    int pair_[2] = {-1, -1};
    Device device_;
};

TEST_F(DeviceTest, StartNamesItsThreadsAndStopJoinsThemAll) {
    ASSERT_EQ(device_.start(), 0);
    ASSERT_NE(waitForWindow(), nullptr);
    EXPECT_EQ(deviceThreads().count("dev3-window"), 1u);
    // The render thread wakes for the window on its own time; a stop before that rightly skips the decoder.
    EXPECT_TRUE(eventually([&] {
        return log().find("Device::renderThread dev.hwd not null can initial the decoder") !=
               std::string::npos;
    }));
    EXPECT_EQ(device_.stop(), 0);
    EXPECT_TRUE(deviceThreads().empty());
    EXPECT_EQ(device_.window.load(), nullptr);
    EXPECT_EQ(device_.socket, INVALID_SOCKET);
    EXPECT_FALSE(device_.isRunning());
    char byte;
    EXPECT_EQ(recv(pair_[1], &byte, 1, 0), 0);  // the device sees the connection end
}

TEST_F(DeviceTest, StopEndsTheRenderThreadWhenNoWindowCanBeMade) {
    testsystem::setEnv("QX_WINDOW", "x11");
    testsystem::setEnv("DISPLAY", ":31999");  // no such display
    ASSERT_EQ(device_.start(), 0);
    ASSERT_TRUE(eventually([&] { return log().find("窗口注册失败") != std::string::npos; }));
    // Still waiting for a window; on a busy machine it may name itself only after the window thread failed.
    EXPECT_TRUE(eventually([] { return deviceThreads().count("dev3-render") == 1; }));
    EXPECT_EQ(device_.stop(), 0);
    EXPECT_TRUE(deviceThreads().empty());
    testsystem::unsetEnv("DISPLAY");
}

TEST_F(DeviceTest, StopRightAfterStartEndsEveryThread) {
    // The stop may come before the window thread has stored its window.
    close(pair_[0]);
    for (int i = 0; i < 200; ++i) {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        device_.socket = pair[0];
        ASSERT_EQ(device_.start(), 0);
        EXPECT_EQ(device_.stop(), 0);
        close(pair[1]);
    }
    EXPECT_TRUE(deviceThreads().empty());
}

TEST_F(DeviceTest, DeviceEndingByItselfEndsItsWindowLoop) {
    ASSERT_EQ(device_.start(), 0);
    ASSERT_NE(waitForWindow(), nullptr);
    device_.markStopped();
    EXPECT_TRUE(eventually([] { return deviceThreads().count("dev3-window") == 0; }));
    EXPECT_EQ(device_.stop(), 0);
}

TEST_F(DeviceTest, SendQueuesWholeFramesForTheSendThread) {
    const uint8_t frame[20] = {0x52, 0x43, 0x4D, 0x53, 0, 1, 0, 0, 0, 0, 0, 8, 0, 0, 0, 110, 0, 0, 0, 1};
    EXPECT_EQ(device_.send(frame, sizeof frame), -1);  // not running: nothing writes the queue
    ASSERT_EQ(device_.start(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(device_.send(frame, sizeof frame), 0);
    uint8_t received[3 * sizeof frame] = {};
    ASSERT_EQ(recv(pair_[1], received, sizeof received, MSG_WAITALL), static_cast<ssize_t>(sizeof received));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(received + i * sizeof frame, frame, sizeof frame), 0) << i;
    close(pair_[1]);
    pair_[1] = -1;
    // A closed peer ends the device at the next frame (never raising SIGPIPE); later frames are refused.
    device_.send(frame, sizeof frame);
    EXPECT_TRUE(eventually([&] { return !device_.isRunning(); }));
    EXPECT_EQ(device_.send(frame, sizeof frame), -1);
}

// A device that takes nothing is stopped by its own send thread after the send limit, as if it had closed:
// no caller of send() ever waits for it.
TEST_F(DeviceTest, DeviceThatDoesNotReadIsStoppedBySendThread) {
    ASSERT_EQ(device_.start(), 0);
    ASSERT_NE(waitForWindow(), nullptr);
    std::vector<uint8_t> frame(1000, 0x5A);
    int queued = 0;
    while (device_.send(frame.data(), static_cast<uint32_t>(frame.size())) == 0)
        ASSERT_LT(++queued, 100000) << "the queue has no bound";
    EXPECT_TRUE(device_.isRunning());
    EXPECT_NE(log().find("Device::send dev id 3: "), std::string::npos);
    // Hang guard only: the send thread gives up after kSendLimitMs.
    for (int i = 0; i < 600 && device_.isRunning(); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(device_.isRunning());
    EXPECT_NE(log().find("Device::sendThread dev id 3 does not read: took nothing for 2000 ms, stopping"),
              std::string::npos);
    EXPECT_TRUE(eventually([] { return deviceThreads().count("dev3-send") == 0; }));
    EXPECT_EQ(device_.stop(), 0);
    EXPECT_TRUE(deviceThreads().empty());
}

TEST_F(DeviceTest, WindowCommandsNeedTheWindow) {
    EXPECT_EQ(device_.setWindow(), -1);
    EXPECT_EQ(device_.changeWindow(1), -1);
    ASSERT_EQ(device_.start(), 0);
    platform::Window* window = waitForWindow();
    ASSERT_NE(window, nullptr);

    device_.x = 100;
    device_.y = 50;
    device_.width = 300;
    device_.height = 500;
    EXPECT_EQ(device_.setWindow(), 0);
    EXPECT_EQ(window->geometry(), (platform::Rect{100, 50, 300, 500}));
    device_.width = 0;
    EXPECT_EQ(device_.setWindow(), -1);

    struct Case {
        int32_t state;
        platform::ShowState expected;
    };
    for (const Case& c : {Case{1, platform::ShowState::Minimized}, Case{0, platform::ShowState::Normal},
                          Case{2, platform::ShowState::Maximized}, Case{7, platform::ShowState::Maximized},
                          Case{3, platform::ShowState::Normal}}) {
        EXPECT_EQ(device_.changeWindow(c.state), 0);
        EXPECT_EQ(window->state(), c.expected) << "state " << c.state;
    }
}

}  // namespace
