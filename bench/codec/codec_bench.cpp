// Decoding speed of the ZRC codec on 1080p desktop-like pictures coded by the library's encoder (frame format
// 0x8E, matrix 8, quality 2, LZ packing), decoded to image format 44 with the default flags. Absolute frames
// come from two pictures: a screen piled with dense text (argument desktop:0, the hard case) and a usual
// desktop with one window of paragraphs (desktop:1), on which libjpeg-turbo takes about 4.3 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "codec/frameheader.h"
#include "codec/handle.h"
#include "codec/include/zrc.h"
#include "codec/lz.h"
#include "codec/transform.h"
#include "codec/wordrle.h"
#include "tests/unit/codecenc/screenpicture.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kWidth = 1920, kHeight = 1080, kMatrix = 8;
constexpr uint32_t kQuality = 2;

struct Frames {
    Bytes absolute;
    Bytes relative;      // about 5% of the picture changed to noise, the worst case
    Bytes retyped;       // about 5% of the picture redrawn as new text
    Bytes coefficients;  // the coefficient planes after the absolute frame
    uint32_t mapsize = 0;
    size_t padded_pixels = 0;
};

Bytes encode(ZrcHandle* encoder, const Bytes& image) {
    Bytes frame(static_cast<size_t>(zrc_frame_capacity(encoder)));
    const int length = zrc_encode(encoder, image.data(), frame.data(), kQuality, ZRC_FRAME_YUV420);
    frame.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return frame;
}

using Layout = zrctest::ScreenPicture::Layout;

Frames makeFrames(Layout layout) {
    Frames out;
    ZrcHandle* encoder = zrc_create();
    zrc_configure(encoder, kMatrix, kWidth, kHeight, 44);
    zrctest::ScreenPicture picture(kWidth, kHeight, 1, layout);
    // The first frame asks the decoder to reconfigure (command 1); the one after a reset is a plain
    // absolute frame of a running stream.
    encode(encoder, picture.pixels());
    zrc_reset_encoder(encoder);
    out.absolute = encode(encoder, picture.pixels());
    zrctest::ScreenPicture noisy = picture;
    noisy.scribble(0.05, 1);
    out.relative = encode(encoder, noisy.pixels());
    zrc_reset_encoder(encoder);
    encode(encoder, picture.pixels());
    picture.retype(0.05, 1);
    out.retyped = encode(encoder, picture.pixels());
    zrc_release(encoder);

    ZrcHandle* decoder = zrc_create();
    Bytes image(static_cast<size_t>(kWidth) * kHeight * 4);
    zrc_decompress(decoder, out.absolute.data(), image.data(), nullptr);
    out.mapsize = decoder->mapsize;
    out.padded_pixels = decoder->paddedPixels();
    out.coefficients.assign(decoder->coefficients.data(),
                            decoder->coefficients.data() + out.padded_pixels * 3 / 2);
    zrc_release(decoder);
    return out;
}

const Frames& frames(Layout layout = Layout::kDenseText) {
    static const Frames dense = makeFrames(Layout::kDenseText);
    static const Frames desktop = makeFrames(Layout::kDesktop);
    return layout == Layout::kDesktop ? desktop : dense;
}

// The picture named by argument `index`: 0 for the dense text, 1 for the usual desktop.
Layout layoutArgument(const benchmark::State& state, int index) {
    return state.range(index) ? Layout::kDesktop : Layout::kDenseText;
}

ZrcHandle* decoderHandle(bool multicore) {
    ZrcHandle* h = zrc_create();
    if (!multicore) zrc_clear_flags(h, ZRC_FLAG_MULTICORE);
    return h;
}

