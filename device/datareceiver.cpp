#include "device/datareceiver.h"

#include <algorithm>
#include <new>
#include <thread>

#include "control/log.h"
#include "decoder/decodeandrender.h"
#include "device/device.h"
#include "device/displaywindow.h"

namespace {

constexpr const char* kSource = "datareceiver";
// The socket is read in chunks of at most this much. A bigger chunk saves few calls (the socket buffer is
// emptied in a handful of reads at any rate) and costs every device its pages once a burst filled it.
constexpr uint32_t kMaxReadChunk = 256u << 10;

// Errors after which the same read can simply be made again.
bool transient(int error) {
    return net::interrupted(error) || net::wouldBlock(error);
}

}  // namespace

DataReceiver::DataReceiver(Device* device)
    : socket_(device->socket), device_(device), renderer_(new DecodeAndRender()) {}

DataReceiver::~DataReceiver() {
    renderer_->stop();
    delete renderer_;
}

bool DataReceiver::receive(uint8_t* buffer, int32_t length) {
    int32_t got = 0;
    // Read only once the socket is readable, so that a stop of the device always ends the wait.
    net::WaitEntry waits[2] = {{socket_, net::kReadable, 0}, {device_->stopWake.handle(), net::kReadable, 0}};
    while (got < length) {
        if (net::waitSockets(waits, 2, -1) < 0 || waits[1].ready || !device_->isRunning()) break;
        const int r = net::recvSome(socket_, reinterpret_cast<char*>(buffer) + got, length - got, 0, false);
        if (r > 0) {
            got += r;
            continue;
        }
        const int error = r < 0 ? net::lastError() : 0;
        if (r < 0 && transient(error) && device_->isRunning()) continue;
        log_write(LOG_USER_ERROR, "%s recv failed, returned %d, errno %d", "DataReceiver::receive",
                  static_cast<int>(r), error);
        break;
    }
    return got == length;
}

bool DataReceiver::receiveHeader() {
    uint8_t bytes[RSUP_HEADER_SIZE];
    do {
        if (!receive(bytes, RSUP_HEADER_SIZE)) {
            log_write(LOG_SYSTEM_ERROR, "%s  Receive RSUP header fail sock : %d",
                      "DataReceiver::receiveHeader", socketNumber(socket_));
            return false;
        }
        header_ = RsupHeader::parse(bytes);
    } while (header_.payloadLength <= 0);

    // Every buffer is sized from these two numbers: bound them first, so no size below can overflow.
    if (header_.width < 1 || header_.height < 1 || header_.width > RsupHeader::kMaxEdge ||
        header_.height > RsupHeader::kMaxEdge) {
        log_write(LOG_USER_ERROR, "%s stream size %u x %u outside 1..%u, refused",
                  "DataReceiver::receiveHeader", header_.width, header_.height, RsupHeader::kMaxEdge);
        return false;
    }
    frameBufferSize_ = header_.width * header_.height * 8 + 2 * RSUP_HEADER_SIZE;
    ring_ = std::make_unique<RingBuffer>(2 * static_cast<size_t>(frameBufferSize_));
    if (!ring_->ok()) {
        log_write(LOG_SYSTEM_ERROR, "%s allocate %zu bytes for the stream buffers failed",
                  "DataReceiver::receiveHeader", ring_->capacity());
        return false;
    }
    return true;
}

bool DataReceiver::frameRoom(size_t n) {
    if (n <= frameBuffer_.size()) return true;
    if (n > frameBufferSize_) return false;
    try {
        frameBuffer_.resize(n);
    } catch (const std::bad_alloc&) {
        log_write(LOG_SYSTEM_ERROR, "%s allocate %zu bytes for the stream buffers failed",
                  "DataReceiver::frameRoom", n);
        return false;
    }
    frameBufferBytes_ = frameBuffer_.capacity();
    return true;
}

size_t DataReceiver::bufferBytes() const {
    return frameBufferBytes_.load() + (ring_ ? ring_->capacity() : 0);
}

void DataReceiver::releaseIdleBuffers() {
    const size_t before = bufferBytes();
    ring_->shrinkWhenEmpty();
    std::vector<uint8_t>().swap(frameBuffer_);
    frameBufferBytes_ = 0;
    const size_t after = bufferBytes();
    if (after < before) {
        log_write(LOG_USER_INFO, "%s idle, stream buffers %zu bytes down to %zu",
                  "DataReceiver::decodeThread", before, after);
    }
}

