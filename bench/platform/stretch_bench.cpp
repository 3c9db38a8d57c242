// Cost of one paint's stretch: a phone-sized picture onto typical device window sizes.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/stretch.h"

namespace {

void BM_StretchNearest(benchmark::State& state) {
    platform::Picture picture{1080, 2400, platform::PixelFormat::Rgbx,
                              std::vector<uint8_t>(1080 * 2400 * 4, 0x5A)};
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    std::vector<uint32_t> window(static_cast<size_t>(width) * height);
    for (auto _ : state) {
        platform::stretchNearest(picture, window.data(), width, height);
        benchmark::DoNotOptimize(window.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(BM_StretchNearest)->Args({360, 800})->Args({540, 1200})->Args({1080, 2400});

}  // namespace

BENCHMARK_MAIN();
