// Device windows on a real X server: what the controller's commands and the user's mouse and keys do to
// them, read back from the server. Input is injected with xdotool (XTEST), as a user would give it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/device.h"
#include "device/displaywindow.h"
#include "platform/stretch.h"
#include "platform/window.h"

// After gtest: Xlib defines None and Bool, which gtest uses as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;

template <typename Predicate>
bool eventually(Predicate predicate) {
    for (int i = 0; i < 500; ++i) {
        if (predicate()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return predicate();
}

struct Geometry {
    int x, y, width, height;
    bool operator==(const Geometry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Geometry& g) {
    return out << g.width << "x" << g.height << "+" << g.x << "+" << g.y;
}

class WindowE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display (run under scripts/run-under-xvfb --wm)";
        setenv("QX_WINDOW", "x11", 1);
        logFile_ = "/tmp/qx-window-e2e-" + std::to_string(getpid()) + ".log";
        setenv("QX_LOG_FILE", logFile_.c_str(), 1);
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        for (auto& device : devices_)
            device->stop();
        for (int fd : peers_)
            close(fd);
        // The next test's first window may get the same id as a window of this one (the server hands a new
        // connection the ids of one that closed), and the window manager, still letting go of the old
        // window, would move and size the new one as the old.
        if (display_) {
            EXPECT_TRUE(eventually([&] {
                return longsProperty(DefaultRootWindow(display_), "_NET_CLIENT_LIST", XA_WINDOW).empty();
            })) << "the window manager still manages a window of a stopped device";
            XCloseDisplay(display_);
        }
        std::remove(logFile_.c_str());
    }

    // A started device whose window is mapped; peer() reads what the device would receive.
    Device& startDevice(int32_t id, int x, int y, int width, int height) {
        int pair[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        auto device = std::make_unique<Device>();
        device->id = id;
        device->socket = pair[0];
        device->x = x;
        device->y = y;
        device->width = width;
        device->height = height;
        peers_.push_back(pair[1]);
        EXPECT_EQ(device->start(), 0);
        EXPECT_TRUE(eventually([&] {
            DisplayWindow* window = device->window.load();
            return window && window->getHwnd() && viewable(xid(*device));
        }));
        devices_.push_back(std::move(device));
        return *devices_.back();
    }

    static Window xid(Device& device) { return device.window.load()->getHwnd()->nativeId(); }

    bool viewable(Window window) {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
    }

    Geometry geometry(Window window) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y, attributes.width, attributes.height};
    }

    bool geometryBecomes(Window window, const Geometry& expected) {
        return eventually([&] { return geometry(window) == expected; });
    }

    std::vector<long> longsProperty(Window window, const char* name, Atom type) {
        Atom actualType;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        std::vector<long> values;
        if (XGetWindowProperty(display_, window, XInternAtom(display_, name, False), 0, 64, False, type,
                               &actualType, &format, &count, &after, &data) == Success &&
            data && format == 32) {
            const long* longs = reinterpret_cast<const long*>(data);
            values.assign(longs, longs + count);
        }
        if (data) XFree(data);
        return values;
    }

    long wmState(Window window) {
        const Atom wmStateAtom = XInternAtom(display_, "WM_STATE", False);
        const auto values = longsProperty(window, "WM_STATE", wmStateAtom);
        return values.empty() ? -1 : values[0];
    }

    bool maximized(Window window) {
        const auto states = longsProperty(window, "_NET_WM_STATE", XA_ATOM);
        auto has = [&](const char* name) {
            const long atom = static_cast<long>(XInternAtom(display_, name, False));
            return std::find(states.begin(), states.end(), atom) != states.end();
        };
        return has("_NET_WM_STATE_MAXIMIZED_VERT") && has("_NET_WM_STATE_MAXIMIZED_HORZ");
    }

    static void xdotool(const std::string& arguments) {
        ASSERT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
    }

    struct Touch {
        uint32_t action;
        int32_t x, y;
        bool operator==(const Touch&) const = default;
    };

    // Touch frames (40 bytes each) the device receives within `wait` of each other, at most `expected`.
    std::vector<Touch> touches(int peer, size_t expected, int waitMs = 2000) {
        std::vector<Touch> received;
        uint8_t frame[40];
        timeval timeout{waitMs / 1000, (waitMs % 1000) * 1000};
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        auto word = [&](int offset) {
            return static_cast<uint32_t>(frame[offset]) << 24 | frame[offset + 1] << 16 |
                   frame[offset + 2] << 8 | frame[offset + 3];
        };
        while (received.size() < expected && recv(peer, frame, sizeof frame, MSG_WAITALL) == 40) {
            EXPECT_EQ(word(12), 111u);  // the touch command code
            received.push_back({word(24), static_cast<int32_t>(word(28)), static_cast<int32_t>(word(32))});
        }
        return received;
    }

    std::string logFile_;
    Display* display_ = nullptr;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<int> peers_;
};

