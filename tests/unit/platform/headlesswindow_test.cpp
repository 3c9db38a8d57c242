#include "platform/headlesswindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/stretch.h"

#include "tests/support/testsystem.h"

namespace {

using namespace platform;

TEST(HeadlessWindow, PostedMessagesComeOutBeforeTheQuit) {
    HeadlessWindow window({0, 0, 100, 100}, ShowState::Normal);
    window.postMessage({WM_KEYDOWN, 0x41, 1});
    window.postMessage({WM_KEYUP, 0x41, 2});
    window.quit();
    Message message{};
    ASSERT_TRUE(window.getMessage(message));
    EXPECT_EQ(message.message, WM_KEYDOWN);
    ASSERT_TRUE(window.getMessage(message));
    EXPECT_EQ(message.lParam, 2);
    EXPECT_FALSE(window.getMessage(message));
    EXPECT_FALSE(window.getMessage(message));
}

// A window that does not pump its queue cannot make it grow without bound: a full queue drops new messages.
TEST(HeadlessWindow, FullQueueDropsNewMessages) {
    HeadlessWindow window({0, 0, 100, 100}, ShowState::Normal);
    const uint32_t total = static_cast<uint32_t>(Window::kMaxPostedMessages) + 5;
    for (uint32_t i = 0; i < total; ++i)
        window.postMessage({WM_KEYDOWN, i, 0});
    window.quit();
    size_t taken = 0;
    Message m{};
    for (uintptr_t expected = 0; window.getMessage(m); ++expected, ++taken)
        ASSERT_EQ(m.wParam, expected) << "the oldest messages stay, in order";
    EXPECT_EQ(taken, Window::kMaxPostedMessages);
}

TEST(HeadlessWindow, QuitFromAnotherThreadWakesABlockedLoop) {
    HeadlessWindow window({0, 0, 100, 100}, ShowState::Normal);
    bool got = true;
    std::thread loop([&] {
        Message message{};
        got = window.getMessage(message);
    });
    window.quit();
    loop.join();
    EXPECT_FALSE(got);
}

TEST(HeadlessWindow, RefusesEmptyOrHugeRectangles) {
    HeadlessWindow window({10, 20, 100, 100}, ShowState::Normal);
    for (const Rect& bad :
         {Rect{0, 0, 0, 10}, Rect{0, 0, 10, -1}, Rect{0, 0, 100000, 10}, Rect{40000, 0, 10, 10}}) {
        EXPECT_FALSE(window.setPosition(bad));
    }
    EXPECT_EQ(window.geometry(), (Rect{10, 20, 100, 100}));
    EXPECT_TRUE(window.setPosition({-5, 7, 640, 360}));
    EXPECT_EQ(window.geometry(), (Rect{-5, 7, 640, 360}));
}

TEST(HeadlessWindow, KeepsOnlyTheNewestPicture) {
    HeadlessWindow window({0, 0, 10, 10}, ShowState::Minimized);
    EXPECT_EQ(window.state(), ShowState::Minimized);
    auto first = std::make_shared<Picture>();
    auto second = std::make_shared<Picture>();
    window.present(first);
    window.present(second);
    EXPECT_EQ(window.presented(), second);
}

// Presents with changed areas, painted now and then as a display would: the window's image is always the
// whole stretch of the newest picture, and a paint draws everything only when it must.
TEST(HeadlessWindow, PaintsWhatChangedAndEndsEqualToAWholeStretch) {
    enum Expect { Whole, Part, Nothing };
    struct Step {
        int32_t pictureWidth, pictureHeight;
        Rect changed;  // the pixels changed in the picture, and the area told to present
        int32_t windowWidth, windowHeight;
        bool paint;
        Expect drawn;
    };
    const Step steps[] = {
        {17, 13, {0, 0, 17, 13}, 40, 30, true, Whole},  // first paint
        {17, 13, {2, 3, 4, 2}, 40, 30, true, Part},
        {17, 13, {1, 1, 2, 1}, 40, 30, false, Nothing},  // two presents before one paint: their union
        {17, 13, {6, 7, 3, 2}, 40, 30, true, Part},
        {17, 13, {5, 5, 0, 0}, 40, 30, true, Nothing},
        {17, 13, {-5, 10, 30, 30}, 40, 30, true, Part},  // reaches outside the picture
        {9, 21, {1, 1, 1, 1}, 40, 30, true, Whole},      // the picture's size changed
        {9, 21, {3, 4, 2, 2}, 40, 30, false, Nothing},
        {9, 21, {4, 5, 1, 1}, 6, 8, true, Whole},     // the window's size changed
        {9, 21, {4, 5, 1, 1}, 6, 8, true, Part},      // fewer window pixels than picture pixels
        {9, 21, {2, 0, 1, 21}, 6, 8, true, Nothing},  // a column the stretch drops
        {17, 13, {0, 0, 1, 1}, 6, 8, false, Nothing},
        {9, 21, {2, 2, 1, 1}, 6, 8, true, Whole},  // back to the size painted last, across another size
    };
    HeadlessWindow window({0, 0, 40, 30}, ShowState::Normal);
    std::mt19937 random(5);
    std::shared_ptr<Picture> newest;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i);
        const Step& step = steps[i];
        auto picture = std::make_shared<Picture>();
        if (newest && newest->width == step.pictureWidth && newest->height == step.pictureHeight) {
            *picture = *newest;
        } else {
            picture->width = step.pictureWidth;
            picture->height = step.pictureHeight;
            picture->format = i % 2 ? PixelFormat::Rgbx : PixelFormat::Bgrx;
            picture->pixels.resize(static_cast<size_t>(step.pictureWidth) * step.pictureHeight * 4);
            for (uint8_t& byte : picture->pixels)
                byte = static_cast<uint8_t>(random());
        }
        const Rect changed = intersect(step.changed, Rect{0, 0, picture->width, picture->height});
        for (int32_t y = changed.y; y < changed.y + changed.height; ++y) {
            for (int32_t x = changed.x; x < changed.x + changed.width; ++x)
                picture->pixels[(static_cast<size_t>(y) * picture->width + x) * 4] ^= 0x80;
        }
        window.present(picture, step.changed);
        newest = picture;
        ASSERT_TRUE(window.setPosition(Rect{0, 0, step.windowWidth, step.windowHeight}));
        if (!step.paint) continue;

