// Forward kernels of the encoder: fast forms against their references, and against the decoder's inverse.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "codec/conversion.h"
#include "codec/forwardconversion.h"
#include "codec/forwardtransform.h"
#include "codec/transform.h"

namespace zrc {
namespace {

// Blocks that reach every path: random, flat at the extremes and between, a checkerboard, a sharp edge and
// a ramp.
std::vector<std::vector<uint8_t>> testBlocks(int edge) {
    const int n = edge * edge;
    std::vector<std::vector<uint8_t>> blocks;
    uint32_t state = 12345;
    for (int k = 0; k < 4; ++k) {
        std::vector<uint8_t> b(static_cast<size_t>(n));
        for (uint8_t& v : b) {
            state = state * 1103515245u + 12345u;
            v = static_cast<uint8_t>(state >> 16);
        }
        blocks.push_back(b);
    }
    for (uint8_t value : {0, 1, 127, 128, 200, 255})
        blocks.emplace_back(static_cast<size_t>(n), value);
    std::vector<uint8_t> checker(static_cast<size_t>(n)), half(static_cast<size_t>(n)),
        ramp(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        checker[static_cast<size_t>(i)] = ((i / edge + i % edge) % 2) ? 255 : 0;
        half[static_cast<size_t>(i)] = (i % edge) < edge / 2 ? 20 : 235;
        ramp[static_cast<size_t>(i)] = static_cast<uint8_t>((i % edge) * 255 / (edge - 1));
    }
    blocks.push_back(checker);
    blocks.push_back(half);
    blocks.push_back(ramp);
    return blocks;
}

TEST(ZrcForwardTransform, FastFormEqualsReference) {
    for (int edge : {4, 8, 16, 32}) {
        for (int quality = 0; quality <= 5; ++quality) {
            for (const std::vector<uint8_t>& block : testBlocks(edge)) {
                std::vector<uint8_t> fast(block.size()), reference(block.size());
                forwardTransformBlock(edge, block.data(), quality, fast.data());
                forwardTransformBlockReference(edge, block.data(), quality, reference.data());
                ASSERT_EQ(fast, reference) << "edge " << edge << " quality " << quality;
            }
        }
    }
}

// The inverse turns the coefficients back into the block: flat blocks within the DC step, detailed ones
// within the quantiser's error at the finest quality.
TEST(ZrcForwardTransform, InverseRestoresTheBlock) {
    for (int edge : {4, 8, 16, 32}) {
        const std::vector<std::vector<uint8_t>> blocks = testBlocks(edge);
        for (size_t k = 0; k < blocks.size(); ++k) {
            const std::vector<uint8_t>& block = blocks[k];
            std::vector<uint8_t> coefficients(block.size()), samples(block.size());
            forwardTransformBlock(edge, block.data(), 0, coefficients.data());
            inverseTransformBlock(edge, coefficients.data(), 0, samples.data());
            const bool flat = k >= 4 && k < 10;
            double total = 0;
            int worst = 0;
            for (size_t i = 0; i < block.size(); ++i) {
                const int error = std::abs(samples[i] - block[i]);
                total += error;
                worst = std::max(worst, error);
            }
            if (flat) {
                EXPECT_LE(worst, 1) << "edge " << edge << " value " << int{block[0]};
            } else if (k >= 10) {
                // Screen-like detail; random noise saturates the coarse steps and is not asked to come back.
                EXPECT_LT(total / static_cast<double>(block.size()), edge == 32 ? 14.0 : 8.0)
                    << "edge " << edge << " block " << k;
            }
        }
    }
}

// Every colour goes through the forward and the decoder's colour conversion within a step of the
// quantised colour differences, but for the few saturated colours outside the colour space.
TEST(ZrcForwardConversion, ColourSurvivesTheRoundTrip) {
    int outside = 0;
    for (int r = 0; r < 256; r += 5) {
        for (int g = 0; g < 256; g += 5) {
            for (int b = 0; b < 256; b += 5) {
                uint8_t y, u, v;
                rgbToYuv(Rgb{static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)}, &y,
                         &u, &v);
                const Rgb back = yuvToRgb(y, u, v);
                const int error =
                    std::max({std::abs(back.r - r), std::abs(back.g - g), std::abs(back.b - b)});
                if (error > 3) ++outside;
                ASSERT_LE(error, 12) << r << " " << g << " " << b;
            }
        }
    }
    EXPECT_LT(outside, 52 * 52 * 52 / 100);
}

// Each image format is read as the decoder writes it: the planes of an image the decoder produced come
// back unchanged through the conversion of RGB planes.
TEST(ZrcForwardConversion, ReadsEveryImageFormatTheDecoderWrites) {
    const int width = 8, height = 8;
    std::vector<uint8_t> planes(3 * 64);
    for (size_t i = 0; i < planes.size(); ++i)
        planes[i] = static_cast<uint8_t>(i * 37);
    const uint8_t map[1] = {1};
    for (uint32_t format : {9u, 14u, 15u, 20u, 39u, 44u, 51u, 56u}) {
        std::vector<uint8_t> image(static_cast<size_t>(width * height * 4)), back(planes.size());
        ASSERT_GT(convertPicture(0x84, planes.data(), image.data(), map, 1, 8, width, height, format, false),
                  0u);
        ASSERT_TRUE(imageToPlanes(image.data(), format, 0x84, back.data(), map, 1, 8, width, height, false));
        for (size_t i = 0; i < planes.size(); ++i) {
            const bool six_bits = (format == 9 || format == 14) && i / 64 == 1;
            const int keep = convertedPixelBytes(format) == 4 ? 0xFF : six_bits ? 0xFC : 0xF8;
            ASSERT_EQ(back[i] & keep, planes[i] & keep) << "format " << format << " sample " << i;
        }
    }
    std::vector<uint8_t> image(64 * 4), back(planes.size());
    EXPECT_FALSE(imageToPlanes(image.data(), 33, 0x84, back.data(), map, 1, 8, width, height, false));
    EXPECT_FALSE(imageToPlanes(image.data(), 44, 0x85, back.data(), map, 1, 8, width, height, false));
}

}  // namespace
}  // namespace zrc