TEST_F(WindowE2eTest, BareWindowOpensAtTheRequestedPlace) {
    Device& device = startDevice(1, 100, 50, 360, 640);
    EXPECT_TRUE(geometryBecomes(xid(device), {100, 50, 360, 640})) << geometry(xid(device));
    // No caption, no border: the window manager frames it with nothing.
    std::vector<long> extents;
    EXPECT_TRUE(eventually([&] {
        extents = longsProperty(xid(device), "_NET_FRAME_EXTENTS", XA_CARDINAL);
        return !extents.empty();
    }));
    EXPECT_EQ(extents, (std::vector<long>{0, 0, 0, 0}));
}

TEST_F(WindowE2eTest, SetWindowMovesAndResizes) {
    Device& device = startDevice(1, 100, 50, 360, 640);
    device.x = 300;
    device.y = 200;
    device.width = 480;
    device.height = 270;
    EXPECT_EQ(device.setWindow(), 0);
    EXPECT_TRUE(geometryBecomes(xid(device), {300, 200, 480, 270})) << geometry(xid(device));
}

TEST_F(WindowE2eTest, ChangeWindowMinimisesRestoresMaximisesAndShowsNormally) {
    Device& device = startDevice(1, 100, 50, 360, 640);
    const Window window = xid(device);
    EXPECT_EQ(device.changeWindow(1), 0);
    EXPECT_TRUE(eventually([&] { return wmState(window) == IconicState && !viewable(window); }));
    EXPECT_EQ(device.changeWindow(0), 0);
    EXPECT_TRUE(eventually([&] { return wmState(window) == NormalState && viewable(window); }));
    EXPECT_TRUE(geometryBecomes(window, {100, 50, 360, 640})) << geometry(window);
    EXPECT_EQ(device.changeWindow(2), 0);
    EXPECT_TRUE(eventually([&] { return maximized(window) && geometry(window).width > 360; }))
        << geometry(window);
    EXPECT_EQ(device.changeWindow(3), 0);
    EXPECT_TRUE(eventually([&] { return !maximized(window); }));
    EXPECT_TRUE(geometryBecomes(window, {100, 50, 360, 640})) << geometry(window);
    EXPECT_EQ(device.changeWindow(1), 0);
    EXPECT_TRUE(eventually([&] { return wmState(window) == IconicState; }));
    EXPECT_EQ(device.changeWindow(3), 0);
    EXPECT_TRUE(eventually([&] { return wmState(window) == NormalState && viewable(window); }));
}

TEST_F(WindowE2eTest, ControlWheelResizesAndAPlainWheelDoesNothing) {
    Device& device = startDevice(1, 100, 50, 300, 400);
    const Window window = xid(device);
    const std::string id = std::to_string(window);
    xdotool("mousemove --sync --window " + id + " 20 20");
    xdotool("keydown ctrl click 5 keyup ctrl");
    EXPECT_TRUE(geometryBecomes(window, {100, 50, 290, 390})) << geometry(window);
    // A plain wheel step first: had it resized, the control step after it would not land on 300 x 400.
    xdotool("click 5");
    xdotool("keydown ctrl click 4 keyup ctrl");
    EXPECT_TRUE(geometryBecomes(window, {100, 50, 300, 400})) << geometry(window);
}

TEST_F(WindowE2eTest, RightClickTurnsOnlyItsOwnWindowAndRestoresItsPlace) {
    Device& first = startDevice(1, 100, 50, 300, 400);
    Device& second = startDevice(2, 600, 50, 300, 400);
    const Window window = xid(first);
    const std::string id = std::to_string(window);
    xdotool("windowmove --sync " + id + " 150 80");
    ASSERT_TRUE(geometryBecomes(window, {150, 80, 300, 400})) << geometry(window);
    xdotool("mousemove --sync --window " + id + " 20 20 click 3");
    EXPECT_TRUE(eventually([&] { return first.window.load()->nextRotationAngle() == 90; }));
    EXPECT_TRUE(geometryBecomes(window, {100, 50, 300, 400})) << geometry(window);
    xdotool("click 3");
    EXPECT_TRUE(eventually([&] { return first.window.load()->nextRotationAngle() == 180; }));
    EXPECT_EQ(second.window.load()->nextRotationAngle(), 0);
}

