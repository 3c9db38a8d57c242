// Encoder speed on a 1920 x 1080 desktop-like picture: an absolute frame, a relative frame with 5% of the
// picture changed, and the LZ packer on the coefficient data the encoder packs.
#include <benchmark/benchmark.h>

#include <vector>

#include "codec/handle.h"
#include "codec/lz.h"
#include "tests/unit/codecenc/screenpicture.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Encoder {
    ZrcHandle* handle = zrc_create();
    std::vector<uint8_t> frame;
    explicit Encoder(bool multicore) {
        zrc_configure(handle, 8, kWidth, kHeight, 44);
        if (!multicore) zrc_clear_flags(handle, ZRC_FLAG_MULTICORE);
        frame.resize(static_cast<size_t>(zrc_frame_capacity(handle)));
    }
    ~Encoder() { zrc_release(handle); }
    int encode(const std::vector<uint8_t>& image) {
        return zrc_encode(handle, image.data(), frame.data(), 2, ZRC_FRAME_YUV420);
    }
};

const zrctest::ScreenPicture& desktop() {
    static const zrctest::ScreenPicture screen(kWidth, kHeight);
    return screen;
}

void BM_EncodeAbsolute(benchmark::State& state) {
    Encoder encoder(state.range(0) != 0);
    int bytes = 0;
    for (auto _ : state) {
        zrc_reset_encoder(encoder.handle);
        bytes = encoder.encode(desktop().pixels());
    }
    state.counters["frame_bytes"] = bytes;
}
BENCHMARK(BM_EncodeAbsolute)->ArgName("multicore")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Two pictures that differ in 5% of their area, encoded in turn: each frame codes that area (and the blocks
// refined from the frame before).
void BM_EncodeRelative5Percent(benchmark::State& state) {
    Encoder encoder(state.range(0) != 0);
    zrctest::ScreenPicture changed(kWidth, kHeight);
    changed.scribble(0.05, 3);
    const std::vector<uint8_t>* pictures[2] = {&desktop().pixels(), &changed.pixels()};
    encoder.encode(*pictures[0]);
    int k = 1, bytes = 0;
    for (auto _ : state) {
        bytes = encoder.encode(*pictures[k]);
        k ^= 1;
    }
    state.counters["frame_bytes"] = bytes;
}
BENCHMARK(BM_EncodeRelative5Percent)->ArgName("multicore")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The packer on the map and coefficient planes of an absolute frame of the desktop.
void BM_LzPackCoefficients(benchmark::State& state) {
    Encoder encoder(true);
    encoder.encode(desktop().pixels());
    const ZrcHandle& h = *encoder.handle;
    const size_t size = h.mapsize / 4 + h.diff_length;
    const std::vector<uint8_t> input(h.work[5], h.work[5] + size);
    std::vector<uint8_t> out(zrc::lzBound(size));
    size_t packed = 0;
    for (auto _ : state) {
        packed = zrc::lzPack(input.data(), size, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
    state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(packed);
}
BENCHMARK(BM_LzPackCoefficients)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
