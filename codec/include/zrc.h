/*
 * ZRC screen codec: the decoder and the encoder of the library.
 *
 * Every function takes the handle first, reports failure by a negative integer and writes one line through
 * zrc_log; nothing throws.
 *
 * Safety contract of the decoder:
 *  - zrc_decompress reads at most 88 + pack_length bytes from `frame` (pack_length from the frame's own,
 *    checked header) and never more than that, whatever the payload holds.
 *  - It writes only inside the caller's image of the configured size: width * height * 2 or * 4 bytes for
 *    the converted formats (9..32: 2, 39..62: 4), or the plane size (3 * padded_pixels for frame formats
 *    0x84 and 0x8C, padded_pixels * 3 / 2 for 0x8D..0x8F) when the image format equals the frame format.
 *  - The unpackers never read past their input length nor write past their output capacity.
 */
#ifndef ZRC_H
#define ZRC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZrcHandle ZrcHandle;

/* Frame header words in their plain (restored) form; on the wire they are chained, see zrc_dump_header. */
typedef struct ZrcFrameHeader {
    uint32_t magic; /* the bytes "ZRC2" read as a little-endian word */
    uint32_t version;
    uint32_t reserved;
    uint32_t id;
    uint32_t command;
    int32_t width;
    int32_t height;
    uint32_t matrix;
    uint32_t predictions;
    uint32_t frame_format;
    uint32_t frame_bits;
    uint32_t frame_length;
    uint32_t trans_format;
    uint32_t trans_bits;
    uint32_t trans_length;
    uint32_t quality;
    uint32_t diff_type;
    uint32_t diff_length;
    uint32_t pack_format;
    uint32_t pack_length;
    uint32_t timestamp;
    uint32_t checksum;
} ZrcFrameHeader;

#define ZRC_HEADER_SIZE 88
#define ZRC_HEADER_WORDS 22
#define ZRC_MAGIC 0x3243525Au /* "ZRC2" */
#define ZRC_VERSION 0x0200000Cu
#define ZRC_MAX_EDGE 4096
#define ZRC_MAX_LENGTH 0x4000000u
/* Size a text buffer given to zrc_dump_header must have. */
#define ZRC_HEADER_TEXT_SIZE 640

/* Flags. */
#define ZRC_FLAG_REPLACE 0x1u
#define ZRC_FLAG_XOR 0x2u
#define ZRC_FLAG_SMOOTH 0x10u
#define ZRC_FLAG_PACE 0x20u
#define ZRC_FLAG_MULTICORE 0x8000u
#define ZRC_FLAG_MARK_EDGES 0x80000000u

/* Frame formats, diff types, pack formats. */
#define ZRC_FRAME_RGB 0x84
#define ZRC_FRAME_YUV444 0x8C
#define ZRC_FRAME_YUV420A 0x8D
#define ZRC_FRAME_YUV420 0x8E
#define ZRC_FRAME_YUV420B 0x8F
#define ZRC_DIFF_ABSOLUTE 0
#define ZRC_DIFF_REPLACE 4
#define ZRC_DIFF_XOR 8
#define ZRC_PACK_RLE 1
#define ZRC_PACK_LZ 2

/* Log levels: facility | severity. */
#define ZRC_LOG_SYSTEM_ERROR 19
#define ZRC_LOG_SYSTEM_INFO 22
#define ZRC_LOG_ERROR 35
#define ZRC_LOG_WARNING 36
#define ZRC_LOG_INFO 38
#define ZRC_LOG_DEBUG 39

/* Format checks for the C99 printf family (on Windows the library is built with mingw's C99 printf). */
#ifdef __MINGW32__
#define ZRC_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define ZRC_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

/* Logging (library-wide). Threshold from the environment variable LOG_LEVEL, 6 when unset. */
int zrc_log(int level, const char* format, ...) ZRC_PRINTF_FORMAT(2, 3);
int zrc_set_log_file(const char* path);

/* Handle and settings. */
ZrcHandle* zrc_create(void);
int zrc_configure(ZrcHandle* handle, int matrix, int width, int height, uint32_t image_format);
int zrc_configure_rgb(ZrcHandle* handle, int matrix, int width, int height, int red_shift, int green_shift,
                      int blue_shift);
int zrc_set_flags(ZrcHandle* handle, uint32_t bits);
int zrc_clear_flags(ZrcHandle* handle, uint32_t bits);
int zrc_set_decode_image_format(ZrcHandle* handle, uint32_t format);
int zrc_set_decode_image_bits(ZrcHandle* handle, uint32_t bits);
int zrc_set_encode_quality(ZrcHandle* handle, uint32_t quality);
int zrc_set_encode_frame_format(ZrcHandle* handle, uint32_t format);
int zrc_reset_encoder(ZrcHandle* handle);
uint32_t zrc_version(void);
void zrc_release(ZrcHandle* handle);

/* Frame header. zrc_check_header checks restored words in this order: -1 magic, -2 checksum, -3 matrix, -4
 * width or height outside 1..4096, -5 pack_length, -6 diff_length, -7 trans_length (each at most 64 MiB),
 * -8 quality above 5; 0 when all pass. zrc_dump_header takes the 88 wire bytes and, with a text buffer of
 * ZRC_HEADER_TEXT_SIZE bytes, returns the text length including its zero (without one it logs the text). */
int zrc_check_header(const ZrcFrameHeader* header);
int zrc_dump_header(const void* header, char* text);

/* Decodes one frame (88 + pack_length bytes) into image. Returns the output bytes (> 0), 0 when a relative
 * frame out of sequence was dropped, or -1 invalid handle, -2 invalid header, -3 major version not 2, -4
 * relative frame where an absolute one is needed, -5 configuration failed, -6 payload that does not unpack
 * to, or does not fit, what the header describes, -7 unknown frame format, -8 output format not producible
 * from the frame format. quality_out may be null. */