TEST_F(WindowE2eTest, MouseAndMappedKeysReachTheDeviceAsTouches) {
    Device& device = startDevice(1, 100, 50, 300, 400);
    const int peer = peers_.back();
    const std::string id = std::to_string(xid(device));
    // A drag, scaled to 65536ths of the 300 x 400 window.
    xdotool("mousemove --sync --window " + id + " 150 100 mousedown 1 mousemove --sync --window " + id +
            " 160 110 mouseup 1");
    EXPECT_EQ(touches(peer, 3),
              (std::vector<Touch>{{2, 32768, 16384}, {0, 34952, 18022}, {1, 34952, 18022}}));

    // The example key map: space taps the screen's middle; Shift+D slides from a third to two thirds.
    xdotool("windowfocus --sync " + id + " key space");
    EXPECT_EQ(touches(peer, 2), (std::vector<Touch>{{2, 32768, 32768}, {1, 32768, 32768}}));
    xdotool("windowfocus --sync " + id + " key shift+d");
    const std::vector<Touch> slide = touches(peer, 53);
    ASSERT_EQ(slide.size(), 53u);
    EXPECT_EQ(slide.front(), (Touch{2, 21845, 32768}));
    EXPECT_EQ(slide[1], (Touch{0, 21845, 32768}));
    EXPECT_EQ(slide[51], (Touch{0, 21845 + 50 * 436, 32768}));
    EXPECT_EQ(slide.back(), (Touch{1, 43690, 32768}));

    // With Alt held the same keys are system keys and never reach the key map.
    // (Not Alt+Space: the window manager opens its window menu on it.)
    xdotool("windowfocus --sync " + id + " key alt+shift+d");
    EXPECT_TRUE(touches(peer, 1, 500).empty());
}

// Through shared memory and through plain XPutImage (QX_X11_SHM=0).
TEST_F(WindowE2eTest, PresentedPictureFillsTheWindowWithItsColours) {
    for (const char* shm : {"1", "0"}) {
        SCOPED_TRACE(testing::Message() << "QX_X11_SHM=" << shm);
        setenv("QX_X11_SHM", shm, 1);
        const bool shared = shm[0] == '1';
        Device& device = startDevice(shared ? 1 : 2, shared ? 100 : 400, 50, 200, 100);
        unsetenv("QX_X11_SHM");
        // 2 x 1 pixels: red on the left, blue on the right, given in R, G, B order.
        auto picture = std::make_shared<platform::Picture>();
        picture->width = 2;
        picture->height = 1;
        picture->format = platform::PixelFormat::Rgbx;
        picture->pixels = {255, 0, 0, 0, 0, 0, 255, 0};
        device.window.load()->getHwnd()->present(picture);
        auto pixelAt = [&](int x, int y) {
            XImage* image = XGetImage(display_, xid(device), x, y, 1, 1, AllPlanes, ZPixmap);
            const unsigned long value = image ? XGetPixel(image, 0, 0) : 0;
            if (image) XDestroyImage(image);
            return value & 0xFFFFFF;
        };
        auto shows = [&](unsigned long left, unsigned long right) {
            return pixelAt(10, 10) == left && pixelAt(99, 50) == left && pixelAt(100, 50) == right &&
                   pixelAt(190, 90) == right;
        };
        // Red up to the middle column, blue from it on. Checked as one state: a paint that ran before the
        // window manager's last configure may still show the previous scale for a moment.
        EXPECT_TRUE(eventually([&] { return shows(0xFF0000, 0x0000FF); }))
            << std::hex << pixelAt(10, 10) << " " << pixelAt(99, 50) << " " << pixelAt(100, 50) << " "
            << pixelAt(190, 90) << std::dec << " in " << geometry(xid(device));

        // Only the right pixel changes, to green: its half is repainted and the left half stays red.
        auto next = std::make_shared<platform::Picture>(*picture);
        next->pixels = {255, 0, 0, 0, 0, 255, 0, 0};
        device.window.load()->getHwnd()->present(next, platform::Rect{1, 0, 1, 1});
        EXPECT_TRUE(eventually([&] { return shows(0xFF0000, 0x00FF00); }))
            << std::hex << pixelAt(10, 10) << " " << pixelAt(99, 50) << " " << pixelAt(100, 50) << " "
            << pixelAt(190, 90) << std::dec << " in " << geometry(xid(device));
    }
}

