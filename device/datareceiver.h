// Reads one device's RSUP stream: the config frame on the render thread, which sets up the decoder, then raw
// socket data into a ring that a decode thread of its own cuts into frames for the renderer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "control/sockets.h"
#include "device/ringbuffer.h"
#include "device/rsupheader.h"
#include "platform/semaphore.h"

class DecodeAndRender;
class Device;

class DataReceiver {
public:
    explicit DataReceiver(Device* device);
    ~DataReceiver();
    DataReceiver(const DataReceiver&) = delete;
    DataReceiver& operator=(const DataReceiver&) = delete;

    DecodeAndRender* renderer() const { return renderer_; }

    // Render thread: runs the whole stream and returns when it ends. 1 after a stream that was set up, 0
    // when set-up failed (logged; the device then keeps running with its window, except when the stream's
    // own buffers could not be made).
    int32_t ReceiveAndDec();

    // Exact-length read; retries only transient errors and gives up when the device stops.
    bool receive(uint8_t* buffer, int32_t length);
    // Skips headers without payload, then takes the config header and sizes the buffers from it.
    bool receiveHeader();
    // Reads the config payload and sets up the decoder it asks for.
    bool receiveConfigData();

    // How long the decode thread waits without data before it gives the stream's buffers back (they grow
    // again with the next frames). Set before the stream starts.
    static constexpr uint32_t kIdleReleaseMs = 5000;
    void setIdleRelease(uint32_t ms) { idleReleaseMs_ = ms; }
    // The longest the decode thread goes without showing a picture while frames keep waiting behind the one
    // it decodes: a stream the decoder cannot keep up with still shows its newest decoded picture this
    // often. Set before the stream starts.
    static constexpr uint32_t kLongestUnshownMs = 50;
    void setLongestUnshown(uint32_t ms) { longestUnshownMs_ = ms; }
    // Any thread: the bytes the ring and the frame buffer hold at the moment.
    size_t bufferBytes() const;

private:
    // Decode thread body.
    void decodeThread();
    // Decode thread: hands every complete frame in the ring to the renderer. False when the stream has to end
    // (the device stopped, or a frame cannot be taken).
    bool takeFrames();
    // Decode thread: whether another whole frame waits in the ring, consuming the empty frames in front of
    // it (they are never decoded).
    bool frameWaits();
    // Decode thread, after a long idle: the ring and the frame buffer go back to their first size.
    void releaseIdleBuffers();
    // Render thread: puts all n bytes into the ring, waiting for room as long as needed. False when the
    // decode thread has ended.
    bool writeToRing(const uint8_t* data, size_t n);

    const SOCKET socket_;
    Device* const device_;
    DecodeAndRender* const renderer_;  // owned
    RsupHeader header_;                // the config header; render thread only

    // Grows the frame buffer to hold n bytes (at most frameBufferSize_); false when it cannot.
    bool frameRoom(size_t n);

    // frameBufferSize_ is the largest frame the config allows. The buffers grow as the stream's frames need,
    // up to it (the ring to twice it): an announced size alone costs nothing. Used by the render thread
    // before the decode thread starts; afterwards the frame buffer belongs to the decode thread and the ring
    // is shared through its own lock.
    uint32_t frameBufferSize_ = 0;
    std::vector<uint8_t> frameBuffer_;
    std::atomic<size_t> frameBufferBytes_ = 0;  // frameBuffer_'s capacity, for bufferBytes()
    std::atomic<uint32_t> idleReleaseMs_ = kIdleReleaseMs;
    std::atomic<uint32_t> longestUnshownMs_ = kLongestUnshownMs;
    std::chrono::steady_clock::time_point lastShown_;  // decode thread only
    std::unique_ptr<RingBuffer> ring_;

    // Released once per socket read (and when the stream ends); the decode thread waits on it.
    platform::Semaphore dataArrived_{1, 32};
    std::atomic<bool> streamOver_ = false;  // set by the render thread when no more data will come
    net::Waker streamEnded_;                // the decode thread wakes it to end the receive loop
};