int zrc_decompress(ZrcHandle* handle, const void* frame, void* image, uint32_t* quality_out);

/* Decodes one frame into the kept coefficients only, as zrc_decompress does, and adds its changed blocks to
 * those the next zrc_render converts. Same checks and results as zrc_decompress (> 0 decoded, 0 a relative
 * frame out of sequence dropped, negative errors), without writing any image. */
int zrc_decode_coefficients(ZrcHandle* handle, const void* frame);
/* Runs the pixel stages (inverse transform, smoothing, conversion) for every block changed since the last
 * render (every block after a configure or a change of scale) and writes them into image, which holds the
 * picture at the current scale: ((width + (1 << shift) - 1) >> shift) x ((height + ...) >> shift) pixels of
 * the image format. Returns the image bytes of the whole picture (> 0) when it wrote, 0 when no block was
 * waiting, negative on error (-1 handle, -5 not configured, -8 format not producible). */
int zrc_render(ZrcHandle* handle, void* image);
/* Output scale of zrc_render (and zrc_decompress): shift 0 full size, 1, 2, 3 for 1/2, 1/4, 1/8, by a reduced
 * inverse transform of the kept coefficients. The coefficients stay exact at full size, so that after
 * shift 0 again the next render writes every block and the picture is bit for bit the one a full-size decode
 * of every frame gives. Returns 0, or -1 handle, -2 shift outside 0..3. */
int zrc_set_decode_scale(ZrcHandle* handle, int shift);
/* The bounding rectangle, in image pixels at the current scale, of what the last zrc_render (or
 * zrc_decompress) wrote; all 0 when it wrote nothing. Returns 0, or -1 handle. */
int zrc_rendered_area(ZrcHandle* handle, int* x, int* y, int* width, int* height);

/* Encoder: the sending half. The handle is configured with zrc_configure (or zrc_configure_rgb) for the input
 * images: formats 9, 14, 15, 20 (16 bits) and 39, 44, 51, 56 (32 bits), rows of width pixels.
 *
 * zrc_encode codes the blocks that changed since the previous image into `frame`, which must hold
 * zrc_frame_capacity bytes; it never writes more. quality 0..5; frame_format 0x84, 0x8C, 0x8D..0x8F, or 0
 * for the handle's current one. Returns the frame bytes (88 + pack_length), 0 when no block changed (after
 * a 10 ms pause), or -1 invalid handle, -2 not configured, -3 invalid frame or image format, -4 packing
 * failed, -5 invalid quality. zrc_absolute_frame rebuilds the last encoded picture as an absolute frame
 * (-3 before the first frame). A frame format the decoder cannot take at the handle's matrix is refused
 * with -3 (see zrc_frame_format_supported). */
int zrc_encode(ZrcHandle* handle, const void* image, void* frame, uint32_t quality, uint32_t frame_format);
/* 1 when frames of frame_format with blocks of edge matrix can be coded and decoded, else 0 (0x84 has no
 * matrix 16 form). */
int zrc_frame_format_supported(uint32_t frame_format, int matrix);
int zrc_absolute_frame(ZrcHandle* handle, void* frame);
/* Bytes a frame of the configured geometry can take, header included; negative without handle or
 * configuration. */
int zrc_frame_capacity(ZrcHandle* handle);

/* Worker mode: one thread per handle decoding (or encoding) a stream of frames (or images) taken from a read
 * callback or an input ring, handing the results to a write callback or an output ring. The callbacks run
 * on the worker thread and return the bytes they placed or took; each must return (a worker blocked in a
 * callback cannot be stopped). One producer thread writes the input ring, one consumer reads the output. */
typedef int (*ZrcReadCallback)(void* context, void* buffer, int length);
typedef int (*ZrcWriteCallback)(void* context, const void* buffer, int length);

/* A ring size of 0 picks the default. Configure the handle for the stream's geometry and image format first:
 * the worker's buffers are sized from it, and a frame or image that does not fit is refused. Returns 0, or
 * -1 invalid handle, -2 already running (decoder) or not configured (encoder), -3/-4 buffer allocation,
 * -5/-6 ring creation, -7 thread creation. */
int zrc_start_decoder(ZrcHandle* handle, ZrcReadCallback read_callback, void* read_context,
                      ZrcWriteCallback write_callback, void* write_context, int input_ring_size,
                      int output_ring_size);
int zrc_start_encoder(ZrcHandle* handle, ZrcReadCallback read_callback, void* read_context,
                      ZrcWriteCallback write_callback, void* write_context, int input_ring_size,
                      int output_ring_size);
/* Closes both rings (waking whoever waits on them), joins the worker and frees its rings and buffers. */
int zrc_stop(ZrcHandle* handle);
/* Writes input (frames for the decoder, images for the encoder) to the input ring: length, 0 when the ring
 * closed, -1 without handle or ring. */
int zrc_write_input(ZrcHandle* handle, const void* data, int length);
/* Reads the next encoded frame (zrc_frame_capacity bytes of room) in its wire form: 88 + pack_length, or -1
 * without handle or ring, -2 short header, -3 short or oversized payload. */
int zrc_read_frame(ZrcHandle* handle, void* buffer);
/* Reads the next decoded image (its 88-byte header is skipped): the image bytes, or -1 without handle or
 * ring, -2 short header, -3 short image. */
int zrc_read_image(ZrcHandle* handle, void* image);
/* 1 while a worker runs, 0 once it ended (its exit code in *exit_code when not null), -1 without handle. */
int zrc_worker_state(ZrcHandle* handle, int* exit_code);

#ifdef __cplusplus
}
#endif

#endif
