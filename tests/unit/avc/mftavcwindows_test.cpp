// mftavcdecoder.dll through its exports, as the client uses it: a real H.264 stream decoded by the system's
// decoder transform and drawn into a real window, read back from the window's DC.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "avc/mftavc.h"
#include "platform/window.h"
#include "tests/unit/avc/avcstreamlayout.h"

namespace {

#include "tests/unit/avc/avcstream.inc"

using avcstream::Colour;

constexpr int kTolerance = 12;
constexpr platform::Rect kPlace{40, 40, 180, 100};

struct Sides {
    uint32_t left, right, top, bottom;
    uint32_t besideMiddle;  // a little left of the middle: still the left half
};

uint32_t rgb(const Colour& c) {
    return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
}

bool similar(uint32_t a, uint32_t b) {
    for (int shift = 0; shift <= 16; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
            kTolerance)
            return false;
    }
    return true;
}

// The window's whole client area as 0xRRGGBB values, rows top to bottom.
std::vector<uint32_t> clientPixels(const platform::Window& window) {
    const HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window.nativeId()));
    RECT client{};
    GetClientRect(hwnd, &client);
    const int w = client.right, h = client.bottom;
    std::vector<uint32_t> pixels;
    if (w <= 0 || h <= 0) return pixels;
    HDC dc = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, w, h, dc, 0, 0, SRCCOPY)) {
            GdiFlush();
            const auto* words = static_cast<const uint32_t*>(bits);
            pixels.assign(words, words + static_cast<size_t>(w) * h);
            for (uint32_t& p : pixels)
                p &= 0xFFFFFF;
        }
        SelectObject(memory, previous);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(hwnd, dc);
    return pixels;
}

class MftavcWindows : public ::testing::Test {
protected:
    void SetUp() override {
        window = platform::Window::create(kPlace, platform::ShowState::Normal);
        ASSERT_TRUE(window);
        const MftavcWindow descriptor{static_cast<uint32_t>(window->nativeId()), 0};
        decoder = mftavc_decoder_init(kConfig, sizeof(kConfig), avcstream::kWidth, avcstream::kHeight, 1,
                                      &descriptor, kPlace.width, kPlace.height);
        ASSERT_NE(decoder, nullptr)
            << "no H.264 decoder transform (wine needs GStreamer's h264parse and avdec_h264)";
    }
    void TearDown() override { mftavc_decoder_release(decoder); }

    int32_t decode(int unit, int32_t rotation = 0) {
        return mftavc_decode(decoder, nullptr, kUnits[unit], static_cast<int32_t>(kUnitSizes[unit]), 0, 0, 0,
                             0, rotation, 0);
    }
    // What the window shows a quarter in from each side, as 0xRRGGBB.
    Sides shown() {
        const HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window->nativeId()));
        HDC dc = GetDC(hwnd);
        auto at = [&](int x, int y) {
            const COLORREF c = GetPixel(dc, x, y);
            return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
        };
        const int w = kPlace.width, h = kPlace.height;
        const Sides sides{at(w / 4, h / 2), at(w * 3 / 4, h / 2), at(w / 2, h / 4), at(w / 2, h * 3 / 4),
                          at(w / 2 - 3, h / 2)};
        ReleaseDC(hwnd, dc);
        return sides;
    }

    std::unique_ptr<platform::Window> window;
    MftavcDecoder* decoder = nullptr;
};

// Every access unit shows its own picture before the call returns: nothing is held back for the next unit.
TEST_F(MftavcWindows, EachAccessUnitShowsItsPictureAtOnce) {
    for (int k = 0; k < avcstream::kPictures; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(decode(k), 1);
        const Sides s = shown();
        EXPECT_TRUE(similar(s.left, rgb(avcstream::kLeft[k]))) << std::hex << s.left;
        EXPECT_TRUE(similar(s.right, rgb(avcstream::kRight[k]))) << std::hex << s.right;
        // Decoders pad the frame to whole macroblocks (90 to 96 columns); shown, the padding would squeeze
        // the picture and move its middle to the left.
        EXPECT_TRUE(similar(s.besideMiddle, rgb(avcstream::kLeft[k]))) << std::hex << s.besideMiddle;
    }
}

// A unit that a newer one follows is decoded without being drawn; the next unit, which builds on it, is.
TEST_F(MftavcWindows, DecodesWithoutDrawingWhenANewerUnitFollows) {
    ASSERT_EQ(decode(0), 1);
    EXPECT_EQ(mftavc_decode_only(decoder, kUnits[1], static_cast<int32_t>(kUnitSizes[1])), 1);
    Sides s = shown();
    EXPECT_TRUE(similar(s.left, rgb(avcstream::kLeft[0]))) << std::hex << s.left;
    ASSERT_EQ(decode(2), 1);
    s = shown();
    EXPECT_TRUE(similar(s.left, rgb(avcstream::kLeft[2]))) << std::hex << s.left;
    EXPECT_TRUE(similar(s.right, rgb(avcstream::kRight[2]))) << std::hex << s.right;
}

TEST_F(MftavcWindows, TurnsPicturesAndRepaintsOnWindowMessage) {
    // Turned clockwise, the picture's left half is on top.
    ASSERT_EQ(decode(0, 90), 1);
    Sides s = shown();
    EXPECT_TRUE(similar(s.top, rgb(avcstream::kLeft[0]))) << std::hex << s.top;
    EXPECT_TRUE(similar(s.bottom, rgb(avcstream::kRight[0]))) << std::hex << s.bottom;
    // A window message with the repaint flag turns the newest picture at once.
    mftavc_decode_winmessage(decoder, 0, 0, kPlace.width, kPlace.height, 180, 1);
    s = shown();
    EXPECT_TRUE(similar(s.left, rgb(avcstream::kRight[0]))) << std::hex << s.left;
    EXPECT_TRUE(similar(s.right, rgb(avcstream::kLeft[0]))) << std::hex << s.right;
}

