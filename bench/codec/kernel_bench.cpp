// Speed of the ZRC decoding kernels one by one on a whole 1080p picture (4:2:0, matrix 8, every block
// changed): inverse transform per plane (matrix 16 and 32 too) on the coefficients of the library's own
// encoder, smoothing and conversion on random planes (their vector paths take no data-dependent branch).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "codec/conversion.h"
#include "codec/handle.h"
#include "codec/include/zrc.h"
#include "codec/picturelayout.h"
#include "codec/scaledtransform.h"
#include "codec/smoothing.h"
#include "codec/transform.h"
#include "tests/unit/codecenc/screenpicture.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kWidth = 1920, kHeight = 1080, kMatrix = 8;
constexpr uint32_t kQuality = 2;

struct Picture {
    zrc::PictureLayout layout;
    Bytes coefficients;  // the coefficient planes of an encoded absolute frame
    Bytes planes;        // random samples
    Bytes map;           // every block changed
    Bytes frame;         // the encoded absolute frame
};

Picture makePicture(int matrix, int width = kWidth, int height = kHeight) {
    Picture out;
    ZrcHandle* encoder = zrc_create();
    zrc_configure(encoder, matrix, width, height, 44);
    zrctest::ScreenPicture screen(width, height);
    screen.draw(0);
    Bytes frame(static_cast<size_t>(zrc_frame_capacity(encoder)));
    zrc_encode(encoder, screen.pixels().data(), frame.data(), kQuality, ZRC_FRAME_YUV420);
    zrc_reset_encoder(encoder);
    zrc_encode(encoder, screen.pixels().data(), frame.data(), kQuality, ZRC_FRAME_YUV420);
    zrc_release(encoder);
    out.frame = frame;

    ZrcHandle* decoder = zrc_create();
    Bytes image(static_cast<size_t>(width) * height * 4);
    zrc_decompress(decoder, frame.data(), image.data(), nullptr);
    out.layout = zrc::PictureLayout::of(matrix, decoder->paddedWidth(), decoder->paddedHeight(), true);
    out.coefficients.assign(decoder->coefficients.data(), decoder->coefficients.data() + out.layout.bytes);
    zrc_release(decoder);

    std::mt19937 rng(3);
    out.planes.resize(out.layout.bytes);
    for (uint8_t& b : out.planes)
        b = static_cast<uint8_t>(rng());
    out.map.assign(out.layout.blocks(), 2);
    return out;
}

// Matrix 8 unless asked for 16 or 32.
const Picture& picture(int matrix = kMatrix) {
    if (matrix == 16) {
        static const Picture p16 = makePicture(16);
        return p16;
    }
    if (matrix == 32) {
        static const Picture p32 = makePicture(32);
        return p32;
    }
    static const Picture p8 = makePicture(8);
    return p8;
}

// Sets the kernel form for one benchmark (0: fast with AVX2 where the processor has it, 1: portable fast,
// 2: plain reference) and puts back what the process had.
class KernelForm {
public:
    explicit KernelForm(int64_t form) : reference_(zrc::referenceKernels()), avx2_(zrc::avx2Kernels()) {
        zrc::useReferenceKernels(form == 2);
        zrc::useAvx2Kernels(form == 0);
    }
    ~KernelForm() {
        zrc::useReferenceKernels(reference_);
        zrc::useAvx2Kernels(avx2_);
    }

private:
    bool reference_;
    bool avx2_;
};

