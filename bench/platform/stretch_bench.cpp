// Cost of one paint's stretch: a 720x1280 phone picture onto wall-sized and full-sized windows, the plain
// form against the vector form, and the vector form redrawing only a small changed area.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/stretch.h"

namespace {

platform::Picture phone(platform::PixelFormat format) {
    platform::Picture picture{720, 1280, format, std::vector<uint8_t>(720 * 1280 * 4), nullptr};
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        picture.pixels[i] = static_cast<uint8_t>(i * 131 >> 3);
    return picture;
}

platform::PixelFormat formatOf(const benchmark::State& state) {
    return state.range(2) ? platform::PixelFormat::Rgbx : platform::PixelFormat::Bgrx;
}

void BM_StretchPlain(benchmark::State& state) {
    const platform::Picture picture = phone(formatOf(state));
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    std::vector<uint32_t> window(static_cast<size_t>(width) * height);
    for (auto _ : state) {
        platform::stretchNearest(picture, window.data(), width, height);
        benchmark::DoNotOptimize(window.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

void BM_StretchVector(benchmark::State& state) {
    const platform::Picture picture = phone(formatOf(state));
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    std::vector<uint32_t> window(static_cast<size_t>(width) * height);
    for (auto _ : state) {
        platform::stretchNearestArea(picture, window.data(), width, height,
                                     platform::Rect{0, 0, width, height});
        benchmark::DoNotOptimize(window.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

// A small change: a 64x48 area of the picture (a clock, a cursor), mapped to the window and redrawn there.
void BM_StretchChangedArea(benchmark::State& state) {
    const platform::Picture picture = phone(formatOf(state));
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    std::vector<uint32_t> window(static_cast<size_t>(width) * height);
    const platform::Rect area = platform::stretchedArea(platform::Rect{600, 20, 64, 48}, picture.width,
                                                        picture.height, width, height);
    for (auto _ : state) {
        platform::stretchNearestArea(picture, window.data(), width, height, area);
        benchmark::DoNotOptimize(window.data());
    }
    state.SetItemsProcessed(state.iterations() * area.width * area.height);
}

// Window width, height, and 0 for B, G, R, X pictures or 1 for R, G, B, X.
void windowSizes(benchmark::internal::Benchmark* bench) {
    for (int64_t rgbx : {0, 1}) {
        bench->Args({180, 320, rgbx})->Args({80, 142, rgbx})->Args({1080, 1920, rgbx});
    }
}
BENCHMARK(BM_StretchPlain)->Apply(windowSizes);
BENCHMARK(BM_StretchVector)->Apply(windowSizes);
BENCHMARK(BM_StretchChangedArea)->Apply(windowSizes);

}  // namespace

BENCHMARK_MAIN();
