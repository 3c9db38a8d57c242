// What one picture of a wall phone costs the H.264 library: a 720x1280 moving screen (libx264 ultrafast,
// as the device simulator codes it) decoded and shown in a window of a wall, and decoded only, as the
// pictures a newer one follows are. CPU time per access unit.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "avc/mftavc.h"
#include "platform/headlesswindow.h"
#include "tests/unit/stream/support/h264encoder.h"

namespace {

constexpr int32_t kWidth = 720, kHeight = 1280;

// A gradient with a box moving across it: every macroblock row has motion.
const std::vector<std::vector<uint8_t>>& movingUnits(std::vector<uint8_t>* config) {
    static std::vector<uint8_t> headers;
    static const std::vector<std::vector<uint8_t>> units = [] {
        H264Encoder encoder{kWidth, kHeight};
        std::vector<std::vector<uint8_t>> made;
        if (!encoder.ok()) return made;
        headers = encoder.config();
        std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
        for (int f = 0; f < 60; ++f) {
            for (int32_t y = 0; y < kHeight; ++y) {
                for (int32_t x = 0; x < kWidth; ++x) {
                    uint8_t* p = &pixels[(static_cast<size_t>(y) * kWidth + x) * 4];
                    const bool box = x >= f * 10 && x < f * 10 + 200 && y >= f * 20 && y < f * 20 + 300;
                    p[0] = box ? 250 : static_cast<uint8_t>((x + f * 4) / 4);
                    p[1] = box ? 30 : static_cast<uint8_t>((y + f * 8) / 6);
                    p[2] = box ? 40 : 128;
                }
            }
            made.push_back(encoder.encodeRgbx(pixels.data()));
        }
        return made;
    }();
    *config = headers;
    return units;
}

// shownWidth x shownHeight: the window; 0 x 0 decodes only.
void decodeLoop(benchmark::State& state, int32_t shownWidth, int32_t shownHeight) {
    std::vector<uint8_t> config;
    const std::vector<std::vector<uint8_t>>& units = movingUnits(&config);
    if (units.empty()) {
        state.SkipWithError("libx264 missing");
        return;
    }
    const bool show = shownWidth > 0;
    platform::HeadlessWindow window{{0, 0, show ? shownWidth : 1, show ? shownHeight : 1},
                                    platform::ShowState::Normal};
    MftavcWindow descriptor{&window, 0};
    MftavcDecoder* decoder = mftavc_decoder_init(config.data(), static_cast<int32_t>(config.size()), kWidth,
                                                 kHeight, 0, &descriptor, shownWidth, shownHeight);
    if (!decoder) {
        state.SkipWithError("no decoder");
        return;
    }
    size_t i = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& unit = units[i++ % units.size()];
        const int32_t length = static_cast<int32_t>(unit.size());
        const int32_t r = show ? mftavc_decode(decoder, nullptr, unit.data(), length, 0, 0, 0, 0, 0, 0)
                               : mftavc_decode_only(decoder, unit.data(), length);
        if (r != 1) {
            state.SkipWithError("access unit not decoded");
            break;
        }
    }
    mftavc_decoder_release(decoder);
}

// A wall: state.range(0) streams decoded round robin in one thread, each shown in an 80x142 window, so
// that every stream's reference pictures have left the cache by its next access unit, as on a client of
// many phones. CPU time per access unit.
void BM_WallRoundRobin(benchmark::State& state) {
    std::vector<uint8_t> config;
    const std::vector<std::vector<uint8_t>>& units = movingUnits(&config);
    if (units.empty()) {
        state.SkipWithError("libx264 missing");
        return;
    }
    const auto streams = static_cast<size_t>(state.range(0));
    std::vector<std::unique_ptr<platform::HeadlessWindow>> windows;
    std::vector<MftavcDecoder*> decoders;
    for (size_t s = 0; s < streams; ++s) {
        windows.push_back(std::make_unique<platform::HeadlessWindow>(platform::Rect{0, 0, 80, 142},
                                                                     platform::ShowState::Normal));
        MftavcWindow descriptor{windows.back().get(), 0};
        MftavcDecoder* decoder = mftavc_decoder_init(config.data(), static_cast<int32_t>(config.size()),
                                                     kWidth, kHeight, 0, &descriptor, 80, 142);
        if (!decoder) break;
        decoders.push_back(decoder);
    }
    size_t unit = 0, stream = 0;
    for (auto _ : state) {
        if (decoders.size() != streams) {
            state.SkipWithError("no decoder");
            break;
        }
        const std::vector<uint8_t>& data = units[unit];
        if (mftavc_decode(decoders[stream], nullptr, data.data(), static_cast<int32_t>(data.size()), 0, 0, 0,
                          0, 0, 0) != 1) {
            state.SkipWithError("access unit not decoded");
            break;
        }
        if (++stream == streams) {
            stream = 0;
            unit = (unit + 1) % units.size();
        }
    }
    for (MftavcDecoder* decoder : decoders)
        mftavc_decoder_release(decoder);
}

void BM_DecodeOnly720x1280(benchmark::State& state) {
    decodeLoop(state, 0, 0);
}
void BM_ShownIn80x142(benchmark::State& state) {
    decodeLoop(state, 80, 142);
}
void BM_ShownIn180x320(benchmark::State& state) {
    decodeLoop(state, 180, 320);
}
void BM_ShownIn720x1280(benchmark::State& state) {
    decodeLoop(state, 720, 1280);
}

}  // namespace

BENCHMARK(BM_DecodeOnly720x1280)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShownIn80x142)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShownIn180x320)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShownIn720x1280)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WallRoundRobin)->Arg(32)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
