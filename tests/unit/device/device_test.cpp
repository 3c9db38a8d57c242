#include "device/device.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

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
#include "tests/support/tcppair.h"
#include "tests/support/testsystem.h"

namespace {

using namespace std::chrono_literals;

// Live threads of this process that belong to device 3, by the names they gave themselves.
#ifdef _WIN32
using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);

// Looked up at run time, as the client does for the setter; null where the system lacks it.
GetDescription threadDescriptionGetter() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<GetDescription>(
                        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetThreadDescription")))
                  : nullptr;
}

std::multiset<std::string> deviceThreads() {
    std::multiset<std::string> names;
    const GetDescription getDescription = threadDescriptionGetter();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (!getDescription || snapshot == INVALID_HANDLE_VALUE) return names;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        PWSTR wide = nullptr;
        if (SUCCEEDED(getDescription(thread, &wide)) && wide) {
            char name[64] = {};
            WideCharToMultiByte(CP_UTF8, 0, wide, -1, name, sizeof name - 1, nullptr, nullptr);
            if (std::string(name).rfind("dev3-", 0) == 0) names.insert(name);
            LocalFree(wide);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return names;
}
#else
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
#endif

template <typename Predicate>
bool eventually(Predicate predicate) {
    for (int i = 0; i < 500; ++i) {
        if (predicate()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return predicate();
}

// A joined thread can stay listed for a moment: the kernel wakes the joiner as the thread exits, before it
// takes the thread off the process's list.
bool deviceThreadsGone() {
    return eventually([] { return deviceThreads().empty(); });
}

class DeviceTest : public DeviceTestEnv {
protected:
    void SetUp() override {
        DeviceTestEnv::SetUp();
#ifdef _WIN32
        if (!threadDescriptionGetter()) GTEST_SKIP() << "this Windows cannot name threads";
#endif
        pair_ = connectedTcpPair(4096);
        ASSERT_GE(socketValue(pair_.client), 0);
        device_.id = 3;
        device_.socket = pair_.client;
        device_.width = 360;
        device_.height = 640;
    }
    void TearDown() override {
        device_.stop();
        net::closeSocket(pair_.device);
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

    // `client` is the device's socket; the test plays the phone on `device`.
    TcpPair pair_;
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
    EXPECT_TRUE(deviceThreadsGone());
    EXPECT_EQ(device_.window.load(), nullptr);
    EXPECT_EQ(device_.socket, INVALID_SOCKET);
    EXPECT_FALSE(device_.isRunning());
    char byte;
    EXPECT_EQ(net::recvSome(pair_.device, &byte, 1, 0, false), 0);  // the device sees the connection end
}

TEST_F(DeviceTest, StopEndsTheRenderThreadWhenNoWindowCanBeMade) {
#ifdef _WIN32
    GTEST_SKIP() << "a missing X display is what makes the window fail; a Win32 window is always made";
#endif
    testsystem::setEnv("QX_WINDOW", "x11");
    testsystem::setEnv("DISPLAY", ":31999");  // no such display
    ASSERT_EQ(device_.start(), 0);
    ASSERT_TRUE(eventually([&] { return log().find("窗口注册失败") != std::string::npos; }));
    // Still waiting for a window; on a busy machine it may name itself only after the window thread failed.
    EXPECT_TRUE(eventually([] { return deviceThreads().count("dev3-render") == 1; }));
    EXPECT_EQ(device_.stop(), 0);
    EXPECT_TRUE(deviceThreadsGone());
    testsystem::unsetEnv("DISPLAY");
}

TEST_F(DeviceTest, StopRightAfterStartEndsEveryThread) {
    // The stop may come before the window thread has stored its window.
    closeTcpPair(pair_);
    for (int i = 0; i < 200; ++i) {
        TcpPair pair = connectedTcpPair();
        ASSERT_GE(socketValue(pair.client), 0);
        device_.socket = pair.client;
        ASSERT_EQ(device_.start(), 0);
        EXPECT_EQ(device_.stop(), 0);
        net::closeSocket(pair.device);
    }
    EXPECT_TRUE(deviceThreadsGone());
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
    ASSERT_EQ(RecvN(pair_.device, reinterpret_cast<char*>(received), sizeof received, 0),
              static_cast<int>(sizeof received));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(received + i * sizeof frame, frame, sizeof frame), 0) << i;
    net::closeSocket(pair_.device);
    pair_.device = INVALID_SOCKET;
    // A closed peer ends the device at one of the next frames (TCP takes the first one after the close and
    // answers it with a reset), never raising SIGPIPE; later frames are refused.
    EXPECT_TRUE(eventually([&] {
        device_.send(frame, sizeof frame);
        return !device_.isRunning();
    }));
    EXPECT_EQ(device_.send(frame, sizeof frame), -1);
}

// Gives a phone that reads nothing more than its socket holds: the send thread takes a first large frame and
// waits for room, while the queue fills until it refuses.
void fillUntilRefused(Device& device) {
    std::vector<uint8_t> large(Device::kMaxQueuedBytes * 3 / 4, 0x5A);
    auto queue = [&](const std::vector<uint8_t>& frame) {
        return device.send(frame.data(), static_cast<uint32_t>(frame.size())) == 0;
    };
    ASSERT_TRUE(queue(large));
    // A second one fits once the send thread has taken the first.
    ASSERT_TRUE(eventually([&] { return queue(large); })) << "the send thread never took the frame";
    const std::vector<uint8_t> frame(1000, 0x5A);
    int queued = 0;
    while (queue(frame))
        ASSERT_LT(++queued, 100000) << "the queue has no bound";
}

// A device that takes nothing is stopped by its own send thread after the send limit, as if it had closed:
// no caller of send() ever waits for it.
TEST_F(DeviceTest, DeviceThatDoesNotReadIsStoppedBySendThread) {
    ASSERT_EQ(device_.start(), 0);
    ASSERT_NE(waitForWindow(), nullptr);
    fillUntilRefused(device_);
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
    EXPECT_TRUE(deviceThreadsGone());
}

// A stop ends the send thread's wait for room through the stop's wake-up alone: shutting the socket down, as
// Device::stop also does, does not end that wait on Windows.
TEST_F(DeviceTest, StopWakeUpEndsTheSendThreadWaitingForADeviceThatDoesNotRead) {
    ASSERT_EQ(device_.start(), 0);
    ASSERT_NE(waitForWindow(), nullptr);
    fillUntilRefused(device_);
    const auto start = std::chrono::steady_clock::now();
    device_.markStopped();
    EXPECT_TRUE(eventually([] { return deviceThreads().count("dev3-send") == 0; }));
    // Far below the send limit that a wait not woken lasts, and far above the time the wake-up takes.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(Device::kSendLimitMs * 3 / 4));
    EXPECT_EQ(log().find("Device::sendThread dev id 3 does not read"), std::string::npos);
    EXPECT_EQ(device_.stop(), 0);
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