// A picture its presenter writes in place, shown 1:1 and stretched in windows of several bands of rows,
// through shared memory and plain XPutImage: after partial presents, a grow and a shrink, the screen holds
// exactly the whole stretch of the picture.
TEST_F(WindowE2eTest, ScreenEqualsTheStretchedPictureAcrossBands) {
    constexpr int32_t kWidth = 300, kHeight = 400;  // 120000 pixels: two bands and a part
    for (const char* shm : {"1", "0"}) {
        SCOPED_TRACE(testing::Message() << "QX_X11_SHM=" << shm);
        setenv("QX_X11_SHM", shm, 1);
        const bool shared = shm[0] == '1';
        const int left = shared ? 100 : 700;
        Device& device = startDevice(shared ? 1 : 2, left, 50, kWidth, kHeight);
        unsetenv("QX_X11_SHM");
        platform::Window* hwnd = device.window.load()->getHwnd();
        auto picture = platform::makeWrittenInPlace(kWidth, kHeight, platform::PixelFormat::Rgbx);
        std::mt19937 random(7);
        auto write = [&](const platform::Rect& area) {
            std::lock_guard lock(*picture->pixelsLock);
            for (int32_t y = area.y; y < area.y + area.height; ++y) {
                for (int32_t x = area.x; x < area.x + area.width; ++x) {
                    for (int c = 0; c < 3; ++c)
                        picture->pixels[(static_cast<size_t>(y) * kWidth + x) * 4 + c] =
                            static_cast<uint8_t>(random());
                }
            }
        };
        // The pixels of the window that differ from the whole stretch of what the picture holds now.
        auto differing = [&](int32_t width, int32_t height) {
            std::vector<uint32_t> expected(static_cast<size_t>(width) * height);
            platform::stretchNearest(*hwnd->presented(), expected.data(), width, height);
            XImage* image = XGetImage(display_, xid(device), 0, 0, static_cast<unsigned>(width),
                                      static_cast<unsigned>(height), AllPlanes, ZPixmap);
            if (!image) return width * height;
            int32_t count = 0;
            for (int32_t y = 0; y < height; ++y) {
                for (int32_t x = 0; x < width; ++x)
                    count +=
                        (XGetPixel(image, x, y) & 0xFFFFFF) != expected[static_cast<size_t>(y) * width + x];
            }
            XDestroyImage(image);
            return count;
        };
        auto showsPicture = [&](int32_t width, int32_t height) {
            return eventually([&] { return differing(width, height) == 0; });
        };
        write({0, 0, kWidth, kHeight});
        hwnd->present(picture);
        EXPECT_TRUE(showsPicture(kWidth, kHeight))
            << differing(kWidth, kHeight) << " pixels differ in " << geometry(xid(device));
        // Changes across band borders, written in place; two presents before a paint may be joined.
        for (const platform::Rect& area : {platform::Rect{10, 150, 200, 200}, platform::Rect{290, 0, 10, 400},
                                           platform::Rect{0, 217, 300, 3}}) {
            write(area);
            hwnd->present(picture, area);
        }
        EXPECT_TRUE(showsPicture(kWidth, kHeight))
            << differing(kWidth, kHeight) << " pixels differ after changes";
        for (const auto& [width, height] : {std::pair{450, 600}, std::pair{150, 200}}) {
            ASSERT_TRUE(hwnd->setPosition({left, 50, width, height}));
            ASSERT_TRUE(geometryBecomes(xid(device), {left, 50, width, height}));
            write({20, 30, 40, 300});
            hwnd->present(picture, platform::Rect{20, 30, 40, 300});
            EXPECT_TRUE(showsPicture(width, height))
                << differing(width, height) << " pixels differ at " << width << "x" << height;
        }
    }
}

TEST_F(WindowE2eTest, WindowCommandsFailAtOnceAfterTheDeviceEndedByItself) {
    Device& device = startDevice(1, 100, 50, 300, 400);
    const Window window = xid(device);
    device.markStopped();
    EXPECT_TRUE(eventually([&] { return !viewable(window); }));
    device.x = 10;
    EXPECT_EQ(device.setWindow(), -1);
}

}  // namespace
