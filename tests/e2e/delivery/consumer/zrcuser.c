/* A program of an integrator that uses the installed codec alone: a picture through the encoder and back. */
#include <stdio.h>
#include <stdlib.h>
#include <zrc.h>

enum { kWidth = 64, kHeight = 48 };

int main(void) {
    static uint8_t image[kWidth * kHeight * 4], decoded[kWidth * kHeight * 4];
    for (int i = 0; i < kWidth * kHeight; ++i) {
        image[4 * i] = (uint8_t)(i % kWidth * 4);
        image[4 * i + 1] = (uint8_t)(i / kWidth * 5);
        image[4 * i + 2] = 128;
        image[4 * i + 3] = 255;
    }
    ZrcHandle* encoder = zrc_create();
    ZrcHandle* decoder = zrc_create();
    if (encoder == NULL || decoder == NULL || zrc_configure(encoder, 8, kWidth, kHeight, 44) != 0) {
        fprintf(stderr, "zrcuser: no codec\n");
        return 1;
    }
    uint8_t* frame = malloc((size_t)zrc_frame_capacity(encoder));
    const int length = zrc_encode(encoder, image, frame, 0, ZRC_FRAME_YUV444);
    const int produced = length > 0 ? zrc_decompress(decoder, frame, decoded, NULL) : -1;
    long worst = 0;
    for (int i = 0; i < kWidth * kHeight * 4; ++i) {
        const long d = labs((long)image[i] - decoded[i]);
        if (i % 4 != 3 && d > worst) worst = d;
    }
    printf("zrcuser: frame %d bytes, decoded %d bytes, largest difference %ld\n", length, produced, worst);
    free(frame);
    zrc_release(encoder);
    zrc_release(decoder);
    return length > 0 && produced == kWidth * kHeight * 4 && worst <= 16 ? 0 : 1;
}
