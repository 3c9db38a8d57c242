#include "avc/mfdecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "avc/avclog.h"
#include "avc/rotation.h"
#include "platform/gdipaint.h"

namespace {

constexpr int32_t kMaxEdge = 4096;
// A config beyond this is no SPS/PPS set.
constexpr int32_t kMaxConfig = 64 * 1024;

// picture as a width x height picture of 4-byte pixels, its buffer kept while the number of pixels holds and
// made anew when it changes, so a window that shrinks gives the memory back. False (picture empty) when
// there is no memory for it.
bool fitPicture(platform::Picture& picture, int32_t width, int32_t height) {
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    if (picture.pixels.size() != bytes || picture.pixels.empty()) {
        picture = platform::Picture{};
        try {
            picture.pixels = std::vector<uint8_t>(bytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    picture.width = width;
    picture.height = height;
    picture.format = platform::PixelFormat::Bgrx;
    return true;
}

bool hardwareWanted(bool requested) {
    const char* env = std::getenv("QX_AVC_HARDWARE");
    return requested && !(env && std::strcmp(env, "0") == 0);
}

}  // namespace

MfDecoder* MfDecoder::open(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                           bool hardware, HWND window) {
    if (configLength < 0 || configLength > kMaxConfig || (configLength > 0 && !config) || width < 0 ||
        height < 0 || width > kMaxEdge || height > kMaxEdge) {
        avclog("mftavc: refused set-up, config %d bytes, size %dx%d", configLength, width, height);
        return nullptr;
    }
    std::unique_ptr<H264Transform> transform = H264Transform::open(width, height, hardwareWanted(hardware));
    if (!transform) return nullptr;
    auto* decoder = new MfDecoder(std::move(transform), window);
    if (configLength > 0) decoder->config_.assign(config, config + configLength);
    return decoder;
}

int32_t MfDecoder::decode(const uint8_t* data, int32_t length, int32_t rotation, bool show) {
    if (!data || length <= 0) return -1;
    if (rotation >= 0) {
        std::lock_guard lock(mutex_);
        rotation_ = normalizeRotation(rotation);
    }
    // A picture that a newer one follows is never seen: it costs no conversion.
    auto sink = [this, show](const Yuv420View& decoded) {
        if (show) take(decoded);
    };
    if (config_.empty()) return transform_->decode(data, static_cast<size_t>(length), sink);
    // The parameter sets travel in front of the first unit: the transform learns the stream from it.
    std::vector<uint8_t> first = std::move(config_);
    config_.clear();
    first.insert(first.end(), data, data + length);
    return transform_->decode(first.data(), first.size(), sink);
}

void MfDecoder::take(const Yuv420View& decoded) {
    std::lock_guard lock(mutex_);
    if (!kept_.assign(decoded)) {
        avclog("mftavc: no memory for a %dx%d picture", decoded.width, decoded.height);
        return;
    }
    presentKept();
}

void MfDecoder::presentKept() {
    if (!window_ || kept_.width < 1 || kept_.height < 1) return;
    RECT client{};
    if (!GetClientRect(window_, &client) || client.right <= 0 || client.bottom <= 0) return;
    // Converted straight to the size the window shows (as it stands once turned), never beyond the picture's
    // own: the paint then only stretches what a bigger window needs.
    const bool across = rotation_ == 90 || rotation_ == 270;
    const int32_t width = std::min<int32_t>(kept_.width, across ? client.bottom : client.right);
    const int32_t height = std::min<int32_t>(kept_.height, across ? client.right : client.bottom);
    int32_t shownWidth = 0, shownHeight = 0;
    rotatedSize(rotation_, width, height, &shownWidth, &shownHeight);
    if (!fitPicture(shown_, shownWidth, shownHeight)) {
        avclog("mftavc: no memory for a %dx%d picture", shownWidth, shownHeight);
        return;
    }
    yuv420ToBgrxTurned(kept_.view(), shown_.pixels.data(), width, height, rotation_);
    HDC dc = GetDC(window_);
    if (!dc) return;
    platform::paintPicture(dc, shown_, client.right, client.bottom);
    ReleaseDC(window_, dc);
}

void MfDecoder::windowChanged(int32_t rotation, bool repaint) {
    std::lock_guard lock(mutex_);
    rotation_ = normalizeRotation(rotation);
    if (repaint) presentKept();
}

size_t MfDecoder::pictureBytes() {
    std::lock_guard lock(mutex_);
    return kept_.planes.capacity() + shown_.pixels.capacity();
}

MfDecoder::Yuv420Copy::Layout MfDecoder::Yuv420Copy::layout(int32_t width, int32_t height) {
    const int32_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    return {static_cast<size_t>(width) * height, chromaWidth, chromaHeight,
            static_cast<size_t>(chromaWidth) * chromaHeight};
}

bool MfDecoder::Yuv420Copy::assign(const Yuv420View& picture) {
    const auto [lumaBytes, chromaWidth, chromaHeight, chromaBytes] = layout(picture.width, picture.height);
    if (picture.width != width || picture.height != height) {
        // Made anew rather than resized, so a stream that gets smaller gives the memory back.
        *this = Yuv420Copy{};
        try {
            planes = std::vector<uint8_t>(lumaBytes + 2 * chromaBytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
        width = picture.width;
        height = picture.height;
    }
    uint8_t* y = planes.data();
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(y + static_cast<size_t>(row) * width,
                    picture.y + static_cast<ptrdiff_t>(row) * picture.yStride, static_cast<size_t>(width));
    uint8_t* u = y + lumaBytes;
    uint8_t* v = u + chromaBytes;
    for (int32_t row = 0; row < chromaHeight; ++row) {
        const ptrdiff_t from = static_cast<ptrdiff_t>(row) * picture.chromaStride;
        uint8_t* uRow = u + static_cast<size_t>(row) * chromaWidth;
        uint8_t* vRow = v + static_cast<size_t>(row) * chromaWidth;
        if (picture.chromaStep == 1) {
            std::memcpy(uRow, picture.u + from, static_cast<size_t>(chromaWidth));
            std::memcpy(vRow, picture.v + from, static_cast<size_t>(chromaWidth));
            continue;
        }
        for (int32_t x = 0; x < chromaWidth; ++x) {
            uRow[x] = picture.u[from + static_cast<ptrdiff_t>(x) * picture.chromaStep];
            vRow[x] = picture.v[from + static_cast<ptrdiff_t>(x) * picture.chromaStep];
        }
    }
    return true;
}

Yuv420View MfDecoder::Yuv420Copy::view() const {
    const Layout at = layout(width, height);
    Yuv420View view{};
    view.y = planes.data();
    view.yStride = width;
    view.u = planes.data() + at.lumaBytes;
    view.v = view.u + at.chromaBytes;
    view.chromaStride = at.chromaWidth;
    view.chromaStep = 1;
    view.width = width;
    view.height = height;
    return view;
}
