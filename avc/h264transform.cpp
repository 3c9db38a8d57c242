#include "avc/h264transform.h"

#include <codecapi.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>

#include <algorithm>
#include <cstring>

#include "avc/avclog.h"

using Microsoft::WRL::ComPtr;

namespace {

// An access unit delimiter NAL. Some decoder transforms hold each picture back until the next access unit
// starts; a delimiter after every unit tells them at once that the unit is complete, so picture k comes out
// for access unit k instead of k+1 (and the last one is not kept for ever).
constexpr uint8_t kAccessUnitDelimiter[] = {0, 0, 0, 1, 9, 0xF0};
constexpr int kMaxEdge = 4096;
// Stream changes (new output type) in a row before the transform is taken as stuck.
constexpr int kMaxFormatChanges = 4;
constexpr int64_t kSampleDuration = 333333;  // 1/30 s in 100 ns units; the transform wants some time

bool endsWithDelimiter(const uint8_t* data, size_t length) {
    const size_t n = sizeof(kAccessUnitDelimiter);
    return length >= n && std::memcmp(data + length - n, kAccessUnitDelimiter, n) == 0;
}

ComPtr<IMFTransform> findDecoder() {
    ComPtr<IMFTransform> transform;
    MFT_REGISTER_TYPE_INFO input{MFMediaType_Video, MFVideoFormat_H264};
    IMFActivate** activates = nullptr;
    UINT32 count = 0;
    if (SUCCEEDED(MFTEnumEx(MFT_CATEGORY_VIDEO_DECODER,
                            MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_LOCALMFT | MFT_ENUM_FLAG_SORTANDFILTER,
                            &input, nullptr, &activates, &count))) {
        for (UINT32 i = 0; i < count; ++i) {
            if (!transform) activates[i]->ActivateObject(IID_PPV_ARGS(&transform));
            activates[i]->Release();
        }
        CoTaskMemFree(activates);
    }
    if (!transform)
        CoCreateInstance(CLSID_CMSH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&transform));
    return transform;
}

bool isSupportedSubtype(const GUID& subtype) {
    return subtype == MFVideoFormat_NV12 || subtype == MFVideoFormat_I420 || subtype == MFVideoFormat_IYUV ||
           subtype == MFVideoFormat_YV12;
}

}  // namespace

std::unique_ptr<H264Transform> H264Transform::open(int32_t width, int32_t height, bool hardware) {
    std::unique_ptr<H264Transform> transform(new H264Transform());
    if (!transform->setUp(width, height, hardware)) return nullptr;
    return transform;
}

H264Transform::~H264Transform() {
    if (transform_) {
        transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
        if (deviceManager_) transform_->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, 0);
    }
    transform_.Reset();
    deviceManager_.Reset();
    if (started_) MFShutdown();
}

bool H264Transform::setUp(int32_t width, int32_t height, bool hardware) {
    announcedWidth_ = width;
    announcedHeight_ = height;
    HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET);
    if (FAILED(hr)) {
        avclog("mftavc: Media Foundation did not start (0x%08lx)", static_cast<unsigned long>(hr));
        return false;
    }
    started_ = true;
    transform_ = findDecoder();
    if (!transform_) {
        avclog("mftavc: no H.264 decoder transform on this system");
        return false;
    }
    ComPtr<IMFAttributes> attributes;
    if (SUCCEEDED(transform_->GetAttributes(&attributes))) {
        // Without it the transform may keep several pictures back to reorder them.
        attributes->SetUINT32(CODECAPI_AVLowLatencyMode, TRUE);
    }
    if (hardware && attributes) {
        UINT32 aware = FALSE;
        if (SUCCEEDED(attributes->GetUINT32(MF_SA_D3D11_AWARE, &aware)) && aware) attachHardware();
    }

    ComPtr<IMFMediaType> input;
    if (FAILED(MFCreateMediaType(&input))) return false;
    input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    input->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (width > 0 && height > 0) MFSetAttributeSize(input.Get(), MF_MT_FRAME_SIZE, width, height);
    MFSetAttributeRatio(input.Get(), MF_MT_FRAME_RATE, 30, 1);
    hr = transform_->SetInputType(0, input.Get(), 0);
    if (FAILED(hr) && deviceManager_) {
        // The hardware would not take this stream: decode it in software.
        avclog("mftavc: hardware decoder refused the stream (0x%08lx), decoding in software",
               static_cast<unsigned long>(hr));
        transform_->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, 0);
        deviceManager_.Reset();
        hr = transform_->SetInputType(0, input.Get(), 0);
    }
    if (FAILED(hr)) {
        avclog("mftavc: decoder refused the input type (0x%08lx), size %dx%d", static_cast<unsigned long>(hr),
               width, height);
        return false;
    }
    if (!chooseOutputType()) return false;
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    avclog("mftavc: decoder open, %s, size %dx%d", deviceManager_ ? "dxva" : "software", width, height);
    return true;
}