bool DataReceiver::receiveConfigData() {
    const int32_t len = header_.payloadLength;
    if (static_cast<uint32_t>(len) > frameBufferSize_) {
        log_write(LOG_USER_ERROR, "%s config payload of %d bytes exceeds the frame buffer of %u bytes",
                  "DataReceiver::receiveConfigData", len, frameBufferSize_);
        return false;
    }
    if (!frameRoom(static_cast<size_t>(len))) return false;
    if (!receive(frameBuffer_.data(), len)) {
        log_write(LOG_SYSTEM_ERROR, "%s  Receive fail sock : %d len : %d", "DataReceiver::receiveConfigData",
                  socketNumber(socket_), len);
        return false;
    }
    const int32_t width = static_cast<int32_t>(header_.width), height = static_cast<int32_t>(header_.height);
    const int32_t r = header_.encoderType == RsupHeader::kEncoderZrc
                          ? renderer_->initDecRender(RsupHeader::kEncoderZrc, 0, width, height)
                          : renderer_->initAVCDecRender(frameBuffer_.data(), len, width, height, 1,
                                                        device_->width, device_->height);
    if (r != 0) {
        log_write(LOG_USER_ERROR, " %s:%u initDecRender fail, encoder type %d ", kSource, __LINE__,
                  header_.encoderType);
        return false;
    }
    if (DisplayWindow* window = device_->window.load()) window->setRenderer(renderer_);
    log_write(LOG_USER_INFO, " %s:%u initDecRender success, encoder type %d ", kSource, __LINE__,
              header_.encoderType);
    return true;
}

int32_t DataReceiver::ReceiveAndDec() {
    const char* tag = "DataReceiver::ReceiveAndDec";
    // Each failure below is logged once where it happens, and once more here as the end of the set-up.
    const bool ok = receiveHeader();
    if (ok) log_write(LOG_SYSTEM_INFO, "%s receiveHeader return %s", tag, "Yes");
    if (!ok || !receiveConfigData()) {
        log_write(LOG_SYSTEM_ERROR, "%s receiveConfigData And initial decoder failed", tag);
        return 0;
    }
    log_write(LOG_USER_INFO, "initDecRender success %s:%u", kSource, __LINE__);

    const uint32_t readSize = std::min(frameBufferSize_, kMaxReadChunk);
    std::unique_ptr<uint8_t[]> readBuffer(new (std::nothrow) uint8_t[readSize]);
    if (!readBuffer || !streamEnded_.open()) {
        log_write(LOG_SYSTEM_ERROR, "%s allocate %u bytes for the stream buffers failed", tag, readSize);
        device_->markStopped();
        return 0;
    }
    std::thread decoder(&DataReceiver::decodeThread, this);

    enum { kSocket, kEnded, kStopped };
    net::WaitEntry waits[3] = {{socket_, net::kReadable, 0},
                               {streamEnded_.handle(), net::kReadable, 0},
                               {device_->stopWake.handle(), net::kReadable, 0}};
    while (device_->isRunning()) {
        if (net::waitSockets(waits, 3, -1) < 0) {
            log_write(LOG_SYSTEM_ERROR, "%s select error", tag);
            break;
        }
        // The decode thread ended the stream (a frame it cannot take), or the device stopped.
        if (waits[kEnded].ready || waits[kStopped].ready) break;
        if (waits[kSocket].ready & net::kInvalid) {
            log_write(LOG_SYSTEM_ERROR, "%s select error", tag);
            break;
        }
        if (!waits[kSocket].ready) continue;
        // Whatever the socket holds, in one read: the decode thread then finds every frame that waits and
        // decodes all but the newest without showing them. Leaving bytes in the socket while a frame waits
        // was tried: each frame then cost both threads a wake-up, and on a busy machine the backlog only
        // moved into the kernel and grew.
        const int n = net::recvSome(socket_, reinterpret_cast<char*>(readBuffer.get()),
                                    static_cast<int>(readSize), 0, false);
        if (n > 0) {
            if (!writeToRing(readBuffer.get(), static_cast<size_t>(n))) break;
            continue;
        }
        if (n < 0) {
            const int error = net::lastError();
            log_write(LOG_SYSTEM_ERROR, "%s recv error", tag);
            // A hard error (reset, timed out) will not pass: end the stream rather than spin on it.
            if (transient(error)) continue;
            break;
        }
        log_write(LOG_SYSTEM_ERROR, "%s remote closed", tag);
        break;
    }

    // The frames already in the ring are still shown; then the device stops itself.
    streamOver_ = true;
    dataArrived_.release();
    decoder.join();
    if (device_->isRunning()) device_->markStopped();
    log_write(LOG_SYSTEM_INFO, "%s receiveThread over", tag);
    return 1;
}

