#include "avc/mfdecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "avc/avclog.h"
#include "avc/rotation.h"
#include "platform/gdipaint.h"

namespace {

constexpr int32_t kMaxEdge = 4096;
// A config beyond this is no SPS/PPS set.
constexpr int32_t kMaxConfig = 64 * 1024;

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
    // Converted straight to the size the window shows (as it stands once turned), never beyond the picture's
    // own: the paint then only stretches what a bigger window needs.
    int32_t width = decoded.width, height = decoded.height;
    RECT client{};
    if (window_ && GetClientRect(window_, &client) && client.right > 0 && client.bottom > 0) {
        const bool across = rotation_ == 90 || rotation_ == 270;
        width = std::min<int32_t>(width, across ? client.bottom : client.right);
        height = std::min<int32_t>(height, across ? client.right : client.bottom);
    }
    std::shared_ptr<platform::Picture> picture = pictures_.take(width, height, platform::PixelFormat::Bgrx);
    yuv420ToBgrxScaled(decoded, picture->pixels.data(), width, height, width * 4);
    latest_ = picture;
    presentRotated(*picture);
}

void MfDecoder::presentRotated(const platform::Picture& picture) {
    if (!window_) return;
    RECT client{};
    if (!GetClientRect(window_, &client) || client.right <= 0 || client.bottom <= 0) return;
    HDC dc = GetDC(window_);
    if (!dc) return;
    if (rotation_ == 0) {
        platform::paintPicture(dc, picture, client.right, client.bottom);
    } else {
        int32_t width = 0, height = 0;
        rotatedSize(rotation_, picture.width, picture.height, &width, &height);
        std::shared_ptr<platform::Picture> turned =
            pictures_.take(width, height, platform::PixelFormat::Bgrx);
        rotatePixels(picture.pixels.data(), picture.width, picture.height, picture.width * 4, rotation_,
                     turned->pixels.data());
        platform::paintPicture(dc, *turned, client.right, client.bottom);
    }
    ReleaseDC(window_, dc);
}

void MfDecoder::setRotation(int32_t rotation, bool repaint) {
    std::lock_guard lock(mutex_);
    rotation_ = normalizeRotation(rotation);
    if (repaint && latest_) presentRotated(*latest_);
}
