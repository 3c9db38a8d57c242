#include "tools/qx-devsim/devicesession.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "device/rsupheader.h"
#include "tools/qx-devsim/controlframetext.h"
#include "tools/qx-devsim/devicehandshake.h"
#include "tools/qx-devsim/framecoder.h"
#include "tools/qx-devsim/picturesource.h"

namespace {

constexpr uint32_t kHandshakeTimeoutMs = 10000;

}  // namespace

int DeviceSession::run() {
    HandshakeMode mode = HandshakeMode::Normal;
    if (options_.badToken) mode = HandshakeMode::BadToken;
    if (options_.noAnswer) mode = HandshakeMode::NoAnswer;
    const int handshake = answerHandshake(socket_, mode, kHandshakeTimeoutMs);
    fprintf(stderr, "qx-devsim: handshake %d\n", handshake);
    int result = 0;
    if (handshake < 0) {
        result = handshake;
    } else {
        std::string error;
        std::unique_ptr<PictureSource> source = makePictureSource(options_, &error);
        std::unique_ptr<FrameCoder> coder = source ? makeFrameCoder(options_, &error) : nullptr;
        if (!coder) {
            fprintf(stderr, "qx-devsim: %s\n", error.c_str());
            result = -10;
        } else {
            std::thread reader(&DeviceSession::readControlFrames, this);
            // Left unanswered, the connection only waits for the client to give up on it.
            if (handshake != 1) stream(*source, *coder);
            waitStopped(std::chrono::steady_clock::time_point::max());
            reader.join();
        }
    }
    close(socket_);
    fprintf(stderr, "qx-devsim: connection over\n");
    return result;
}

void DeviceSession::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    // Wakes the reader (and a send blocked on a client that stopped reading).
    shutdown(socket_, SHUT_RDWR);
}

bool DeviceSession::waitStopped(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        stopped_.wait(lock, [this] { return stopping_; });
    } else {
        stopped_.wait_until(lock, deadline, [this] { return stopping_; });
    }
    return stopping_;
}

void DeviceSession::readControlFrames() {
    std::vector<uint8_t> pending;
    uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = recv(socket_, chunk, sizeof(chunk), 0);
        if (n <= 0) break;
        pending.insert(pending.end(), chunk, chunk + n);
        size_t used = 0;
        int r;
        std::string line;
        while ((r = describeControlFrame(pending.data() + used, pending.size() - used, &line)) > 0) {
            printf("%s\n", line.c_str());
            used += static_cast<size_t>(r);
        }
        fflush(stdout);
        if (r < 0) {
            printf("unreadable control bytes, %zu\n", pending.size() - used);
            fflush(stdout);
            // The rest of the stream cannot be framed again; keep reading so the client's writes go on.
            used = pending.size();
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    }
    stop();
}

bool DeviceSession::sendFrame(uint8_t encoderType, const std::vector<uint8_t>& payload, int32_t payloadLength,
                              size_t sent) {
    RsupHeader header;
    header.encoderType = encoderType;
    header.width = static_cast<uint32_t>(options_.announceWidth ? options_.announceWidth : options_.width);
    header.height =
        static_cast<uint32_t>(options_.announceHeight ? options_.announceHeight : options_.height);
    header.payloadLength = payloadLength;
    frame_.resize(RSUP_HEADER_SIZE + sent);
    header.write(frame_.data());
    memcpy(frame_.data() + RSUP_HEADER_SIZE, payload.data(), sent);
    const int length = static_cast<int>(frame_.size());
    return SendEx(socket_, reinterpret_cast<const char*>(frame_.data()), length, 0, NO_TIMEOUT) == length;
}

bool DeviceSession::makePayload(PictureSource& source, FrameCoder& coder, int64_t n,
                                std::vector<uint8_t>* payload) {
    if (!loop_.empty()) {
        *payload = loop_[static_cast<size_t>((n - 1) % options_.loop)];
        return true;
    }
    return source.next(picture_.data()) && coder.encode(picture_.data(), n, payload);
}

void DeviceSession::stream(PictureSource& source, FrameCoder& coder) {
    picture_.resize(static_cast<size_t>(options_.width) * options_.height * 4);
    // A loop is coded before the stream begins, so that sending costs the simulator almost nothing.
    std::vector<std::vector<uint8_t>> loop(static_cast<size_t>(options_.loop));
    for (int64_t n = 1; n <= options_.loop; ++n) {
        if (!makePayload(source, coder, n, &loop[static_cast<size_t>(n - 1)])) {
            fprintf(stderr, "qx-devsim: picture %lld could not be made\n", static_cast<long long>(n));
            stop();
            return;
        }
    }
    loop_ = std::move(loop);
    const std::vector<uint8_t> config = coder.config();
    if (!sendFrame(coder.encoderType(), config, static_cast<int32_t>(config.size()), config.size())) {
        stop();
        return;
    }
    std::vector<uint8_t> payload;
    const auto period = std::chrono::nanoseconds(1000000000LL / options_.fps);
    // One line per picture sent: the number the synthetic screen shows in it (counted from 0, modulo 65536,
    // or modulo the loop) and the steady clock in microseconds when its first byte was handed to the socket
    // (taken after the write, a client on another core could show the picture before the clock was read).
    std::unique_ptr<FILE, int (*)(FILE*)> sendLog(
        options_.sendLog.empty() ? nullptr : fopen(options_.sendLog.c_str(), "a"), fclose);
    if (sendLog) setvbuf(sendLog.get(), nullptr, _IOLBF, 0);
    auto deadline = std::chrono::steady_clock::now();
    for (int64_t n = 1; options_.frames == 0 || n <= options_.frames; ++n) {
        if (waitStopped(deadline)) return;
        deadline += period;
        if (!makePayload(source, coder, n, &payload)) {
            fprintf(stderr, "qx-devsim: picture %lld could not be made\n", static_cast<long long>(n));
            stop();
            return;
        }
        if (payload.empty()) continue;  // nothing changed
        int32_t announced = static_cast<int32_t>(payload.size());
        size_t sent = payload.size();
        const bool closeNow = n == options_.closeMidFrame;
        if (closeNow || n == options_.truncateFrame) sent /= 2;
        if (options_.corruptFrame > 0 && n % options_.corruptFrame == 0) {
            for (size_t i = payload.size() / 4; i < payload.size() * 3 / 4; ++i)
                payload[i] ^= 0xA5;
        }
        if (n == options_.oversizeFrame) {
            // More than the client's frame buffer of width x height x 8 + 104 bytes can take.
            const uint32_t w =
                static_cast<uint32_t>(options_.announceWidth ? options_.announceWidth : options_.width);
            const uint32_t h =
                static_cast<uint32_t>(options_.announceHeight ? options_.announceHeight : options_.height);
            payload.assign(static_cast<size_t>(w) * h * 8 + 104, 0x55);
            announced = static_cast<int32_t>(payload.size());
            sent = payload.size();
        }
        if (closeNow)
            fprintf(stderr, "qx-devsim: closing halfway through picture %lld\n", static_cast<long long>(n));
        const auto leaving = std::chrono::steady_clock::now().time_since_epoch();
        if (!sendFrame(coder.encoderType(), payload, announced, sent) || closeNow) {
            stop();
            return;
        }
        if (sendLog) {
            const int64_t shown = options_.loop > 0 ? (n - 1) % options_.loop : n - 1;
            fprintf(sendLog.get(), "%lld %lld\n", static_cast<long long>(shown),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(leaving).count()));
        }
    }
    // Every picture is out: the connection stays until the client leaves.
}
