// H.264 streams through the avc library, which decodes and presents into the window itself.
#pragma once

#include "avc/mftavc.h"
#include "decoder/vediodecoder.h"

namespace platform {
class Window;
}

class AVCDecoder : public VedioDecoder {
public:
    ~AVCDecoder() override { release(); }

    // Opens the library decoder for the stream's config payload, presenting into hwnd. 0, or -7 when the
    // library gave no decoder (every later frame then reports -7 too).
    int32_t initialAVC(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                       int32_t hardwareFlag, platform::Window* hwnd, int32_t displayWidth,
                       int32_t displayHeight);
    // The window changed size or the picture is to be turned by angle.
    void decodeWinMessage(int32_t a, int32_t b, int32_t width, int32_t height, int32_t angle, int32_t flag);

    int32_t decodeRecvVideo(uint8_t frameFlag, const uint8_t* data, int32_t length,
                            uint8_t* picture) override;
    // Decodes without converting or presenting when the library can (mftavc_decode_only); a library
    // without it presents the picture as any other.
    int32_t decodeWithoutShowing(uint8_t frameFlag, const uint8_t* data, int32_t length,
                                 uint8_t* picture) override;
    // A decoder with no config data and no window.
    int32_t initial(int32_t width, int32_t height) override;
    int32_t release() override;

    int32_t rotationAngle() const { return rotation; }

private:
    // Sets up the library decoder; logs the failure under tag.
    int32_t open(const char* tag, const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                 platform::Window* hwnd, int32_t displayWidth, int32_t displayHeight);

    int32_t status = 0;
    MftavcDecoder* handle = nullptr;
    int32_t width = 0, height = 0;
    int32_t rotation = 0;
};
