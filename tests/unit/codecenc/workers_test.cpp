// The worker threads: decoding and encoding fed through rings and through callbacks, and their stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "codec/frameheader.h"
#include "codec/handle.h"
#include "tests/unit/codec/logcapture.h"
#include "tests/unit/codecenc/codecpair.h"
#include "tests/unit/codecenc/screenpicture.h"

namespace zrctest {
namespace {

constexpr int kWidth = 96, kHeight = 64, kMatrix = 16;
constexpr size_t kImageBytes = size_t{kWidth} * kHeight * 4;

// A short stream: its source images, its frames and the pictures the library's decoder makes of them.
struct Stream {
    std::vector<std::vector<uint8_t>> images;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::vector<uint8_t>> pictures;

    Stream() {
        ScreenPicture screen(kWidth, kHeight);
        CodecPair pair(kWidth, kHeight, kMatrix);
        for (int step = 0; step < 5; ++step) {
            screen.draw(step);
            images.push_back(screen.pixels());
            const int length = pair.encode(screen.pixels(), 2, ZRC_FRAME_YUV420);
            frames.emplace_back(pair.frame().begin(), pair.frame().begin() + length);
            pair.decode();
            pictures.push_back(pair.decoded());
        }
    }

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> all;
        for (const auto& f : frames)
            all.insert(all.end(), f.begin(), f.end());
        return all;
    }
};

// A handle configured for the stream, released at the end; the worker is stopped by the release.
struct Handle {
    ZrcHandle* h = zrc_create();
    Handle() {
        zrc_configure(h, kMatrix, kWidth, kHeight, 44);
        zrc_clear_flags(h, ZRC_FLAG_SMOOTH);
    }
    ~Handle() { zrc_release(h); }
};

// Feeds a byte vector to a read callback and collects what a write callback is given, one entry per call.
struct Pipe {
    std::vector<uint8_t> input;
    size_t at = 0;
    std::vector<std::vector<uint8_t>> output;
    std::atomic<int> writes{0};

