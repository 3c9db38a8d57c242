// The Win32 window backend on a real (wine or Windows) window station. Paints are forced with UpdateWindow
// and read back from the window's DC, so nothing here waits on time.
#include "platform/win32window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

using namespace platform;

constexpr Rect kPlace{60, 50, 160, 120};

HWND handle(const Window& window) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(window.nativeId()));
}

// The window's pixel as 0xRRGGBB.
uint32_t pixel(const Window& window, int x, int y) {
    HDC dc = GetDC(handle(window));
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(handle(window), dc);
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// 2 x 2 pixels: red, green / blue, white.
std::shared_ptr<Picture> quadrants(PixelFormat format) {
    auto picture = std::make_shared<Picture>();
    picture->width = 2;
    picture->height = 2;
    picture->format = format;
    const uint8_t rgb[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    // Written through a sized buffer: GCC 12 at -O3 takes repeated list inserts for overflows.
    const bool bgrx = format == PixelFormat::Bgrx;
    picture->pixels.resize(sizeof(rgb) / 3 * 4);
    uint8_t* out = picture->pixels.data();
    for (const auto& c : rgb) {
        *out++ = bgrx ? c[2] : c[0];
        *out++ = c[1];
        *out++ = bgrx ? c[0] : c[2];
        *out++ = 0;
    }
    return picture;
}

// Pumps the loop until it ends; the number of messages it handed out.
int pumpUntilQuit(Window& window) {
    Message message;
    int count = 0;
    while (window.getMessage(message))
        ++count;
    return count;
}

TEST(Win32Window, IsABareWindowAtTheGivenPlace) {
    auto window = Window::create(kPlace, ShowState::Normal);
    ASSERT_TRUE(window);
    const HWND hwnd = handle(*window);
    EXPECT_EQ(GetWindowLongPtrA(hwnd, GWL_STYLE) & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME), 0);
    RECT outer{}, client{};
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(Rect(outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top), kPlace);
    EXPECT_EQ(client.right, kPlace.width);
    EXPECT_EQ(client.bottom, kPlace.height);
    char name[16] = {};
    GetClassNameA(hwnd, name, sizeof(name));
    EXPECT_STREQ(name, "TEST");
    // No background erase (the paint covers everything), and closing is the controller's business only.
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
    ReleaseDC(hwnd, dc);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(hwnd));
    // A second window reuses the class.
    auto second = Window::create(Rect{300, 50, 80, 60}, ShowState::Normal);
    EXPECT_TRUE(second);
    const Rect work = Win32Window::workArea();
    EXPECT_GT(work.width, 0);
    EXPECT_GT(work.height, 0);
}

TEST(Win32Window, PaintsTheNewestPictureStretchedInItsColours) {
    auto window = Window::create(kPlace, ShowState::Normal);
    ASSERT_TRUE(window);
    for (PixelFormat format : {PixelFormat::Bgrx, PixelFormat::Rgbx}) {
        SCOPED_TRACE(format == PixelFormat::Bgrx ? "BGRX" : "RGBX");
        window->present(std::make_shared<Picture>());  // replaced before any paint: newest wins
        window->present(quadrants(format));
        UpdateWindow(handle(*window));
        EXPECT_EQ(pixel(*window, 10, 10), 0xFF0000u);
        EXPECT_EQ(pixel(*window, kPlace.width - 10, 10), 0x00FF00u);
        EXPECT_EQ(pixel(*window, 10, kPlace.height - 10), 0x0000FFu);
        EXPECT_EQ(pixel(*window, kPlace.width - 10, kPlace.height - 10), 0xFFFFFFu);
    }
    // A present of one changed quadrant repaints it and leaves the others as they are.
    auto next = quadrants(PixelFormat::Rgbx);
    std::fill_n(next->pixels.begin() + 4, 3, uint8_t{0x40});
    window->present(next, Rect{1, 0, 1, 1});
    UpdateWindow(handle(*window));
    EXPECT_EQ(pixel(*window, kPlace.width - 10, 10), 0x404040u);
    EXPECT_EQ(pixel(*window, kPlace.width / 2, 0), 0x404040u);
    EXPECT_EQ(pixel(*window, kPlace.width / 2 - 1, 0), 0xFF0000u);
    EXPECT_EQ(pixel(*window, kPlace.width - 10, kPlace.height / 2), 0xFFFFFFu);
    EXPECT_EQ(pixel(*window, 10, kPlace.height - 10), 0x0000FFu);
    // After a resize the next paint fills the new client area.
    ASSERT_TRUE(window->setPosition(Rect{kPlace.x, kPlace.y, 60, 200}));
    window->present(quadrants(PixelFormat::Bgrx));
    UpdateWindow(handle(*window));
    EXPECT_EQ(pixel(*window, 55, 195), 0xFFFFFFu);
    EXPECT_EQ(pixel(*window, 5, 195), 0x0000FFu);
}

TEST(Win32Window, MovesAndShowsFromAnotherThreadWhileTheLoopRuns) {
    auto window = Window::create(kPlace, ShowState::Normal);
    ASSERT_TRUE(window);
    const HWND hwnd = handle(*window);
    bool moved = false, refused = true, minimised = false, restored = false, maximised = false;
    std::thread control([&] {
        moved = window->setPosition(Rect{200, 150, 300, 240});
        refused = window->setPosition(Rect{0, 0, 0, 10});
        minimised = window->setState(ShowState::Minimized) && IsIconic(hwnd);
        maximised = window->setState(ShowState::Maximized) && IsZoomed(hwnd);
        restored = window->setState(ShowState::Normal) && !IsIconic(hwnd) && !IsZoomed(hwnd);
        window->quit();
    });
    pumpUntilQuit(*window);
    control.join();
    EXPECT_TRUE(moved);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(maximised);
    EXPECT_TRUE(restored);
    EXPECT_EQ(window->geometry(), (Rect{200, 150, 300, 240}));
    EXPECT_EQ(window->state(), ShowState::Normal);
}

TEST(Win32Window, PostedMessagesComeOutBeforeTheQuitAndTheWindowGoesWithTheLoop) {
    auto window = Window::create(kPlace, ShowState::Normal);
    ASSERT_TRUE(window);
    const HWND hwnd = handle(*window);
    // Alt combinations arrive as system keys, like any other message, and leave the window in place.
    window->postMessage(Message{WM_SYSKEYDOWN, 0x12, 0});
    window->postMessage(Message{WM_KEYDOWN, 0x41, 1});
    window->quit();
    window->postMessage(Message{WM_KEYUP, 0x41, 2});
    Message message{};
    std::vector<uint32_t> seen;
    while (window->getMessage(message)) {
        if (message.message == WM_SYSKEYDOWN || message.message == WM_KEYDOWN || message.message == WM_KEYUP)
            seen.push_back(message.message);
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{WM_SYSKEYDOWN, WM_KEYDOWN}));
    EXPECT_FALSE(window->getMessage(message));
    EXPECT_FALSE(IsWindow(hwnd));
    // Requests after the loop fail at once instead of waiting for it.
    bool moved = true;
    std::thread late([&] { moved = window->setPosition(kPlace); });
    late.join();
    EXPECT_FALSE(moved);
}

}  // namespace
