#include "device/displaywindow.h"

#include <vector>

#include "device/device.h"
#include "testenv.h"
#include "tests/support/tcppair.h"

namespace {

using namespace platform;

// The test thread opens the window, so it is the window's thread and calls ProcessMessage itself.
class DisplayWindowTest : public DeviceTestEnv {
protected:
    Rect geometry(DisplayWindow& window) { return window.getHwnd()->geometry(); }
    void wheel(DisplayWindow& window, int16_t delta, uintptr_t keys) {
        window.ProcessMessage(WM_MOUSEWHEEL, makeWheelWParam(delta, keys), makePointLParam(0, 0));
    }

    Device device_;
};

TEST_F(DisplayWindowTest, ControlWheelResizesInStepsOfTenWithinLimits) {
    struct Case {
        const char* name;
        int32_t width, height;
        int16_t delta;
        uintptr_t keys;
        int32_t expectedWidth, expectedHeight;
    };
    // The headless desktop's work area is 1920 x 1080.
    const Case cases[] = {
        {"shrink", 15, 15, -120, MK_CONTROL, 5, 5},
        {"smallest stays", 5, 5, -120, MK_CONTROL, 5, 5},
        {"one side at ten stays", 11, 10, -120, MK_CONTROL, 11, 10},
        {"no control key", 15, 15, -120, 0, 15, 15},
        {"grow", 100, 200, 120, MK_CONTROL, 110, 210},
        {"grow to the work area", 1910, 1070, 120, MK_CONTROL, 1920, 1080},
        {"too wide to grow", 1911, 500, 120, MK_CONTROL, 1911, 500},
        {"too tall to grow", 500, 1071, 120, MK_CONTROL, 500, 1071},
    };
    for (const Case& c : cases) {
        DisplayWindow window(SW_SHOWNORMAL, &device_);
        ASSERT_TRUE(window.open(30, 40, c.width, c.height));
        wheel(window, c.delta, c.keys);
        EXPECT_EQ(geometry(window), (Rect{30, 40, c.expectedWidth, c.expectedHeight})) << c.name;
    }
}

TEST_F(DisplayWindowTest, RightClickTurnsThroughFourAnglesPerWindow) {
    DisplayWindow first(SW_SHOWNORMAL, &device_);
    DisplayWindow second(SW_SHOWNORMAL, &device_);
    ASSERT_TRUE(first.open(0, 0, 100, 100));
    ASSERT_TRUE(second.open(200, 0, 100, 100));
    for (int32_t expected : {90, 180, 270, 0, 90}) {
        first.ProcessMessage(WM_RBUTTONUP, 0, makePointLParam(5, 5));
        EXPECT_EQ(first.nextRotationAngle(), expected);
    }
    EXPECT_EQ(second.nextRotationAngle(), 0);
    // A click also puts the window back at its stored rectangle.
    first.getHwnd()->setPosition({7, 7, 50, 50});
    first.ProcessMessage(WM_RBUTTONUP, 0, 0);
    EXPECT_EQ(geometry(first), (Rect{0, 0, 100, 100}));
}

TEST_F(DisplayWindowTest, SetWindowAndSetState) {
    DisplayWindow window(SW_SHOWMINIMIZED, &device_);
    EXPECT_EQ(window.setWindow(1, 2, 3, 4), -1);  // no window yet
    ASSERT_TRUE(window.open(0, 0, 100, 100));
    EXPECT_EQ(window.getHwnd()->state(), ShowState::Minimized);
    EXPECT_EQ(window.setWindow(10, 20, 300, 400), 0);
    EXPECT_EQ(geometry(window), (Rect{10, 20, 300, 400}));
    EXPECT_EQ(window.setWindow(10, 20, 300, 0), -1);
    EXPECT_EQ(window.setState(DisplayWindow::kStateMaximize), 0);
    EXPECT_EQ(window.getHwnd()->state(), ShowState::Maximized);
    EXPECT_EQ(window.setState(99), 0);
    EXPECT_EQ(window.getHwnd()->state(), ShowState::Maximized);
    EXPECT_EQ(window.setState(DisplayWindow::kStateRestore), 0);
    EXPECT_EQ(window.getHwnd()->state(), ShowState::Normal);
}

TEST_F(DisplayWindowTest, LeftButtonBecomesScaledTouchFramesOnTheDeviceSocket) {
    TcpPair pair = connectedTcpPair();
    ASSERT_GE(socketValue(pair.client), 0);
    device_.socket = pair.client;
    ASSERT_EQ(device_.startSending(), 0);  // touches go out through the device's send thread
    DisplayWindow window(SW_SHOWNORMAL, &device_);
    ASSERT_TRUE(window.open(0, 0, 100, 200));
    const intptr_t middle = makePointLParam(50, 50);
    window.ProcessMessage(WM_MOUSEMOVE, 0, middle);  // not pressed: nothing
    window.ProcessMessage(WM_LBUTTONDOWN, MK_LBUTTON, middle);
    window.ProcessMessage(WM_MOUSEMOVE, MK_LBUTTON, middle);
    window.ProcessMessage(WM_LBUTTONUP, 0, middle);
    window.ProcessMessage(WM_MOUSEMOVE, 0, middle);  // released: nothing

    std::vector<uint8_t> bytes(4 * 40);
    ASSERT_EQ(RecvN(pair.device, reinterpret_cast<char*>(bytes.data()), 3 * 40, 0), 3 * 40);
    device_.stop();  // closes pair.client
    ASSERT_LE(net::recvSome(pair.device, reinterpret_cast<char*>(bytes.data()) + 3 * 40, 40, 0, true), 0)
        << "a fourth frame";
    auto word = [&](size_t offset) {
        return (uint32_t{bytes[offset]} << 24) | (uint32_t{bytes[offset + 1]} << 16) |
               (uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
    };
    const uint32_t actions[] = {2, 0, 1};
    for (size_t frame = 0; frame < 3; ++frame) {
        const size_t base = frame * 40;
        EXPECT_EQ(word(base + 12), 111u);
        EXPECT_EQ(word(base + 24), actions[frame]);
        EXPECT_EQ(word(base + 28), 32768u);  // x 50 of 100
        EXPECT_EQ(word(base + 32), 16384u);  // y 50 of 200
    }
    net::closeSocket(pair.device);
}

TEST_F(DisplayWindowTest, QuitBeforeTheWindowExistsEndsItsLoopAtOnce) {
    DisplayWindow window(SW_SHOWNORMAL, &device_);
    window.quit();
    ASSERT_TRUE(window.open(0, 0, 100, 100));
    Message message{};
    EXPECT_FALSE(window.getHwnd()->getMessage(message));
}

}  // namespace
