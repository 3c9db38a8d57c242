#pragma once

// H.264 decoding library: decodes an Annex B stream (FFmpeg on Linux, Media Foundation on Windows) and
// presents each picture, rotated, into a window. Calling order per decoder: mftavc_set_logpath,
// mftavc_decoder_init, any number of mftavc_decode calls (one thread) interleaved with
// mftavc_decode_winmessage calls (any other thread), then mftavc_decoder_release. No call throws; nothing
// taken from the stream is used before it is checked.

#include <cstdint>

// The functions have C linkage: on Windows they are the exports of mftavcdecoder.dll, which a user may swap
// for another library with the same contract.
#ifdef _WIN32
#ifdef MFTAVC_BUILDING_DLL
#define MFTAVC_API extern "C" __declspec(dllexport)
#else
#define MFTAVC_API extern "C" __declspec(dllimport)
#endif
class MfDecoder;
using MftavcDecoder = MfDecoder;

// Where the pictures go: two 32-bit words, the window handle and 0. A window handle fits 32 bits also in a
// 64-bit process (Windows keeps them so for 32-bit programs), so the descriptor has one layout everywhere.
// A 0 handle decodes without presenting.
struct MftavcWindow {
    uint32_t window;
    uint32_t reserved;
};
#else
#define MFTAVC_API extern "C"
namespace platform {
class Window;
}

class MftavcDecoder;

// Where the pictures go. The original descriptor held a 32-bit window handle and a 0; a pointer does not fit
// 32 bits, so the window travels as a pointer here. A null window decodes without presenting.
struct MftavcWindow {
    platform::Window* window;
    uint32_t reserved;
};
#endif

// Folder of the library's own log file "mftavc.log"; empty is the working directory.
MFTAVC_API void mftavc_set_logpath(const char* folder);

// config: the stream's SPS/PPS in Annex B form (null with configLength 0 when the stream brings them in
// band). width, height: the size the stream announced, 1..4096 each, or 0, 0 when unknown. hardware: 1 tries
// a hardware decoder first and falls back to software silently. window may be null. displayWidth and
// displayHeight: the size the window shows (0, 0 when unknown); pictures are converted straight to it (never
// beyond their own size), and the window stretches what remains. Returns null when no decoder could be
// opened.
MFTAVC_API MftavcDecoder* mftavc_decoder_init(const uint8_t* config, int32_t configLength, int32_t width,
                                              int32_t height, int32_t hardware, const MftavcWindow* window,
                                              int32_t displayWidth, int32_t displayHeight);

// Decodes one access unit (Annex B) and presents every picture it completes, turned by rotation (0, 90,
// 180 or 270; anything else counts as 0). picture is not used: the library keeps its own pictures. Returns
// the number of pictures presented (0 while the decoder still needs data), or -1 when the data was rejected.
MFTAVC_API int32_t mftavc_decode(MftavcDecoder* decoder, uint8_t* picture, const uint8_t* data,
                                 int32_t length, int32_t, int32_t, int32_t, int32_t, int32_t rotation,
                                 int32_t);

// Decodes one access unit that a newer one already follows: the decoder moves on, and the pictures it
// completes are neither converted nor presented. Returns the number of pictures decoded, or -1 when the data
// was rejected. Callers look it up at run time (a library may lack it) and use mftavc_decode without it.
MFTAVC_API int32_t mftavc_decode_only(MftavcDecoder* decoder, const uint8_t* data, int32_t length);

// The window changed size or the picture is to be turned: later pictures are converted to width x height
// (when both are above 0) and turned by rotation, and when flag is 1 the newest picture is presented again
// at once with them.
MFTAVC_API void mftavc_decode_winmessage(MftavcDecoder* decoder, int32_t, int32_t, int32_t width,
                                         int32_t height, int32_t rotation, int32_t flag);

// Frees the decoder; null does nothing.
MFTAVC_API void mftavc_decoder_release(MftavcDecoder* decoder);
