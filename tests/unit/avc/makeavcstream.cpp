// Writes the H.264 stream the Windows decoder tests play (the Windows build has no encoder): a config and
// one access unit per picture, as a C++ fragment to include. Run from the Linux build:
//   make-avc-stream > tests/unit/avc/avcstream.inc
#include <cstdio>
#include <vector>

#include "tests/unit/avc/avcstreamlayout.h"
#include "tests/unit/stream/support/h264encoder.h"

namespace {

void printArray(const char* name, const std::vector<uint8_t>& bytes) {
    std::printf("constexpr uint8_t %s[] = {", name);
    for (size_t i = 0; i < bytes.size(); ++i)
        std::printf("%s%u,", i % 24 == 0 ? "\n    " : " ", bytes[i]);
    std::printf("\n};\n");
}

}  // namespace

int main() {
    H264Encoder encoder(avcstream::kWidth, avcstream::kHeight);
    if (!encoder.ok()) return 1;
    std::printf("// Made by make-avc-stream (tests/unit/avc/makeavcstream.cpp); do not edit.\n");
    printArray("kConfig", encoder.config());
    std::vector<uint8_t> pixels(avcstream::kWidth * avcstream::kHeight * 4);
    for (int i = 0; i < avcstream::kPictures; ++i) {
        avcstream::drawPicture(i, pixels.data());
        const std::vector<uint8_t> unit = encoder.encodeRgbx(pixels.data());
        if (unit.empty()) return 1;
        char name[32];
        std::snprintf(name, sizeof(name), "kUnit%d", i);
        printArray(name, unit);
    }
    std::printf("constexpr const uint8_t* kUnits[] = {");
    for (int i = 0; i < avcstream::kPictures; ++i)
        std::printf("%skUnit%d", i ? ", " : "", i);
    std::printf("};\nconstexpr size_t kUnitSizes[] = {");
    for (int i = 0; i < avcstream::kPictures; ++i)
        std::printf("%ssizeof(kUnit%d)", i ? ", " : "", i);
    std::printf("};\n");
    return 0;
}
