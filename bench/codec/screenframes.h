#ifndef BENCH_CODEC_SCREENFRAMES_H
#define BENCH_CODEC_SCREENFRAMES_H

#include <cstdint>
#include <vector>

#include "tests/unit/codec/framebuilder.h"

namespace zrcbench {

// A desktop-like picture (plain background, windows, title bars, lines of text, a photo-like gradient),
// bytes R, G, B per pixel.
std::vector<uint8_t> screenPicture(int width, int height);

// The coefficient planes of a picture in 4:2:0 block order at `quality`, by a floating-point forward
// transform (the inverse of the decoder's), so that decoding gives the picture back approximately.
std::vector<uint8_t> coefficientPlanes(const std::vector<uint8_t>& rgb, const zrctest::Geometry& g,
                                       int quality);

}  // namespace zrcbench

#endif