bool H264Transform::attachHardware() {
    ComPtr<ID3D11Device> device;
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0,
                                        D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0,
                                        D3D_FEATURE_LEVEL_9_3};
    HRESULT hr =
        D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_VIDEO_SUPPORT,
                          levels, ARRAYSIZE(levels), D3D11_SDK_VERSION, &device, nullptr, nullptr);
    if (FAILED(hr)) {
        avclog("mftavc: no Direct3D 11 video device (0x%08lx), decoding in software",
               static_cast<unsigned long>(hr));
        return false;
    }
    // The transform uses the device from its own threads.
    ComPtr<ID3D10Multithread> multithread;
    if (SUCCEEDED(device.As(&multithread))) multithread->SetMultithreadProtected(TRUE);
    UINT token = 0;
    ComPtr<IMFDXGIDeviceManager> manager;
    if (FAILED(MFCreateDXGIDeviceManager(&token, &manager)) ||
        FAILED(manager->ResetDevice(device.Get(), token))) {
        avclog("mftavc: no DXGI device manager, decoding in software");
        return false;
    }
    hr = transform_->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, reinterpret_cast<ULONG_PTR>(manager.Get()));
    if (FAILED(hr)) {
        avclog("mftavc: decoder declined Direct3D (0x%08lx), decoding in software",
               static_cast<unsigned long>(hr));
        return false;
    }
    deviceManager_ = manager;
    return true;
}

bool H264Transform::chooseOutputType() {
    for (DWORD i = 0;; ++i) {
        ComPtr<IMFMediaType> type;
        if (FAILED(transform_->GetOutputAvailableType(0, i, &type))) break;
        GUID subtype{};
        if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || !isSupportedSubtype(subtype)) continue;
        if (FAILED(transform_->SetOutputType(0, type.Get(), 0))) continue;
        UINT32 width = 0, height = 0;
        MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height);
        subtype_ = subtype;
        frameWidth_ = static_cast<int32_t>(width);
        frameHeight_ = static_cast<int32_t>(height);
        UINT32 stride = 0;
        stride_ = SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)) ? static_cast<int32_t>(stride)
                                                                            : frameWidth_;
        MFVideoArea area{};
        shownX_ = shownY_ = 0;
        shownWidth_ = frameWidth_;
        shownHeight_ = frameHeight_;
        if (SUCCEEDED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area),
                                    sizeof(area), nullptr))) {
            shownX_ = area.OffsetX.value;
            shownY_ = area.OffsetY.value;
            shownWidth_ = area.Area.cx;
            shownHeight_ = area.Area.cy;
        } else if (announcedWidth_ > 0 && announcedHeight_ > 0) {
            // Some transforms give the frame padded to whole macroblocks and no aperture: the padding must
            // not reach the screen, so the stream's own size bounds the picture.
            shownWidth_ = std::min(frameWidth_, announcedWidth_);
            shownHeight_ = std::min(frameHeight_, announcedHeight_);
        }
        avclog("mftavc: output %s, frame %dx%d, stride %d, shown %dx%d at %d,%d",
               subtype == MFVideoFormat_NV12 ? "NV12" : "I420", frameWidth_, frameHeight_, stride_,
               shownWidth_, shownHeight_, shownX_, shownY_);
        MFT_OUTPUT_STREAM_INFO info{};
        transform_->GetOutputStreamInfo(0, &info);
        providesSamples_ =
            (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) !=
            0;
        outputSize_ = info.cbSize;
        return true;
    }
    avclog("mftavc: decoder offers no 4:2:0 output");
    return false;
}

int32_t H264Transform::decode(const uint8_t* data, size_t length, const Sink& sink) {
    const bool delimited = endsWithDelimiter(data, length);
    const size_t total = length + (delimited ? 0 : sizeof(kAccessUnitDelimiter));
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMFSample> sample;
    if (total > MAXDWORD || FAILED(MFCreateMemoryBuffer(static_cast<DWORD>(total), &buffer)) ||
        FAILED(MFCreateSample(&sample))) {
        return -1;
    }
    BYTE* bytes = nullptr;
    if (FAILED(buffer->Lock(&bytes, nullptr, nullptr))) return -1;
    std::memcpy(bytes, data, length);
    if (!delimited) std::memcpy(bytes + length, kAccessUnitDelimiter, sizeof(kAccessUnitDelimiter));
    buffer->Unlock();
    buffer->SetCurrentLength(static_cast<DWORD>(total));
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(sampleTime_);
    sample->SetSampleDuration(kSampleDuration);
    sampleTime_ += kSampleDuration;

    int32_t pictures = 0;
    HRESULT hr = transform_->ProcessInput(0, sample.Get(), 0);
    if (hr == MF_E_NOTACCEPTING) {
        // Pictures of earlier units are still waiting: take them, then the transform takes this unit.
        const int32_t earlier = drain(sink);
        if (earlier < 0) return -1;
        pictures += earlier;
        hr = transform_->ProcessInput(0, sample.Get(), 0);
    }
    if (FAILED(hr)) {
        avclog("mftavc: decoder refused an access unit of %lu bytes (0x%08lx)",
               static_cast<unsigned long>(length), static_cast<unsigned long>(hr));
        return -1;
    }
    const int32_t out = drain(sink);
    return out < 0 ? -1 : pictures + out;
}

