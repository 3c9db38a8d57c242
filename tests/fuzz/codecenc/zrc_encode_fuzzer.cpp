// Pictures of any size, format, quality and content through the encoder and back through the decoder:
// every frame must decode and leave the decoder with the coefficients the encoder keeps, and where the map
// needs no help from the section (map sizes that are a multiple of 4), a late receiver's rebuilt picture
// must equal the stream's.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/handle.h"
#include "codec/include/zrc.h"

namespace {

uint8_t take(const uint8_t*& data, size_t& size) {
    if (size == 0) return 0;
    --size;
    return *data++;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zrc_set_log_file("/dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint32_t kFormats[] = {0x84, 0x8C, 0x8D, 0x8E, 0x8F};
    const int width = 1 + take(data, size) % 80;
    const int height = 1 + take(data, size) % 80;
    const uint8_t shape = take(data, size);
    const int matrix = 8 << (shape % 3);
    // Which differential forms are enabled: both, replace alone, xor alone, neither.
    static const uint32_t kCleared[] = {0, ZRC_FLAG_XOR, ZRC_FLAG_REPLACE, ZRC_FLAG_XOR | ZRC_FLAG_REPLACE};
    const uint32_t cleared = kCleared[(shape >> 4) & 3];
    const uint8_t options = take(data, size);
    const uint32_t format = kFormats[options % 5];
    const uint32_t quality = (options >> 3) % 6;
    const uint32_t image_format = (options & 0x80) ? 9 : 44;
    // The decoder has no red-green-blue conversion for matrix 16; the encoder refuses such pairs.
    if (zrc_frame_format_supported(format, matrix) != 1) return 0;

    ZrcHandle* encoder = zrc_create();
    ZrcHandle* decoder = zrc_create();
    ZrcHandle* late = zrc_create();
    zrc_configure(encoder, matrix, width, height, image_format);
    zrc_configure(decoder, matrix, width, height, image_format);
    zrc_clear_flags(decoder, ZRC_FLAG_SMOOTH);
    zrc_clear_flags(late, ZRC_FLAG_SMOOTH);
    zrc_set_decode_image_format(late, image_format);
    zrc_clear_flags(encoder, cleared);
    const size_t pixel_bytes = image_format == 9 ? 2 : 4;
    const size_t image_size = static_cast<size_t>(width) * static_cast<size_t>(height) * pixel_bytes;
    std::vector<uint8_t> image(image_size), frame(static_cast<size_t>(zrc_frame_capacity(encoder)));
    std::vector<uint8_t> picture(image_size), rebuilt(image_size);
    const bool exact = ((width + matrix - 1) / matrix) * ((height + matrix - 1) / matrix) % 4 == 0;
    for (int step = 0; step < 4 && size > 0; ++step) {
        // Each step overwrites a stretch of the image with the next input bytes.
        const size_t start = take(data, size) * image_size / 256;
        const size_t n = size < image_size - start ? size : image_size - start;
        std::memcpy(image.data() + start, data, n);
        data += n;
        size -= n;
        const int written = zrc_encode(encoder, image.data(), frame.data(), quality, format);
        if (written < 0 || static_cast<size_t>(written) > frame.size()) std::abort();
        if (written == 0) continue;
        if (zrc_decompress(decoder, frame.data(), picture.data(), nullptr) <= 0) std::abort();
        // The encoder makes its next xor frame against the coefficients it keeps: they are the decoder's.
        if (std::memcmp(encoder->work[4], decoder->coefficients.data(), encoder->trans_length) != 0)
            std::abort();
        if (zrc_absolute_frame(encoder, frame.data()) <= 0) std::abort();
        if (zrc_decompress(late, frame.data(), rebuilt.data(), nullptr) <= 0) std::abort();
        if (exact && rebuilt != picture) std::abort();
    }
    zrc_release(encoder);
    zrc_release(decoder);
    zrc_release(late);
    return 0;
}