void BM_DecodeAbsolute1080p(benchmark::State& state) {
    const Frames& f = frames(layoutArgument(state, 1));
    ZrcHandle* h = decoderHandle(state.range(0) != 0);
    Bytes image(static_cast<size_t>(kWidth) * kHeight * 4);
    if (zrc_decompress(h, f.absolute.data(), image.data(), nullptr) <= 0)
        state.SkipWithError("decode failed");
    for (auto _ : state) {
        benchmark::DoNotOptimize(zrc_decompress(h, f.absolute.data(), image.data(), nullptr));
    }
    state.counters["packed_MB"] = static_cast<double>(f.absolute.size()) / 1e6;
    state.counters["command"] = zrc::restoreHeader(f.absolute.data()).command;
    zrc_release(h);
}
BENCHMARK(BM_DecodeAbsolute1080p)
    ->ArgNames({"multicore", "desktop"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Relative frames following the absolute one, their ids rewritten to follow on.
void decodeRelative(benchmark::State& state, const Bytes& relative) {
    const Frames& f = frames();
    ZrcHandle* h = decoderHandle(state.range(0) != 0);
    Bytes image(static_cast<size_t>(kWidth) * kHeight * 4);
    if (zrc_decompress(h, f.absolute.data(), image.data(), nullptr) <= 0)
        state.SkipWithError("decode failed");
    Bytes frame = relative;
    ZrcFrameHeader header = zrc::restoreHeader(frame.data());
    uint32_t id = zrc::restoreHeader(f.absolute.data()).id;
    for (auto _ : state) {
        header.id = ++id;  // relative frames must follow on
        zrc::writeHeader(header, frame.data());
        if (zrc_decompress(h, frame.data(), image.data(), nullptr) <= 0) state.SkipWithError("decode failed");
    }
    state.counters["changed_blocks"] = static_cast<double>(header.predictions) / f.mapsize;
    zrc_release(h);
}

void BM_DecodeRelative5Percent1080p(benchmark::State& state) {
    decodeRelative(state, frames().relative);
}
BENCHMARK(BM_DecodeRelative5Percent1080p)
    ->ArgName("multicore")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_DecodeRelativeText5Percent1080p(benchmark::State& state) {
    decodeRelative(state, frames().retyped);
}
BENCHMARK(BM_DecodeRelativeText5Percent1080p)
    ->ArgName("multicore")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// A 720x1280 phone screen (format 0x8E, or 0x84 for argument rgb) scrolling: an absolute frame, then
// relative frames each redrawing about 5% of it as new text.
struct PhoneStream {
    Bytes absolute;
    std::vector<Bytes> relative;
};

constexpr int kPhoneWidth = 720, kPhoneHeight = 1280, kPhoneFrames = 8;

const PhoneStream& phoneStream(uint32_t frame_format) {
    static const auto make = [](uint32_t format) {
        PhoneStream out;
        ZrcHandle* encoder = zrc_create();
        zrc_configure(encoder, kMatrix, kPhoneWidth, kPhoneHeight, 44);
        zrctest::ScreenPicture picture(kPhoneWidth, kPhoneHeight, 1, Layout::kDesktop);
        Bytes frame(static_cast<size_t>(zrc_frame_capacity(encoder)));
        auto encodeOne = [&] {
            const int length = zrc_encode(encoder, picture.pixels().data(), frame.data(), kQuality, format);
            return Bytes(frame.begin(), frame.begin() + std::max(length, 0));
        };
        out.absolute = encodeOne();
        for (int step = 1; step <= kPhoneFrames; ++step) {
            picture.retype(0.05, step);
            out.relative.push_back(encodeOne());
        }
        zrc_release(encoder);
        return out;
    };
    static const PhoneStream yuv = make(ZRC_FRAME_YUV420);
    static const PhoneStream rgb = make(ZRC_FRAME_RGB);
    return frame_format == ZRC_FRAME_RGB ? rgb : yuv;
}

// Decodes the stream's relative frames over and over, their ids rewritten to follow on; `burst` frames are
// decoded to coefficients before each render (1: zrc_decompress of every frame).
void decodePhone(benchmark::State& state, uint32_t frame_format, int shift, int burst) {
    const PhoneStream& stream = phoneStream(frame_format);
    ZrcHandle* h = zrc_create();
    Bytes image(static_cast<size_t>(kPhoneWidth) * kPhoneHeight * 4);
    zrc_set_decode_scale(h, shift);
    if (zrc_decompress(h, stream.absolute.data(), image.data(), nullptr) <= 0)
        state.SkipWithError("decode failed");
    std::vector<Bytes> frames = stream.relative;
    uint32_t id = zrc::restoreHeader(stream.absolute.data()).id;
    size_t next = 0;
    int64_t decoded = 0;
    for (auto _ : state) {
        for (int i = 0; i < burst; ++i) {
            Bytes& frame = frames[next++ % frames.size()];
            ZrcFrameHeader header = zrc::restoreHeader(frame.data());
            header.id = ++id;
            zrc::writeHeader(header, frame.data());
            const int result = burst == 1 ? zrc_decompress(h, frame.data(), image.data(), nullptr)
                                          : zrc_decode_coefficients(h, frame.data());
            if (result <= 0) state.SkipWithError("decode failed");
        }
        if (burst > 1 && zrc_render(h, image.data()) < 0) state.SkipWithError("render failed");
        decoded += burst;
    }
    state.counters["frames"] = benchmark::Counter(static_cast<double>(decoded), benchmark::Counter::kIsRate);
    state.counters["handle_MB"] = static_cast<double>(h->heldBytes()) / 1e6;
    zrc_release(h);
}

// Every relative frame decoded and rendered, at full size and at 1/2, 1/4, 1/8.
void BM_DecodePhone720p(benchmark::State& state) {
    decodePhone(state, state.range(1) ? ZRC_FRAME_RGB : ZRC_FRAME_YUV420, static_cast<int>(state.range(0)),
                1);
}
BENCHMARK(BM_DecodePhone720p)
    ->ArgNames({"shift", "rgb"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The absolute frame over and over: every block of the picture rendered, at full size and at 1/2, 1/4, 1/8.
void BM_DecodePhoneAbsolute720p(benchmark::State& state) {
    const PhoneStream& stream = phoneStream(ZRC_FRAME_YUV420);
    ZrcHandle* h = zrc_create();
    Bytes image(static_cast<size_t>(kPhoneWidth) * kPhoneHeight * 4);
    zrc_set_decode_scale(h, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (zrc_decompress(h, stream.absolute.data(), image.data(), nullptr) <= 0)
            state.SkipWithError("decode failed");
    }
    state.counters["handle_MB"] = static_cast<double>(h->heldBytes()) / 1e6;
    zrc_release(h);
}
BENCHMARK(BM_DecodePhoneAbsolute720p)
    ->ArgName("shift")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Four frames decoded to coefficients and rendered once, against BM_DecodePhone720p's four renders.
void BM_DecodePhoneBurstOf4(benchmark::State& state) {
    decodePhone(state, ZRC_FRAME_YUV420, static_cast<int>(state.range(0)), 4);
}
BENCHMARK(BM_DecodePhoneBurstOf4)
    ->ArgName("shift")
    ->Arg(0)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The inverse transform of every block of the absolute frame, fast form and plain reference.
void BM_TransformPicture(benchmark::State& state) {
    const Frames& f = frames();
    const bool forced = zrc::referenceKernels();
    zrc::useReferenceKernels(state.range(0) != 0);
    const Bytes map(f.mapsize, 2);
    Bytes samples(f.coefficients.size());
    for (auto _ : state) {
        zrc::inverseTransformPicture(f.coefficients.data(), samples.data(), map.data(), f.mapsize, kMatrix,
                                     f.padded_pixels, true, kQuality, false);
    }
    zrc::useReferenceKernels(forced);
}
BENCHMARK(BM_TransformPicture)->ArgName("reference")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Unpacks with the LZ unpacker, or the word run-length one when `rle`.
void unpackLoop(benchmark::State& state, const Bytes& packed, size_t size, bool rle = false) {
    Bytes out(size);
    for (auto _ : state) {
        const long produced = rle ? zrc::rleUnpack(packed.data(), packed.size(), out.data(), size)
                                  : zrc::lzUnpack(packed.data(), packed.size(), out.data(), size);
        if (produced != static_cast<long>(size)) state.SkipWithError("unpack failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
    state.counters["zero_share"] =
        static_cast<double>(std::count(out.begin(), out.end(), 0)) / static_cast<double>(size);
    state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(packed.size());
}

// The payload of the encoded absolute frame: block map and coefficient planes.
void BM_LzUnpackFramePayload(benchmark::State& state) {
    const Frames& f = frames(layoutArgument(state, 0));
    const ZrcFrameHeader h = zrc::restoreHeader(f.absolute.data());
    if (h.pack_format != ZRC_PACK_LZ) state.SkipWithError("the encoder did not choose LZ");
    const Bytes packed(f.absolute.begin() + ZRC_HEADER_SIZE, f.absolute.end());
    unpackLoop(state, packed, f.mapsize / 4 + h.diff_length);
}
BENCHMARK(BM_LzUnpackFramePayload)->ArgName("desktop")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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
    unpackLoop(state, packed, data.size());
}
BENCHMARK(BM_LzUnpackSparse)->Unit(benchmark::kMillisecond);

// The payload of the scrolling phone's first relative frame (block map and replaced coefficients, mostly
// zero), as the encoder packed it with LZ; then unpacked and packed again with the word run-length packing.
void BM_UnpackPhoneRelative(benchmark::State& state) {
    const Bytes& frame = phoneStream(ZRC_FRAME_YUV420).relative[0];
    const ZrcFrameHeader h = zrc::restoreHeader(frame.data());
    if (h.pack_format != ZRC_PACK_LZ) state.SkipWithError("the encoder did not choose LZ");
    const size_t blocks = static_cast<size_t>((h.width + kMatrix - 1) / kMatrix) *
                          static_cast<size_t>((h.height + kMatrix - 1) / kMatrix);
    const size_t size = blocks / 4 + h.diff_length;
    const Bytes lz(frame.begin() + ZRC_HEADER_SIZE, frame.end());
    if (state.range(0) == 0) return unpackLoop(state, lz, size);
    Bytes data(size), rle(zrc::rleBound(size));
    zrc::lzUnpack(lz.data(), lz.size(), data.data(), size);
    rle.resize(zrc::rlePack(data.data(), size, rle.data()));
    unpackLoop(state, rle, size, true);
}
BENCHMARK(BM_UnpackPhoneRelative)->ArgName("rle")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
