// Decoding speed of the ZRC codec on a 1080p desktop-like picture.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "bench/codec/screenframes.h"
#include "codec/frameheader.h"
#include "codec/include/zrc.h"
#include "codec/lz.h"
#include "codec/transform.h"

namespace {

using Bytes = std::vector<uint8_t>;
const zrctest::Geometry kGeometry{1920, 1080, 8, true};
constexpr int kQuality = 2;

struct Frames {
    Bytes planes;
    Bytes absolute;
    Bytes relative;  // 5% of the blocks changed
    Bytes payload;   // unpacked payload of the absolute frame
};

const Frames& frames() {
    static const Frames f = [] {
        Frames out;
        const Bytes picture = zrcbench::screenPicture(kGeometry.width, kGeometry.height);
        out.planes = zrcbench::coefficientPlanes(picture, kGeometry, kQuality);
        zrctest::FrameSpec absolute = zrctest::absoluteSpec(kGeometry, ZRC_FRAME_YUV420, out.planes, 2);
        absolute.quality = kQuality;
        out.absolute = zrctest::buildFrame(absolute);
        out.payload = zrctest::unpackedPayload(absolute);

        // Changed blocks in small clusters, as typing or a cursor would leave them, coded with the
        // coefficients of other (text) blocks.
        std::mt19937 rng(3);
        Bytes map(kGeometry.mapsize(), 0);
        Bytes changed = out.planes;
        const uint32_t target = kGeometry.mapsize() / 20;
        uint32_t count = 0;
        while (count < target) {
            const uint32_t start = rng() % kGeometry.mapsize();
            for (uint32_t b = start; b < std::min(start + 6, kGeometry.mapsize()) && count < target; ++b) {
                if (map[b] != 0) continue;
                map[b] = 3;
                ++count;
                const uint32_t from = rng() % kGeometry.mapsize();
                for (int p = 0; p < 3; ++p) {
                    const size_t n = static_cast<size_t>(kGeometry.edge(p) * kGeometry.edge(p));
                    std::copy_n(out.planes.begin() + static_cast<long>(kGeometry.blockOffset(p, from)), n,
                                changed.begin() + static_cast<long>(kGeometry.blockOffset(p, b)));
                }
            }
        }
        zrctest::FrameSpec relative =
            zrctest::relativeSpec(kGeometry, ZRC_FRAME_YUV420, ZRC_DIFF_REPLACE, map, changed, 2);
        relative.quality = kQuality;
        out.relative = zrctest::buildFrame(relative);
        return out;
    }();
    return f;
}

ZrcHandle* decoderHandle(bool multicore) {
    ZrcHandle* h = zrc_create();
    if (!multicore) zrc_clear_flags(h, ZRC_FLAG_MULTICORE);
    return h;
}

void BM_DecodeAbsolute1080p(benchmark::State& state) {
    const Frames& f = frames();
    ZrcHandle* h = decoderHandle(state.range(0) != 0);
    Bytes image(static_cast<size_t>(kGeometry.width) * kGeometry.height * 4);
    if (zrc_decompress(h, f.absolute.data(), image.data(), nullptr) <= 0)
        state.SkipWithError("decode failed");
    for (auto _ : state) {
        benchmark::DoNotOptimize(zrc_decompress(h, f.absolute.data(), image.data(), nullptr));
    }
    state.counters["packed_MB"] = static_cast<double>(f.absolute.size()) / 1e6;
    zrc_release(h);
}
BENCHMARK(BM_DecodeAbsolute1080p)
    ->ArgName("multicore")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_DecodeRelative5Percent1080p(benchmark::State& state) {
    const Frames& f = frames();
    ZrcHandle* h = decoderHandle(state.range(0) != 0);
    Bytes image(static_cast<size_t>(kGeometry.width) * kGeometry.height * 4);
    Bytes frame = f.relative;
    ZrcFrameHeader header = zrc::restoreHeader(frame.data());
    if (zrc_decompress(h, f.absolute.data(), image.data(), nullptr) <= 0)
        state.SkipWithError("decode failed");
    uint32_t id = zrc::restoreHeader(f.absolute.data()).id;
    for (auto _ : state) {
        header.id = ++id;  // relative frames must follow on
        zrc::writeHeader(header, frame.data());
        if (zrc_decompress(h, frame.data(), image.data(), nullptr) <= 0) state.SkipWithError("decode failed");
    }
    zrc_release(h);
}
BENCHMARK(BM_DecodeRelative5Percent1080p)
    ->ArgName("multicore")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The inverse transform of every block of the absolute frame, fast form and plain reference.
void BM_TransformPicture(benchmark::State& state) {
    const Frames& f = frames();
    const bool reference = state.range(0) != 0;
    zrc::useReferenceKernels(reference);
    const Bytes map(kGeometry.mapsize(), 2);
    Bytes samples(kGeometry.planeBytes());
    for (auto _ : state) {
        zrc::inverseTransformPicture(f.planes.data(), samples.data(), map.data(), kGeometry.mapsize(),
                                     kGeometry.matrix, kGeometry.paddedPixels(), true, kQuality, false);
    }
    zrc::useReferenceKernels(false);
}
BENCHMARK(BM_TransformPicture)->ArgName("reference")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LzUnpackCoefficients(benchmark::State& state) {
    const Frames& f = frames();
    Bytes packed(zrc::lzBound(f.payload.size()));
    packed.resize(zrc::lzPack(f.payload.data(), f.payload.size(), packed.data()));
    Bytes out(f.payload.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(zrc::lzUnpack(packed.data(), packed.size(), out.data(), out.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
    state.counters["zero_share"] = static_cast<double>(std::count(f.payload.begin(), f.payload.end(), 0)) /
                                   static_cast<double>(f.payload.size());
    state.counters["ratio"] = static_cast<double>(f.payload.size()) / static_cast<double>(packed.size());
}
BENCHMARK(BM_LzUnpackCoefficients)->Unit(benchmark::kMillisecond);

// Coefficient-like data with 92% zero bytes: small values near each block's start, rare ones after.
void BM_LzUnpackSparse(benchmark::State& state) {
    std::mt19937 rng(5);
    Bytes data(3 << 20);
    for (size_t i = 0; i < data.size(); ++i) {
        const bool low = (i % 64) < 6;
        if (rng() % 100 < (low ? 60u : 3u)) data[i] = static_cast<uint8_t>(static_cast<int>(rng() % 31) - 15);
    }
    Bytes packed(zrc::lzBound(data.size()));
    packed.resize(zrc::lzPack(data.data(), data.size(), packed.data()));
    Bytes out(data.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(zrc::lzUnpack(packed.data(), packed.size(), out.data(), out.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
    state.counters["zero_share"] =
        static_cast<double>(std::count(data.begin(), data.end(), 0)) / static_cast<double>(data.size());
}
BENCHMARK(BM_LzUnpackSparse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