        const Rect drawn = window.paint();
        const Rect whole{0, 0, step.windowWidth, step.windowHeight};
        const Expect got = drawn == whole ? Whole : drawn.empty() ? Nothing : Part;
        EXPECT_EQ(got, step.drawn) << drawn.x << "," << drawn.y << " " << drawn.width << "x" << drawn.height;
        std::vector<uint32_t> expected(static_cast<size_t>(step.windowWidth) * step.windowHeight);
        platform::stretchNearest(*newest, expected.data(), step.windowWidth, step.windowHeight);
        ASSERT_EQ(window.image(), expected);
    }
}

// A presenter writing into the picture it presented while the window paints, in a window of several bands:
// the paints read the pixels only under the picture's lock (ThreadSanitizer sees any other read), and once
// the writer is done the image is the whole stretch of what the picture holds.
TEST(HeadlessWindow, PaintsAPictureWrittenInPlace) {
    constexpr int32_t kWidth = 400, kHeight = 500;
    HeadlessWindow window({0, 0, 600, 350}, ShowState::Normal);  // 210000 pixels: four bands
    auto picture = makeWrittenInPlace(kWidth, kHeight, PixelFormat::Bgrx);
    window.present(picture);
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (int32_t i = 0; i < 100; ++i) {
            const Rect area{(i * 37) % (kWidth - 50), (i * 53) % (kHeight - 120), 50, 120};
            {
                std::lock_guard lock(*picture->pixelsLock);
                for (int32_t y = area.y; y < area.y + area.height; ++y)
                    std::fill_n(picture->pixels.begin() + (static_cast<size_t>(y) * kWidth + area.x) * 4,
                                area.width * 4, static_cast<uint8_t>(i * 5 + y));
            }
            window.present(picture, area);
        }
        done = true;
    });
    while (!done)
        window.paint();
    writer.join();  // already done: its 100 writes wait only for a band's stretch, and a present never waits
    window.paint();
    std::vector<uint32_t> expected(600 * 350);
    stretchNearest(*window.presented(), expected.data(), 600, 350);
    EXPECT_EQ(window.image(), expected);
}

TEST(WindowBackend, EnvironmentChoosesTheBackend) {
    struct Case {
        const char* forced;
        const char* display;
        Backend expected;
    };
#ifdef _WIN32
    // Windows always has its own windows; only QX_WINDOW=headless takes them away.
    const Case cases[] = {
        {nullptr, nullptr, Backend::Win32},       {nullptr, ":0", Backend::Win32},
        {"headless", nullptr, Backend::Headless}, {"x11", nullptr, Backend::Win32},
        {"other", nullptr, Backend::Win32},
    };
#else
    const Case cases[] = {
        {nullptr, nullptr, Backend::Headless}, {nullptr, ":0", Backend::X11},
        {"headless", ":0", Backend::Headless}, {"x11", nullptr, Backend::X11},
        {"other", nullptr, Backend::Headless},
    };
#endif
    for (const Case& c : cases) {
        c.forced ? testsystem::setEnv("QX_WINDOW", c.forced) : testsystem::unsetEnv("QX_WINDOW");
        c.display ? testsystem::setEnv("DISPLAY", c.display) : testsystem::unsetEnv("DISPLAY");
        EXPECT_EQ(selectedBackend(), c.expected)
            << (c.forced ? c.forced : "-") << " " << (c.display ? c.display : "-");
    }
    testsystem::unsetEnv("QX_WINDOW");
    testsystem::unsetEnv("DISPLAY");
}

TEST(WindowBackend, StartUpShowCommands) {
    EXPECT_EQ(showStateFromCommand(SW_SHOWNORMAL), ShowState::Normal);
    EXPECT_EQ(showStateFromCommand(SW_HIDE), ShowState::Normal);
    EXPECT_EQ(showStateFromCommand(SW_SHOWMINIMIZED), ShowState::Minimized);
    EXPECT_EQ(showStateFromCommand(SW_SHOWMINNOACTIVE), ShowState::Minimized);
    EXPECT_EQ(showStateFromCommand(SW_SHOWMAXIMIZED), ShowState::Maximized);
}

}  // namespace
