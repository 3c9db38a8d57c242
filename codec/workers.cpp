// Worker mode: one thread per handle decoding frames or encoding images between callbacks and rings.
//
// Shutdown: zrc_stop sets `stop`, closes both rings so that a worker waiting on one wakes at once, then
// joins the thread; nothing is ever terminated, so no lock is left held. A worker blocked inside a caller's
// callback ends when the callback returns.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "codec/conversion.h"
#include "codec/frameheader.h"
#include "codec/handle.h"

namespace {

// Transfers of any length through a ring, in pieces it can hold. Return length, or what the ring returned
// for the piece that failed (0 closed, negative error).
template <typename Byte, typename Piece>
int ringTransfer(ZrcRing& ring, Byte* bytes, size_t length, Piece piece) {
    for (size_t done = 0; done < length;) {
        const int n = static_cast<int>(std::min(length - done, static_cast<size_t>(ring.capacity())));
        const int moved = piece(bytes + done, n);
        if (moved != n) return moved;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(length);
}

int ringRead(ZrcRing& ring, uint8_t* dst, size_t length) {
    return ringTransfer(ring, dst, length, [&](uint8_t* p, int n) { return ring.read(p, n); });
}

int ringWrite(ZrcRing& ring, const uint8_t* src, size_t length) {
    return ringTransfer(ring, src, length, [&](const uint8_t* p, int n) { return ring.write(p, n); });
}

long readInput(ZrcHandle* h, uint8_t* dst, size_t length) {
    if (h->read_callback != nullptr) return h->read_callback(h->read_context, dst, static_cast<int>(length));
    return ringRead(*h->input_ring, dst, length);
}

long writeOutput(ZrcHandle* h, const uint8_t* src, size_t length) {
    if (h->write_callback != nullptr)
        return h->write_callback(h->write_context, src, static_cast<int>(length));
    return ringWrite(*h->output_ring, src, length);
}

// Bytes zrc_decompress writes for a frame of this header into an image of the handle's format.
size_t decodedSize(ZrcHandle* h, const ZrcFrameHeader& f) {
    uint32_t image_format;
    {
        std::lock_guard<std::mutex> lock(h->lock);
        image_format = h->image_format;
    }
    const size_t m = f.matrix;
    const size_t padded =
        (static_cast<size_t>(f.width) + m - 1) / m * m * ((static_cast<size_t>(f.height) + m - 1) / m * m);
    if (image_format == f.frame_format) {
        const bool chroma420 = f.frame_format >= ZRC_FRAME_YUV420A && f.frame_format <= ZRC_FRAME_YUV420B;
        return chroma420 ? padded * 3 / 2 : padded * 3;
    }
    return static_cast<size_t>(f.width) * static_cast<size_t>(f.height) *
           static_cast<size_t>(zrc::convertedPixelBytes(image_format));
}

int decodeLoop(ZrcHandle* h) {
    const bool from_callback = h->read_callback != nullptr;
    uint8_t* in = h->input_buffer.data();
    uint8_t* out = h->output_buffer.data();
    while (true) {
        if (readInput(h, in, ZRC_HEADER_SIZE) != ZRC_HEADER_SIZE) return from_callback ? -2 : -4;
        if (h->stop) return 0;
        const ZrcFrameHeader header = zrc::restoreHeader(in);
        std::memcpy(out, &header, ZRC_HEADER_SIZE);
        if (zrc_check_header(&header) != 0) return -9;
        // Sizes the buffers cannot take are refused before a byte of payload is read or decoded.
        const size_t frame_size = ZRC_HEADER_SIZE + static_cast<size_t>(header.pack_length);
        const size_t image_size = decodedSize(h, header);
        if (frame_size > h->input_buffer.size() || ZRC_HEADER_SIZE + image_size > h->output_buffer.size()) {
            zrc_log(ZRC_LOG_ERROR,
                    "%s: [%u] Frame of %zu bytes decoding to %zu bytes over the worker's %zu bytes", "ZRC",
                    header.id, frame_size, image_size, h->input_buffer.size());
            return -9;
        }
        if (readInput(h, in + ZRC_HEADER_SIZE, header.pack_length) != static_cast<long>(header.pack_length))
            return from_callback ? -3 : -5;
        if (h->stop) return 0;
        const int result = zrc_decompress(h, in, out + ZRC_HEADER_SIZE, &h->encode_quality);
        if (result < 0) return -6;
        if (h->stop) return 0;
        // A dropped frame produces no image, so nothing is written and a reader of images stays in step.
        if (result > 0) {
            if (h->write_callback != nullptr) {
                if (writeOutput(h, out + ZRC_HEADER_SIZE, static_cast<size_t>(result)) != result) return -7;
            } else if (writeOutput(h, out, ZRC_HEADER_SIZE + static_cast<size_t>(result)) !=
                       ZRC_HEADER_SIZE + result) {
                return -8;
            }
        }
        if (h->stop) return 0;
    }
}

int encodeLoop(ZrcHandle* h) {
    size_t image_size;
    {
        std::lock_guard<std::mutex> lock(h->lock);
        image_size = static_cast<size_t>(h->image_bits) * static_cast<size_t>(h->height) *
                     static_cast<size_t>(h->width) / 8;
    }
    uint8_t* in = h->input_buffer.data();
    uint8_t* out = h->output_buffer.data();
    while (true) {
        if (readInput(h, in, image_size) != static_cast<long>(image_size)) return -2;
        if (h->stop) return 0;
        uint32_t quality, frame_format;
        {
            std::lock_guard<std::mutex> lock(h->lock);
            quality = h->encode_quality;
            frame_format = h->encode_frame_format;
        }
        const int result = zrc_encode(h, in, out, quality, frame_format);
        if (result < 0) return -3;
        if (result > 0) {
            if (h->stop) return 0;
            if (writeOutput(h, out, static_cast<size_t>(result)) != result) return -4;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        if (h->stop) return 0;
    }
}

void runWorker(ZrcHandle* h, int (*loop)(ZrcHandle*), const char* name, const char* thread_name) {
    // Named so that a debugger or top -H shows which worker is busy.
    pthread_setname_np(pthread_self(), thread_name);
    // A transfer cut short by zrc_stop closing the rings is the stop, not a failure.
    const int result = h->stop ? 0 : loop(h);
    const int exit_code = h->stop ? 0 : result;
    zrc_log(exit_code == 0 ? ZRC_LOG_INFO : ZRC_LOG_ERROR, "%s: %s worker ended: %d", "ZRC", name, exit_code);
    h->worker_exit = exit_code;
    h->running = false;
}

ZrcHandle* checkedHandle(ZrcHandle* handle) {
    if (handle == nullptr) zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
    return handle;
}

// Releases what a start made; with the handle locked.
void releaseWorker(ZrcHandle* h) {
    h->input_ring.reset();
    h->output_ring.reset();
    std::vector<uint8_t>().swap(h->input_buffer);
    std::vector<uint8_t>().swap(h->output_buffer);
    h->read_callback = nullptr;
    h->write_callback = nullptr;
    h->read_context = nullptr;
    h->write_context = nullptr;
}

bool allocate(std::vector<uint8_t>& buffer, size_t size) {
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

struct StartRequest {
    bool encoder;
    ZrcReadCallback read_callback;
    void* read_context;
    ZrcWriteCallback write_callback;
    void* write_context;
    int input_ring_size;
    int output_ring_size;
};

int startLocked(ZrcHandle* h, const StartRequest& r) {
    h->stop = false;
    // The encoding worker keeps the quality the caller may have set before starting it.
    if (!r.encoder) h->encode_quality = 2;
    h->read_callback = r.read_callback;
    h->read_context = r.read_context;
    h->write_callback = r.write_callback;
    h->write_context = r.write_context;
    const size_t s = static_cast<size_t>(h->image_length) + 4096;
    // An encoded frame can outgrow the image it came from (padding, 16-bit input).
    const size_t output_size = r.encoder ? std::max(s, ZRC_HEADER_SIZE + h->workSize()) : s;
    if (!allocate(h->input_buffer, s)) return -3;
    if (!allocate(h->output_buffer, output_size)) return -4;
    const int small = static_cast<int>(2 * (s / 16));
    const int large = static_cast<int>(2 * s);
    if (r.read_callback == nullptr) {
        h->input_ring = ZrcRing::create(r.input_ring_size != 0 ? r.input_ring_size
                                        : r.encoder            ? large
                                                               : small);
        if (h->input_ring == nullptr) return -5;
    }
    if (r.write_callback == nullptr) {
        h->output_ring = ZrcRing::create(r.output_ring_size != 0 ? r.output_ring_size
                                         : r.encoder             ? small
                                                                 : large);
        if (h->output_ring == nullptr) return -6;
    }
    h->running = true;  // from now, so that a second start sees the worker before its thread runs
    try {
        if (r.encoder) {
            h->thread = std::thread(runWorker, h, encodeLoop, "Encoding", "zrc-encoder");
        } else {
            h->thread = std::thread(runWorker, h, decodeLoop, "Decoding", "zrc-decoder");
        }
    } catch (const std::system_error&) {
        h->running = false;
        return -7;
    }
    return 0;
}

int startWorker(ZrcHandle* handle, const StartRequest& request) {
    if (checkedHandle(handle) == nullptr) return -1;
    if (request.encoder) {
        std::lock_guard<std::mutex> lock(handle->lock);
        if (handle->mapsize == 0) return -2;
    } else if (handle->running) {
        zrc_log(ZRC_LOG_ERROR, "%s: Decoder is already in running", "ZRC");
        return -2;
    }
    bool remains;
    {
        std::lock_guard<std::mutex> lock(handle->lock);
        remains = handle->thread.joinable() || handle->input_ring != nullptr ||
                  handle->output_ring != nullptr || !handle->input_buffer.empty() ||
                  handle->read_context != nullptr || handle->write_context != nullptr;
    }
    if (remains) zrc_stop(handle);
    std::lock_guard<std::mutex> lock(handle->lock);
    const int result = startLocked(handle, request);
    if (result != 0) releaseWorker(handle);
    return result;
}

}  // namespace

extern "C" int zrc_start_decoder(ZrcHandle* handle, ZrcReadCallback read_callback, void* read_context,
                                 ZrcWriteCallback write_callback, void* write_context, int input_ring_size,
                                 int output_ring_size) {
    return startWorker(handle, StartRequest{false, read_callback, read_context, write_callback, write_context,
                                            input_ring_size, output_ring_size});
}

extern "C" int zrc_start_encoder(ZrcHandle* handle, ZrcReadCallback read_callback, void* read_context,
                                 ZrcWriteCallback write_callback, void* write_context, int input_ring_size,
                                 int output_ring_size) {
    return startWorker(handle, StartRequest{true, read_callback, read_context, write_callback, write_context,
                                            input_ring_size, output_ring_size});
}

extern "C" int zrc_stop(ZrcHandle* handle) {
    if (checkedHandle(handle) == nullptr) return -1;
    handle->stop = true;
    std::shared_ptr<ZrcRing> input, output;
    {
        std::lock_guard<std::mutex> lock(handle->lock);
        input = handle->input_ring;
        output = handle->output_ring;
    }
    if (input != nullptr) input->close();
    if (output != nullptr) output->close();
    // Called from a callback on the worker itself: it ends when the callback returns, and the next stop or
    // start frees what it used.
    if (handle->thread.get_id() == std::this_thread::get_id()) return 0;
    // Joined without the handle lock: the worker takes it inside the codec calls.
    if (handle->thread.joinable()) handle->thread.join();
    std::lock_guard<std::mutex> lock(handle->lock);
    releaseWorker(handle);
    return 0;
}

namespace {

// The ring at `which` of the handle, kept alive for the caller's transfer even if zrc_stop drops it.
std::shared_ptr<ZrcRing> ringOf(ZrcHandle* handle, std::shared_ptr<ZrcRing> ZrcHandle::*which) {
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(handle->lock);
    return handle->*which;
}

}  // namespace

extern "C" int zrc_write_input(ZrcHandle* handle, const void* data, int length) {
    const std::shared_ptr<ZrcRing> ring = ringOf(handle, &ZrcHandle::input_ring);
    if (ring == nullptr || length < 0) return -1;
    return ringWrite(*ring, static_cast<const uint8_t*>(data), static_cast<size_t>(length));
}

extern "C" int zrc_read_frame(ZrcHandle* handle, void* buffer) {
    const std::shared_ptr<ZrcRing> ring = ringOf(handle, &ZrcHandle::output_ring);
    if (ring == nullptr) return -1;
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    if (ringRead(*ring, bytes, ZRC_HEADER_SIZE) != ZRC_HEADER_SIZE) return -2;
    const uint32_t pack_length = zrc::restoreHeader(bytes).pack_length;
    const int capacity = zrc_frame_capacity(handle);
    if (capacity < 0 || pack_length > static_cast<uint32_t>(capacity) - ZRC_HEADER_SIZE) return -3;
    if (ringRead(*ring, bytes + ZRC_HEADER_SIZE, pack_length) != static_cast<int>(pack_length)) return -3;
    return static_cast<int>(ZRC_HEADER_SIZE + pack_length);
}

extern "C" int zrc_read_image(ZrcHandle* handle, void* image) {
    const std::shared_ptr<ZrcRing> ring = ringOf(handle, &ZrcHandle::output_ring);
    if (ring == nullptr) return -1;
    size_t image_size;
    {
        std::lock_guard<std::mutex> lock(handle->lock);
        image_size = static_cast<size_t>(handle->image_bits) * static_cast<size_t>(handle->height) *
                     static_cast<size_t>(handle->width) / 8;
    }
    uint8_t header[ZRC_HEADER_SIZE];
    if (ringRead(*ring, header, ZRC_HEADER_SIZE) != ZRC_HEADER_SIZE) return -2;
    if (ringRead(*ring, static_cast<uint8_t*>(image), image_size) != static_cast<int>(image_size)) return -3;
    return static_cast<int>(image_size);
}

extern "C" int zrc_worker_state(ZrcHandle* handle, int* exit_code) {
    if (checkedHandle(handle) == nullptr) return -1;
    if (handle->running) return 1;
    if (exit_code != nullptr) *exit_code = handle->worker_exit;
    return 0;
}
