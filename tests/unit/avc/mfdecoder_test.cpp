// Inside one decoder of mftavcdecoder.dll: the picture memory it holds per stream, whatever the number of
// pictures, the window's size and the rotation.
#include "avc/mfdecoder.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <memory>

#include "platform/window.h"
#include "tests/unit/avc/avcstreamlayout.h"

namespace {

#include "tests/unit/avc/avcstream.inc"

// The newest decoded picture kept as planar 4:2:0 for a repaint at another size.
constexpr size_t kKeptBytes = avcstream::kWidth * avcstream::kHeight +
                              2 * ((avcstream::kWidth + 1) / 2) * ((avcstream::kHeight + 1) / 2);

size_t pixelBytes(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * height * 4;
}

TEST(MfDecoder, HoldsOnePictureConvertedInPlaceWhateverTheWindowAndRotation) {
    // Media Foundation works on threads that joined COM, as the library's exports do for their callers.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    struct ComLeft {
        ~ComLeft() { CoUninitialize(); }
    } comLeft;
    struct Case {
        const char* name;
        platform::Rect place;
        platform::ShowState state;
        int32_t rotation;
        size_t bytes;    // held after any number of pictures
        size_t upright;  // held once turned upright again
    };
    // Converted at the window's size, never beyond the picture's own; turned, the 90 x 48 picture is 48 wide
    // in a window 48 high. (Wine keeps windows at least 116 x 27.)
    const Case cases[] = {
        {"window larger than the picture",
         {40, 40, 180, 100},
         platform::ShowState::Normal,
         0,
         kKeptBytes + pixelBytes(90, 48),
         kKeptBytes + pixelBytes(90, 48)},
        {"window lower than the picture",
         {40, 40, 120, 30},
         platform::ShowState::Normal,
         0,
         kKeptBytes + pixelBytes(90, 30),
         kKeptBytes + pixelBytes(90, 30)},
        {"turned",
         {40, 40, 120, 48},
         platform::ShowState::Normal,
         90,
         kKeptBytes + pixelBytes(48, 48),
         kKeptBytes + pixelBytes(90, 48)},
        // Nothing to show: only the newest picture is kept, for the restore.
        {"minimised", {40, 40, 90, 48}, platform::ShowState::Minimized, 90, kKeptBytes, kKeptBytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<platform::Window> window = platform::Window::create(c.place, c.state);
        ASSERT_TRUE(window);
        const HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window->nativeId()));
        std::unique_ptr<MfDecoder> decoder(
            MfDecoder::open(kConfig, sizeof(kConfig), avcstream::kWidth, avcstream::kHeight, false, hwnd));
        ASSERT_TRUE(decoder)
            << "no H.264 decoder transform (wine needs GStreamer's h264parse and avdec_h264)";
        EXPECT_EQ(decoder->pictureBytes(), 0u) << "nothing is held before the first picture";
        for (int k = 0; k < avcstream::kPictures; ++k) {
            ASSERT_EQ(decoder->decode(kUnits[k], static_cast<int32_t>(kUnitSizes[k]), c.rotation, true), 1);
            EXPECT_EQ(decoder->pictureBytes(), c.bytes) << "picture " << k;
        }
        // Upright again: the picture has the upright size.
        decoder->windowChanged(0, true);
        EXPECT_EQ(decoder->pictureBytes(), c.upright);
        // A window made smaller gives the memory of the larger picture back.
        if (c.state == platform::ShowState::Normal) {
            window->setPosition({40, 40, 30, 16});  // moved after it is made: no minimum size
            decoder->windowChanged(0, true);
            EXPECT_EQ(decoder->pictureBytes(), kKeptBytes + pixelBytes(30, 16));
        }
    }
}

}  // namespace