// Inverse transform of one plane: 0 is luma (edge matrix), 1 a colour plane (edge matrix / 2).
void BM_TransformPlane(benchmark::State& state) {
    const Picture& p = picture(static_cast<int>(state.range(2)));
    const KernelForm form(state.range(1));
    const int plane = static_cast<int>(state.range(0));
    Bytes samples(p.layout.bytes);
    for (auto _ : state) {
        zrc::inverseTransformBlocks(p.layout, plane, p.coefficients.data(), samples.data(), p.map.data(), 0,
                                    p.layout.blocks(), kQuality);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_TransformPlane)
    ->ArgNames({"plane", "form", "matrix"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {8}})
    ->ArgsProduct({{0}, {0, 1}, {16, 32}})
    ->Unit(benchmark::kMicrosecond);

// Smoothing of the three planes (matrix 8, and 16 and 32 for the fast forms).
void BM_SmoothPicture(benchmark::State& state) {
    const Picture& p = picture(static_cast<int>(state.range(1)));
    const KernelForm form(state.range(0));
    Bytes out(p.layout.bytes);
    for (auto _ : state) {
        for (int plane = 0; plane < 3; ++plane)
            zrc::smoothBlocks(p.layout, plane, p.planes.data(), out.data(), p.map.data(), 0,
                              p.layout.blocks(), false);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SmoothPicture)
    ->ArgNames({"form", "matrix"})
    ->ArgsProduct({{0, 1, 2}, {8}})
    ->ArgsProduct({{0, 1}, {16, 32}})
    ->Unit(benchmark::kMicrosecond);

// Conversion of 4:2:0 planes to an image format: 44 (bytes R, G, B, 0xFF), 39 and the 16-bit 9 and 15;
// format 44 for matrix 16 and 32 too.
void BM_Convert420(benchmark::State& state) {
    const int matrix = static_cast<int>(state.range(2));
    const Picture& p = picture(matrix);
    const KernelForm form(state.range(1));
    const auto format = static_cast<uint32_t>(state.range(0));
    Bytes image(static_cast<size_t>(kWidth) * kHeight * 4);
    for (auto _ : state) {
        if (zrc::convertBlocks(ZRC_FRAME_YUV420, p.planes.data(), image.data(), p.map.data(), 0,
                               p.layout.blocks(), matrix, kWidth, kHeight, format) == 0)
            state.SkipWithError("conversion refused");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Convert420)
    ->ArgNames({"format", "form", "matrix"})
    ->ArgsProduct({{44, 39, 9, 15}, {0, 1}, {8}})
    ->Args({44, 2, 8})
    ->ArgsProduct({{44}, {0, 1}, {16, 32}})
    ->Unit(benchmark::kMicrosecond);

// A whole single-core decode of the absolute frame (matrix 8) to format 44, for the kernels' share of it.
void BM_DecodeAbsolute(benchmark::State& state) {
    const Picture& p = picture();
    const KernelForm form(state.range(0));
    ZrcHandle* h = zrc_create();
    zrc_clear_flags(h, ZRC_FLAG_MULTICORE);
    Bytes image(static_cast<size_t>(kWidth) * kHeight * 4);
    for (auto _ : state) {
        if (zrc_decompress(h, p.frame.data(), image.data(), nullptr) <= 0)
            state.SkipWithError("decode failed");
    }
    zrc_release(h);
}
BENCHMARK(BM_DecodeAbsolute)->ArgName("form")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Inverse transform of a whole 720x1280 picture (4:2:0, the screen's coefficients, every block changed) at
// full size (shift 0) and reduced to 1/2, 1/4, 1/8 (shift 1..3), a plane's blocks at once (calls 0) or one
// call a block (calls 1); per block is the time over the blocks of all three planes.
void BM_ScaledTransformPicture(benchmark::State& state) {
    const int shift = static_cast<int>(state.range(0));
    const int matrix = static_cast<int>(state.range(2));
    const bool per_block = state.range(3) == 1;
    static const Picture p8 = makePicture(8, 720, 1280), p16 = makePicture(16, 720, 1280);
    const Picture& p = matrix == 16 ? p16 : p8;
    const KernelForm form(state.range(1));
    const zrc::PictureLayout out = p.layout.scaled(shift);
    Bytes samples(out.bytes);
    for (auto _ : state) {
        for (int plane = 0; plane < 3; ++plane) {
            if (!per_block) {
                zrc::scaledInverseTransformBlocks(p.layout, plane, shift, p.coefficients.data(),
                                                  samples.data(), p.map.data(), 0, p.layout.blocks(),
                                                  kQuality);
                continue;
            }
            const size_t in_bytes = p.layout.blockBytes(plane), out_bytes = out.blockBytes(plane);
            const uint8_t* c = p.coefficients.data() + p.layout.offsets[plane];
            uint8_t* s = samples.data() + out.offsets[plane];
            for (uint32_t b = 0; b < p.layout.blocks(); ++b)
                zrc::scaledInverseTransformBlock(p.layout.edges[plane], shift, c + b * in_bytes, kQuality,
                                                 s + b * out_bytes);
        }
        benchmark::ClobberMemory();
    }
    state.counters["per_block"] = benchmark::Counter(
        3.0 * p.layout.blocks(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScaledTransformPicture)
    ->ArgNames({"shift", "form", "matrix", "calls"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 2}, {8, 16}, {0}})
    ->ArgsProduct({{0, 1, 2, 3}, {0}, {8}, {1}})
    ->Unit(benchmark::kMicrosecond);

// Conversion of a 720x1280 picture's 4:2:0 planes (matrix 8, random samples, every block changed) to format
// 44 at full size (shift 0) and at 1/2, 1/4, 1/8 (shift 1..3: blocks of edge 4, 2, 1), fast form and
// plain reference.
void BM_ConvertScaled420(benchmark::State& state) {
    const int shift = static_cast<int>(state.range(0));
    static const Picture p = makePicture(8, 720, 1280);
    const KernelForm form(state.range(1));
    const int width = 720 >> shift, height = 1280 >> shift;
    Bytes image(static_cast<size_t>(width) * height * 4);
    for (auto _ : state) {
        if (zrc::convertScaledBlocks(ZRC_FRAME_YUV420, p.planes.data(), image.data(), p.map.data(), 0,
                                     p.layout.blocks(), kMatrix, shift, width, height, 44) == 0)
            state.SkipWithError("conversion refused");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ConvertScaled420)
    ->ArgNames({"shift", "form"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 2}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