// A window that grows or is restored on a still screen shows the newest picture converted again at its new
// size, pixel for pixel what a window that had that size all along shows, not the picture of its old size
// stretched.
TEST(MftavcWindowsResize, RepaintsTheNewestPictureAtTheNewSize) {
    constexpr platform::Rect kLarge{40, 40, 180, 100};
    constexpr int kUnitsDecoded = 3;
    struct Case {
        const char* name;
        platform::Rect before;  // the window while the pictures come
        bool minimised;         // minimised before the last picture, then restored at kLarge
        int32_t rotation;
    };
    const Case cases[] = {
        {"grown", {40, 40, 45, 24}, false, 0},
        {"grown, turned", {40, 40, 24, 45}, false, 90},
        {"restored", kLarge, true, 270},
    };
    auto openDecoder = [](const platform::Window& window) {
        const MftavcWindow descriptor{static_cast<uint32_t>(window.nativeId()), 0};
        return mftavc_decoder_init(kConfig, sizeof(kConfig), avcstream::kWidth, avcstream::kHeight, 1,
                                   &descriptor, 0, 0);
    };
    auto decode = [](MftavcDecoder* decoder, int unit, int32_t rotation) {
        return mftavc_decode(decoder, nullptr, kUnits[unit], static_cast<int32_t>(kUnitSizes[unit]), 0, 0, 0,
                             0, rotation, 0);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint32_t> resized;
        {
            std::unique_ptr<platform::Window> window =
                platform::Window::create(c.before, platform::ShowState::Normal);
            ASSERT_TRUE(window);
            window->setPosition(c.before);  // moved after it is made, as the client does: no minimum size
            MftavcDecoder* decoder = openDecoder(*window);
            ASSERT_NE(decoder, nullptr);
            for (int k = 0; k < kUnitsDecoded; ++k) {
                if (c.minimised && k == kUnitsDecoded - 1) window->setState(platform::ShowState::Minimized);
                EXPECT_EQ(decode(decoder, k, c.rotation), 1);
            }
            if (c.minimised) {
                window->setState(platform::ShowState::Normal);
            } else {
                window->setPosition(kLarge);
            }
            mftavc_decode_winmessage(decoder, 0, 0, kLarge.width, kLarge.height, c.rotation, 1);
            resized = clientPixels(*window);
            mftavc_decoder_release(decoder);
        }
        // The same pictures in a window of the new size from the start, one window at a time on the screen.
        std::unique_ptr<platform::Window> window =
            platform::Window::create(kLarge, platform::ShowState::Normal);
        ASSERT_TRUE(window);
        MftavcDecoder* decoder = openDecoder(*window);
        ASSERT_NE(decoder, nullptr);
        for (int k = 0; k < kUnitsDecoded; ++k)
            EXPECT_EQ(decode(decoder, k, c.rotation), 1);
        const std::vector<uint32_t> straight = clientPixels(*window);
        mftavc_decoder_release(decoder);
        ASSERT_EQ(straight.size(), static_cast<size_t>(kLarge.width) * kLarge.height);
        ASSERT_EQ(resized.size(), straight.size());
        size_t differing = 0;
        for (size_t i = 0; i < straight.size(); ++i)
            differing += resized[i] != straight[i];
        EXPECT_EQ(differing, 0u) << "pixels unlike the straight conversion at the new size";
    }
}

TEST(MftavcWindowsSetUp, RefusesWhatItCannotDecode) {
    const MftavcWindow none{0, 0};
    EXPECT_EQ(mftavc_decoder_init(kConfig, -1, avcstream::kWidth, avcstream::kHeight, 1, &none, 0, 0),
              nullptr);
    EXPECT_EQ(mftavc_decoder_init(nullptr, 10, avcstream::kWidth, avcstream::kHeight, 1, &none, 0, 0),
              nullptr);
    EXPECT_EQ(mftavc_decoder_init(kConfig, sizeof(kConfig), 5000, 50, 1, &none, 0, 0), nullptr);
    EXPECT_EQ(mftavc_decode(nullptr, nullptr, kUnit0, sizeof(kUnit0), 0, 0, 0, 0, 0, 0), -1);
    mftavc_decode_winmessage(nullptr, 0, 0, 10, 10, 90, 1);
    mftavc_decoder_release(nullptr);

    // Without a window the stream is decoded all the same; damaged data is refused or skipped, never fatal.
    MftavcDecoder* decoder =
        mftavc_decoder_init(kConfig, sizeof(kConfig), avcstream::kWidth, avcstream::kHeight, 1, &none, 0, 0);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(mftavc_decode(decoder, nullptr, kUnit0, sizeof(kUnit0), 0, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(mftavc_decode(decoder, nullptr, kUnit0, 0, 0, 0, 0, 0, 0, 0), -1);
    std::vector<uint8_t> noise(2000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 131 + 7);
    mftavc_decode(decoder, nullptr, noise.data(), static_cast<int32_t>(noise.size()), 0, 0, 0, 0, 0, 0);
    mftavc_decoder_release(decoder);
}

}  // namespace
