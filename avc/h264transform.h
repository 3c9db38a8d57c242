// Media Foundation's H.264 decoder transform, driven synchronously: one access unit in, every picture it
// completes out at once. Hardware decoding goes through DXVA (a Direct3D 11 device handed to the transform)
// where the system offers it; otherwise, or when that set-up fails, the transform decodes in software.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "avc/yuvconvert.h"

struct IMFDXGIDeviceManager;
struct IMFMediaBuffer;
struct IMFSample;
struct IMFTransform;

class H264Transform {
public:
    using Sink = std::function<void(const Yuv420View&)>;

    // width, height: the size the stream announced, or 0, 0 when unknown. Null when no H.264 decoder
    // transform could be set up (the reason is in the library's log).
    static std::unique_ptr<H264Transform> open(int32_t width, int32_t height, bool hardware);
    ~H264Transform();
    H264Transform(const H264Transform&) = delete;
    H264Transform& operator=(const H264Transform&) = delete;

    // Decodes one access unit (Annex B) and hands every picture that comes out to sink, before returning.
    // Returns the number of pictures, or -1 when the transform refused the data.
    int32_t decode(const uint8_t* data, size_t length, const Sink& sink);
    bool usesHardware() const { return deviceManager_ != nullptr; }

private:
    H264Transform() = default;
    bool setUp(int32_t width, int32_t height, bool hardware);
    bool attachHardware();
    bool chooseOutputType();
    // Takes every picture the transform has ready; -1 on a transform failure.
    int32_t drain(const Sink& sink);
    bool deliver(IMFSample* sample, const Sink& sink);
    bool deliverBuffer(const uint8_t* data, size_t length, int32_t pitch, const Sink& sink);

    bool started_ = false;  // MFStartup succeeded
    Microsoft::WRL::ComPtr<IMFTransform> transform_;
    Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> deviceManager_;
    int32_t announcedWidth_ = 0, announcedHeight_ = 0;  // the stream's size from its config, 0 if unknown
    // The output as the transform last described it.
    GUID subtype_{};
    int32_t frameWidth_ = 0, frameHeight_ = 0;  // decoded frame, padding included
    int32_t shownWidth_ = 0, shownHeight_ = 0;  // the part to show (the display aperture)
    int32_t shownX_ = 0, shownY_ = 0;
    int32_t stride_ = 0;  // bytes per luma row when the buffer has no 2-D view
    bool providesSamples_ = false;
    DWORD outputSize_ = 0;
    int64_t sampleTime_ = 0;
};