bool DataReceiver::writeToRing(const uint8_t* data, size_t n) {
    size_t taken = 0;
    for (;;) {
        taken += ring_->write(data + taken, n - taken);
        dataArrived_.release();
        if (taken == n) return true;
        // The decode thread is behind by a whole ring: wait for it rather than lose bytes.
        if (!ring_->waitForRoom()) return false;
    }
}

void DataReceiver::decodeThread() {
    nameDeviceThread(device_->id, "decode");
    for (;;) {
        if (!dataArrived_.acquireFor(idleReleaseMs_)) {
            releaseIdleBuffers();
            continue;
        }
        const bool over = streamOver_.load();
        if (!takeFrames() || over) break;
    }
    ring_->close();
    // Wakes the receive loop, which may be waiting on the socket while this thread ended the stream.
    streamEnded_.wake();
}

bool DataReceiver::takeFrames() {
    const char* tag = "DataReceiver::decodeThread";
    while (device_->isRunning()) {
        uint8_t bytes[RSUP_HEADER_SIZE];
        if (ring_->peek(bytes, RSUP_HEADER_SIZE) < static_cast<size_t>(RSUP_HEADER_SIZE)) return true;
        const RsupHeader frame = RsupHeader::parse(bytes);
        if (frame.payloadLength < 0) {
            log_write(LOG_USER_ERROR, "%s frame with payload length %d, stream ended", tag,
                      frame.payloadLength);
            return false;
        }
        const uint64_t total = static_cast<uint64_t>(frame.payloadLength) + RSUP_HEADER_SIZE;
        if (total > frameBufferSize_) {
            log_write(LOG_USER_ERROR,
                      "%s frame of %d payload bytes exceeds the frame buffer of %u bytes, stream ended", tag,
                      frame.payloadLength, frameBufferSize_);
            return false;
        }
        if (total > ring_->used()) return true;  // not complete yet
        if (!frameRoom(total)) return false;
        ring_->read(frameBuffer_.data(), total);
        if (frame.payloadLength > 0) {
            // Every frame is decoded; only one with no whole frame behind it is shown, so a client that
            // fell behind shows the newest picture at once instead of working through a backlog. A stream
            // that always has a frame waiting (a decoder that cannot keep up) still shows one now and then.
            const auto now = std::chrono::steady_clock::now();
            const bool newest =
                !frameWaits() || now - lastShown_ >= std::chrono::milliseconds(longestUnshownMs_);
            if (newest) lastShown_ = now;
            renderer_->decodeRecvVideo(frame.frameFlag, header_.encoderType,
                                       frameBuffer_.data() + RSUP_HEADER_SIZE, 0, frame.payloadLength,
                                       newest);
        }
    }
    return false;
}

bool DataReceiver::frameWaits() {
    for (;;) {
        uint8_t bytes[RSUP_HEADER_SIZE];
        if (ring_->peek(bytes, RSUP_HEADER_SIZE) < static_cast<size_t>(RSUP_HEADER_SIZE)) return false;
        const RsupHeader next = RsupHeader::parse(bytes);
        if (next.payloadLength == 0) {
            ring_->read(bytes, RSUP_HEADER_SIZE);
            continue;
        }
        // A frame that ends the stream is no picture: the one before it is the last to show.
        if (next.payloadLength < 0) return false;
        const uint64_t total = static_cast<uint64_t>(next.payloadLength) + RSUP_HEADER_SIZE;
        if (total > frameBufferSize_) return false;
        // The rest of it may already wait in the socket, not read yet.
        const size_t used = ring_->used();
        return total <= used || total <= used + net::pendingBytes(socket_);
    }
}
