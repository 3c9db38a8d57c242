// Receive-to-present path of one device: frames written into a loopback TCP connection, received, cut out
// of the ring, decoded and handed to a window. Reports per frame the process CPU time (receive, decode and
// present threads together) and the time from the frame's last byte entering the socket to the picture
// reaching the window ("latency_us").
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "codec/frameheader.h"
#include "decoder/decodeandrender.h"
#include "device/datareceiver.h"
#include "device/device.h"
#include "platform/window.h"
#include "tests/unit/stream/support/h264encoder.h"
#include "tests/unit/stream/support/streamfixtures.h"
#include "tests/unit/stream/support/zrcframes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kWidth = 1920, kHeight = 1080;

// A window that only notes when a picture was handed to it.
class TimingWindow final : public platform::Window {
public:
    TimingWindow() : Window({0, 0, kWidth, kHeight}, platform::ShowState::Normal) {}
    bool getMessage(platform::Message&) override { return false; }
    void postMessage(const platform::Message&) override {}
    void quit() override {}
    bool setPosition(const platform::Rect&) override { return true; }
    bool setState(platform::ShowState) override { return true; }
    using Window::present;
    void present(std::shared_ptr<const platform::Picture> picture, const platform::Rect&) override {
        keepPicture(std::move(picture));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            presentedAt_ = Clock::now();
            ++count_;
        }
        presented_.notify_all();
    }
    uint64_t nativeId() const override { return 0; }

    // Waits for the picture after `seen` pictures; when it was presented, or nothing after 5 s.
    std::optional<Clock::time_point> waitBeyond(uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!presented_.wait_for(lock, std::chrono::seconds(5), [&] { return count_ > seen; })) return {};
        return presentedAt_;
    }
    uint64_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable presented_;
    Clock::time_point presentedAt_;  // guarded by mutex_
    uint64_t count_ = 0;             // guarded by mutex_
};

// One device's receiver on the client end of a loopback connection; the benchmark writes the device's end.
class Pipeline {
public:
    explicit Pipeline(const std::vector<uint8_t>& config) {
        pair_ = connectedTcpPair();
        device_.socket = pair_.client;
        device_.running = 1;
        device_.width = kWidth;
        device_.height = kHeight;
        receiver_ = std::make_unique<DataReceiver>(&device_);
        receiver_->renderer()->setHwnd(&window_);
        render_ = std::thread([this] { receiver_->ReceiveAndDec(); });
        sendAll(pair_.device, config);
    }
    ~Pipeline() {
        close(pair_.device);
        render_.join();
        receiver_.reset();
        close(pair_.client);
    }
    // Sends one RSUP frame; the time from its last byte to its picture, nothing when no picture came.
    std::optional<Clock::duration> frame(const std::vector<uint8_t>& bytes) {
        const uint64_t seen = window_.count();
        sendAll(pair_.device, bytes);
        const Clock::time_point sent = Clock::now();
        const std::optional<Clock::time_point> presented = window_.waitBeyond(seen);
        if (!presented) return {};
        return *presented - sent;
    }

private:
    TcpPair pair_;
    Device device_;
    TimingWindow window_;
    std::unique_ptr<DataReceiver> receiver_;
    std::thread render_;
};

// ZRC relative frames must carry consecutive ids: renumbers the frame inside an RSUP frame.
void renumberZrc(std::vector<uint8_t>& rsup, uint32_t id) {
    uint8_t* wire = rsup.data() + RSUP_HEADER_SIZE;
    ZrcFrameHeader header = zrc::restoreHeader(wire);
    header.id = id;
    zrc::writeHeader(header, wire);
}

void run(benchmark::State& state, Pipeline& pipeline, std::vector<std::vector<uint8_t>>& frames, bool zrc,
         uint32_t firstId) {
    Clock::duration latency{};
    size_t i = 0;
    for (auto _ : state) {
        std::vector<uint8_t>& frame = frames[i % frames.size()];
        if (zrc) renumberZrc(frame, firstId + static_cast<uint32_t>(i));
        ++i;
        const std::optional<Clock::duration> took = pipeline.frame(frame);
        if (!took) {
            state.SkipWithError("no picture within 5 s");
            break;
        }
        latency += *took;
    }
    state.counters["latency_us"] = benchmark::Counter(
        std::chrono::duration<double, std::micro>(latency).count(), benchmark::Counter::kAvgIterations);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Flat 8 x 8 blocks; every frame a whole new picture.
void BM_ZrcAbsolute1080p(benchmark::State& state) {
    ZrcFrameWriter writer{kWidth, kHeight, true};
    Pipeline pipeline(rsupFrame(7, {0}, kWidth, kHeight));
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 4; ++i) {
        frames.push_back(rsupFrame(7, writer.absolute(i % 2 ? ZrcFrameWriter::kHigh : ZrcFrameWriter::kLow,
                                                      ZrcFrameWriter::kMid, ZrcFrameWriter::kLow)));
    }
    run(state, pipeline, frames, true, 1);
}

// 5% of the blocks change per frame, as when a screen scrolls a part of itself.
void BM_ZrcReplace5Percent1080p(benchmark::State& state) {
    ZrcFrameWriter writer{kWidth, kHeight, true};
    Pipeline pipeline(rsupFrame(7, {0}, kWidth, kHeight));
    std::vector<std::vector<uint8_t>> frames;
    frames.push_back(
        rsupFrame(7, writer.absolute(ZrcFrameWriter::kMid, ZrcFrameWriter::kMid, ZrcFrameWriter::kMid)));
    pipeline.frame(frames.back());
    frames.clear();
    const int32_t blocks = writer.blocksAcross() * writer.blocksDown();
    for (int f = 0; f < 512; ++f) {
        std::vector<int32_t> changed;
        for (int32_t b = (f * 7) % 20; b < blocks; b += 20)
            changed.push_back(b);
        const int8_t level = f % 2 ? ZrcFrameWriter::kHigh : ZrcFrameWriter::kLow;
        frames.push_back(rsupFrame(7, writer.replace(changed, level, ZrcFrameWriter::kMid, level)));
    }
    run(state, pipeline, frames, true, 2);
}

// Screen-like H.264: a gradient with a moving box, encoded by libx264 (ultrafast, zero latency).
void BM_H264Moving1080p(benchmark::State& state) {
    H264Encoder encoder{kWidth, kHeight};
    if (!encoder.ok()) {
        state.SkipWithError("libx264 missing");
        return;
    }
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    for (int f = 0; f < 30; ++f) {
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                uint8_t* p = &pixels[(static_cast<size_t>(y) * kWidth + x) * 4];
                const bool box = x >= f * 40 && x < f * 40 + 300 && y >= 200 && y < 500;
                p[0] = box ? 250 : static_cast<uint8_t>(x / 8);
                p[1] = box ? 30 : static_cast<uint8_t>(y / 5);
                p[2] = box ? 40 : 128;
            }
        }
        frames.push_back(rsupFrame(1, encoder.encodeRgbx(pixels.data())));
    }
    Pipeline pipeline(rsupFrame(1, encoder.config(), kWidth, kHeight));
    run(state, pipeline, frames, false, 0);
}

}  // namespace

BENCHMARK(BM_ZrcAbsolute1080p)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZrcReplace5Percent1080p)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_H264Moving1080p)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