    static int read(void* context, void* buffer, int length) {
        Pipe* p = static_cast<Pipe*>(context);
        const size_t n = std::min(static_cast<size_t>(length), p->input.size() - p->at);
        std::memcpy(buffer, p->input.data() + p->at, n);
        p->at += n;
        return static_cast<int>(n);
    }
    static int write(void* context, const void* buffer, int length) {
        Pipe* p = static_cast<Pipe*>(context);
        const uint8_t* b = static_cast<const uint8_t*>(buffer);
        p->output.emplace_back(b, b + length);
        ++p->writes;
        return length;
    }
};

// Waits until the worker has ended; returns its exit code.
int exitCode(ZrcHandle* h) {
    int code = 1;
    for (int i = 0; i < 500 && zrc_worker_state(h, &code) == 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return code;
}

TEST(ZrcWorkers, DecoderThroughRings) {
    const Stream stream;
    Handle handle;
    ASSERT_EQ(zrc_start_decoder(handle.h, nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
    std::thread producer([&] {
        for (const auto& f : stream.frames)
            ASSERT_EQ(zrc_write_input(handle.h, f.data(), static_cast<int>(f.size())),
                      static_cast<int>(f.size()));
    });
    std::vector<uint8_t> image(kImageBytes);
    for (const auto& picture : stream.pictures) {
        ASSERT_EQ(zrc_read_image(handle.h, image.data()), static_cast<int>(kImageBytes));
        EXPECT_EQ(image, picture);
    }
    producer.join();
    EXPECT_EQ(zrc_stop(handle.h), 0);
    EXPECT_EQ(exitCode(handle.h), 0);
}

TEST(ZrcWorkers, DecoderThroughCallbacksEndsAtTheEndOfInput) {
    const Stream stream;
    Handle handle;
    Pipe pipe;
    pipe.input = stream.bytes();
    ASSERT_EQ(zrc_start_decoder(handle.h, Pipe::read, &pipe, Pipe::write, &pipe, 0, 0), 0);
    EXPECT_EQ(exitCode(handle.h), -2);  // short header read: the input ran out
    EXPECT_EQ(pipe.output, stream.pictures);
    // No ring exists with callbacks both ways.
    EXPECT_EQ(zrc_write_input(handle.h, pipe.input.data(), 1), -1);
    EXPECT_EQ(zrc_read_image(handle.h, pipe.input.data()), -1);
}

// A frame dropped for a gap in the ids writes nothing, so the reader of images stays in step.
TEST(ZrcWorkers, DecoderWritesNothingForADroppedFrame) {
    const Stream stream;
    Handle handle;
    Pipe pipe;
    for (size_t k : {0, 1, 3, 4})  // frame 3 does not follow frame 1
        pipe.input.insert(pipe.input.end(), stream.frames[k].begin(), stream.frames[k].end());
    ASSERT_EQ(zrc_start_decoder(handle.h, Pipe::read, &pipe, Pipe::write, &pipe, 0, 0), 0);
    EXPECT_EQ(exitCode(handle.h), -2);
    ASSERT_EQ(pipe.output.size(), 2u);
    EXPECT_EQ(pipe.output[1], stream.pictures[1]);
}

TEST(ZrcWorkers, DecoderRefusesBadHeadersAndOversizedFrames) {
    const Stream stream;
    struct Case {
        const char* name;
        uint32_t checksum_change;
        uint32_t pack_length;
        const char* line;
    };
    // A checksum off by one; a frame whose length passes the header checks but not the worker's buffer.
    for (const Case c : {Case{"checksum", 1, 0, "Invalid frame checksum"},
                         Case{"oversized", 0, 0x100000, "over the worker's"}}) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Handle handle;
        std::vector<uint8_t> frame = stream.frames[0];
        ZrcFrameHeader h = zrc::restoreHeader(frame.data());
        if (c.pack_length != 0) h.pack_length = c.pack_length;
        zrc::writeHeader(h, frame.data());
        uint32_t last;  // the checksum word, chained
        std::memcpy(&last, frame.data() + 84, 4);
        last ^= c.checksum_change;
        std::memcpy(frame.data() + 84, &last, 4);
        Pipe pipe;
        ASSERT_EQ(zrc_start_decoder(handle.h, nullptr, nullptr, Pipe::write, &pipe, 0, 0), 0);
        ASSERT_EQ(zrc_write_input(handle.h, frame.data(), static_cast<int>(frame.size())),
                  static_cast<int>(frame.size()));
        EXPECT_EQ(exitCode(handle.h), -9);
        EXPECT_EQ(pipe.writes, 0);
        EXPECT_TRUE(log.contains(c.line));
    }
}

TEST(ZrcWorkers, DecoderStartsOnce) {
    LogCapture log;
    Handle handle;
    ASSERT_EQ(zrc_start_decoder(handle.h, nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(zrc_start_decoder(handle.h, nullptr, nullptr, nullptr, nullptr, 0, 0), -2);
    EXPECT_TRUE(log.contains("ZRC: Decoder is already in running"));
    EXPECT_EQ(zrc_start_decoder(nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), -1);
    ZrcHandle* unconfigured = zrc_create();
    EXPECT_EQ(zrc_start_encoder(unconfigured, nullptr, nullptr, nullptr, nullptr, 0, 0), -2);
    zrc_release(unconfigured);
}

// The encoding worker's frames decode to what direct calls of the encoder give.
TEST(ZrcWorkers, EncoderThroughRingsAndCallbacks) {
    const Stream stream;
    for (bool callbacks : {false, true}) {
        SCOPED_TRACE(callbacks ? "callbacks" : "rings");
        Handle encoder;
        zrc_set_encode_quality(encoder.h, 2);
        Pipe pipe;
        for (const auto& image : stream.images)
            pipe.input.insert(pipe.input.end(), image.begin(), image.end());
        std::vector<std::vector<uint8_t>> frames;
        if (callbacks) {
            ASSERT_EQ(zrc_start_encoder(encoder.h, Pipe::read, &pipe, Pipe::write, &pipe, 0, 0), 0);
            EXPECT_EQ(exitCode(encoder.h), -2);  // the input ran out
            frames = pipe.output;
        } else {
            ASSERT_EQ(zrc_start_encoder(encoder.h, nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
            std::thread producer([&] {
                for (const auto& image : stream.images)
                    zrc_write_input(encoder.h, image.data(), static_cast<int>(image.size()));
            });
            std::vector<uint8_t> frame(static_cast<size_t>(zrc_frame_capacity(encoder.h)));
            for (size_t k = 0; k < stream.images.size(); ++k) {
                const int length = zrc_read_frame(encoder.h, frame.data());
                ASSERT_GT(length, 0);
                frames.emplace_back(frame.begin(), frame.begin() + length);
            }
            producer.join();
        }
        ASSERT_EQ(frames.size(), stream.frames.size());
        Handle decoder;
        std::vector<uint8_t> picture(kImageBytes);
        for (size_t k = 0; k < frames.size(); ++k) {
            ASSERT_GT(zrc_decompress(decoder.h, frames[k].data(), picture.data(), nullptr), 0);
            EXPECT_EQ(picture, stream.pictures[k]) << "frame " << k;
        }
    }
}

// zrc_stop wakes a worker waiting on an empty input ring and a consumer waiting on the output ring.
TEST(ZrcWorkers, StopEndsABlockedWorkerPromptly) {
    for (bool encoder : {false, true}) {
        SCOPED_TRACE(encoder ? "encoder" : "decoder");
        Handle handle;
        ASSERT_EQ(encoder ? zrc_start_encoder(handle.h, nullptr, nullptr, nullptr, nullptr, 0, 0)
                          : zrc_start_decoder(handle.h, nullptr, nullptr, nullptr, nullptr, 0, 0),
                  0);
        std::vector<uint8_t> buffer(static_cast<size_t>(zrc_frame_capacity(handle.h)) + kImageBytes);
        int consumer_result = 1;
        std::thread consumer([&] {
            consumer_result =
                encoder ? zrc_read_frame(handle.h, buffer.data()) : zrc_read_image(handle.h, buffer.data());
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(zrc_worker_state(handle.h, nullptr), 1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(zrc_stop(handle.h), 0);
        consumer.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_EQ(consumer_result, -2);
        int code = 1;
        EXPECT_EQ(zrc_worker_state(handle.h, &code), 0);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(zrc_write_input(handle.h, buffer.data(), 1), -1);  // the rings are gone
    }
}

// A callback may stop its own worker: the worker ends when the callback returns, and nothing is freed
// under it.
TEST(ZrcWorkers, CallbackMayStopItsOwnWorker) {
    const Stream stream;
    Handle handle;
    struct Stopper {
        ZrcHandle* h;
        std::vector<uint8_t> input;
        size_t at = 0;
        static int read(void* context, void* buffer, int length) {
            Stopper* s = static_cast<Stopper*>(context);
            std::memcpy(buffer, s->input.data() + s->at, static_cast<size_t>(length));
            s->at += static_cast<size_t>(length);
            return length;
        }
        static int write(void* context, const void*, int length) {
            zrc_stop(static_cast<Stopper*>(context)->h);
            return length;
        }
    } stopper{handle.h, stream.bytes()};
    ASSERT_EQ(zrc_start_decoder(handle.h, Stopper::read, &stopper, Stopper::write, &stopper, 0, 0), 0);
    EXPECT_EQ(exitCode(handle.h), 0);
    EXPECT_EQ(stopper.at, stream.frames[0].size());  // one frame decoded, then the worker saw the stop
    EXPECT_EQ(zrc_stop(handle.h), 0);
}

}  // namespace
}  // namespace zrctest
