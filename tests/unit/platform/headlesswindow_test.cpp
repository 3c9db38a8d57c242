#include "platform/headlesswindow.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

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
