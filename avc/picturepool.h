// Picture buffers handed to a window, reused once the window has let go of them, so a stream does not
// allocate (and fault in) a whole picture for every frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/window.h"

class PicturePool {
public:
    // A picture of the given size and format that nobody else holds: a spare one when there is one, else
    // a new one (kept as a spare while the pool has room). Not thread-safe: one owner thread at a time.
    std::shared_ptr<platform::Picture> take(int32_t width, int32_t height, platform::PixelFormat format);

    // Bytes every pixel buffer carries past its last pixel: libswscale's vector code writes whole vectors and
    // may run past the end of the last row.
    static constexpr size_t kSlack = 256;

private:
    // Enough for the picture the window shows, one being painted and one being filled.
    static constexpr size_t kMaxSpares = 3;
    struct Spare {
        std::shared_ptr<platform::Picture> picture;
        // Cleared (release) when the last holder outside the pool lets go, so a reuse (acquire) comes after
        // the window's last read of the pixels. A reference count read alone would not order them.
        std::shared_ptr<std::atomic<bool>> lent;
    };
    std::vector<Spare> spares_;
};
