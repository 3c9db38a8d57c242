// libjpeg-turbo decoding the pictures of the codec benchmarks (1920x1080 synthetic desktops), stored as JPEG
// quality 90 with 4:2:0 colour and decoded to bytes R, G, B, A: how fast a mature decoder shows the same
// content, so that the codec's figures can be read against it.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/unit/codecenc/screenpicture.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kWidth = 1920, kHeight = 1080;

Bytes compress(const Bytes& rgba, int quality) {
    Bytes rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0, o = 0; o < rgb.size(); i += 4, o += 3) {
        rgb[o] = rgba[i];
        rgb[o + 1] = rgba[i + 1];
        rgb[o + 2] = rgba[i + 2];
    }
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);  // 4:2:0
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * kWidth * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

void decompress(const Bytes& jpeg, Bytes& image) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr error{};
    d.err = jpeg_std_error(&error);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &image[static_cast<size_t>(d.output_scanline) * kWidth * 4];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
}

// Argument 0: the dense-text desktop of the codec benchmarks; 1: the usual desktop.
void BM_JpegDecode1080p(benchmark::State& state) {
    const auto layout = state.range(0) ? zrctest::ScreenPicture::Layout::kDesktop
                                       : zrctest::ScreenPicture::Layout::kDenseText;
    const zrctest::ScreenPicture picture(kWidth, kHeight, 1, layout);
    const Bytes jpeg = compress(picture.pixels(), 90);
    Bytes image(static_cast<size_t>(kWidth) * kHeight * 4);
    for (auto _ : state)
        decompress(jpeg, image);
    state.counters["jpeg_MB"] = static_cast<double>(jpeg.size()) / 1e6;
}
BENCHMARK(BM_JpegDecode1080p)->ArgName("desktop")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