int32_t H264Transform::drain(const Sink& sink) {
    int32_t pictures = 0;
    int changes = 0;
    for (;;) {
        MFT_OUTPUT_DATA_BUFFER output{};
        ComPtr<IMFSample> ownSample;
        if (!providesSamples_) {
            ComPtr<IMFMediaBuffer> buffer;
            if (FAILED(MFCreateSample(&ownSample)) || FAILED(MFCreateMemoryBuffer(outputSize_, &buffer)))
                return -1;
            ownSample->AddBuffer(buffer.Get());
            output.pSample = ownSample.Get();
        }
        DWORD status = 0;
        const HRESULT hr = transform_->ProcessOutput(0, 1, &output, &status);
        if (output.pEvents) output.pEvents->Release();
        // A sample the transform made is ours to release; our own one is held by ownSample.
        ComPtr<IMFSample> produced;
        if (providesSamples_ && output.pSample) produced.Attach(output.pSample);
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) return pictures;
        if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
            if (++changes > kMaxFormatChanges || !chooseOutputType()) return -1;
            continue;
        }
        if (FAILED(hr)) {
            avclog("mftavc: decoder output failed (0x%08lx)", static_cast<unsigned long>(hr));
            return -1;
        }
        if (deliver(providesSamples_ ? produced.Get() : ownSample.Get(), sink)) ++pictures;
    }
}

bool H264Transform::deliver(IMFSample* sample, const Sink& sink) {
    if (!sample) return false;
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer))) return false;
    // A 2-D view knows the real pitch; a plain buffer is laid out with the type's stride.
    ComPtr<IMF2DBuffer> view;
    if (SUCCEEDED(buffer.As(&view))) {
        BYTE* scan0 = nullptr;
        LONG pitch = 0;
        if (SUCCEEDED(view->Lock2D(&scan0, &pitch))) {
            DWORD length = 0;
            buffer->GetCurrentLength(&length);
            // A contiguous 2-D buffer holds at least its planes; its current length may be unset.
            const size_t planes = pitch > 0 ? static_cast<size_t>(pitch) * frameHeight_ * 3 / 2 : 0;
            const bool ok = pitch > 0 && deliverBuffer(scan0, std::max<size_t>(length, planes), pitch, sink);
            view->Unlock2D();
            return ok;
        }
    }
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length))) return false;
    const bool ok = deliverBuffer(data, length, stride_, sink);
    buffer->Unlock();
    return ok;
}

bool H264Transform::deliverBuffer(const uint8_t* data, size_t length, int32_t pitch, const Sink& sink) {
    if (frameWidth_ < 1 || frameHeight_ < 1 || frameWidth_ > kMaxEdge || frameHeight_ > kMaxEdge ||
        pitch < frameWidth_ || shownX_ < 0 || shownY_ < 0 || shownWidth_ < 1 || shownHeight_ < 1 ||
        shownX_ + shownWidth_ > frameWidth_ || shownY_ + shownHeight_ > frameHeight_) {
        return false;
    }
    // Chroma rows follow the luma rows: half as many, each half the pitch for planar layouts.
    const size_t lumaBytes = static_cast<size_t>(pitch) * frameHeight_;
    const size_t chromaRows = (frameHeight_ + 1) / 2;
    const bool nv12 = subtype_ == MFVideoFormat_NV12;
    const size_t chromaPitch = nv12 ? pitch : pitch / 2;
    const size_t needed = lumaBytes + chromaPitch * chromaRows * (nv12 ? 1 : 2);
    if (length < needed) return false;
    const uint8_t* first = data + lumaBytes;
    const uint8_t* second = first + chromaPitch * chromaRows;
    Yuv420View picture{};
    picture.y = data + static_cast<size_t>(shownY_) * pitch + shownX_;
    picture.yStride = pitch;
    const size_t chromaOffset =
        static_cast<size_t>(shownY_ / 2) * chromaPitch + (shownX_ / 2) * (nv12 ? 2 : 1);
    if (nv12) {
        picture.u = first + chromaOffset;
        picture.v = first + chromaOffset + 1;
        picture.chromaStep = 2;
    } else {
        const bool yv12 = subtype_ == MFVideoFormat_YV12;  // V before U
        picture.u = (yv12 ? second : first) + chromaOffset;
        picture.v = (yv12 ? first : second) + chromaOffset;
        picture.chromaStep = 1;
    }
    picture.chromaStride = static_cast<int32_t>(chromaPitch);
    picture.width = shownWidth_;
    picture.height = shownHeight_;
    sink(picture);
    return true;
}
