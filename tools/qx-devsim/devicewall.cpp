#include "tools/qx-devsim/devicewall.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/rsupheader.h"
#include "tools/qx-devsim/devicehandshake.h"
#include "tools/qx-devsim/framecoder.h"
#include "tools/qx-devsim/picturesource.h"

namespace {

enum class Stage { Listening, AwaitingSyn, AwaitingAck, Streaming };

// A client that connects and never completes the handshake does not keep the phone from the next one.
constexpr auto kHandshakeTime = std::chrono::seconds(10);

// Pictures falling due this close together leave on one wake-up, at the latest one's time: none leaves before
// it is due, none more than this late, and a wall of phones wakes the simulator about a thousand times a
// second instead of once per picture.
constexpr auto kBatchTime = std::chrono::milliseconds(1);

constexpr int kEventsPerWait = 64;

// A connection is read this many times per wake-up at most; what is left wakes the wall again (the wait is
// level-triggered), so a client that never stops sending holds up neither the other phones nor stop().
constexpr int kReadsPerWake = 4;

// A send log's lines are written out together once the oldest has waited this long, whole lines only: one
// write per phone five times a second instead of one per picture. The probe reads the logs after it measured.
constexpr auto kLogTime = std::chrono::milliseconds(200);
constexpr size_t kLogBytes = 4096;  // written out at once when this much waits

}  // namespace

// Owned by the polling thread alone.
struct DeviceWall::Phone {
    int index = 0;
    SOCKET listener = -1;
    uint16_t port = 0;
    SOCKET s = -1;
    Stage stage = Stage::Listening;
    uint8_t handshake[RSUP_HANDSHAKE_SIZE] = {};  // the SYN, then the client's final ACK
    size_t handshakeLength = 0;
    uint8_t ack[RSUP_HANDSHAKE_SIZE] = {};
    int64_t sent = 0;       // pictures started on this connection
    Clock::time_point due;  // of the next picture; while handshaking, the end of the handshake's time
    // The frame under way: header, then the payload (one of the coded pictures, never copied).
    uint8_t header[RSUP_HEADER_SIZE] = {};
    const std::vector<uint8_t>* payload = nullptr;
    size_t offset = 0;    // bytes of header and payload already sent
    bool writes = false;  // the connection is watched for room to write as well
    int log = -1;
    std::string logLines;     // not yet written, whole lines
    Clock::time_point logAt;  // when the first of logLines was added
};

DeviceWall::DeviceWall(const DevsimOptions& options) : options_(options) {}

DeviceWall::~DeviceWall() {
    for (const std::unique_ptr<Phone>& p : phones_) {
        if (p->s >= 0) close(p->s);
        if (p->listener >= 0) close(p->listener);
        if (p->log >= 0) {
            writeLog(*p);
            close(p->log);
        }
    }
    for (int fd : wake_) {
        if (fd >= 0) close(fd);
    }
    if (epoll_ >= 0) close(epoll_);
}

bool DeviceWall::open(std::string* error) {
    std::unique_ptr<PictureSource> source = makePictureSource(options_, error);
    std::unique_ptr<FrameCoder> coder = source ? makeFrameCoder(options_, error) : nullptr;
    if (!coder) return false;
    std::vector<uint8_t> picture(static_cast<size_t>(options_.width) * options_.height * 4);
    loop_.resize(static_cast<size_t>(options_.loop));
    for (int64_t n = 1; n <= options_.loop; ++n) {
        if (!source->next(picture.data()) || !coder->encode(picture.data(), n, &loop_[n - 1])) {
            *error = "picture " + std::to_string(n) + " could not be made";
            return false;
        }
    }
    encoderType_ = coder->encoderType();
    config_ = coder->config();
    if (pipe(wake_) != 0) {
        *error = std::string("no wake pipe: ") + strerror(errno);
        return false;
    }
    fcntl(wake_[0], F_SETFL, O_NONBLOCK);
    fcntl(wake_[1], F_SETFL, O_NONBLOCK);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.ptr = nullptr;
    if (epoll_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_[0], &wake) != 0) {
        *error = std::string("no epoll: ") + strerror(errno);
        return false;
    }
    for (int i = 0; i < options_.devices; ++i) {
        auto phone = std::make_unique<Phone>();
        phone->index = i;
        const uint16_t port = options_.port ? static_cast<uint16_t>(options_.port + i) : 0;
        phone->listener = TCPListen("127.0.0.1", port);
        if (phone->listener < 0) {
            *error = "cannot listen on 127.0.0.1:" + std::to_string(port);
            return false;
        }
        fcntl(phone->listener, F_SETFL, O_NONBLOCK);
        sockaddr_in bound{};
        socklen_t size = sizeof(bound);
        getsockname(phone->listener, reinterpret_cast<sockaddr*>(&bound), &size);
        phone->port = ntohs(bound.sin_port);
        if (!options_.sendLog.empty()) {
            const std::string name = options_.sendLog + "-" + std::to_string(i);
            phone->log = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
            if (phone->log < 0) {
                *error = "cannot open " + name;
                return false;
            }
            phone->logLines.reserve(kLogBytes);
        }
        if (!watch(*phone, EPOLL_CTL_ADD)) {
            *error = std::string("cannot watch a listener: ") + strerror(errno);
            return false;
        }
        phones_.push_back(std::move(phone));
    }
    return true;
}

std::vector<uint16_t> DeviceWall::ports() const {
    std::vector<uint16_t> ports;
    for (const std::unique_ptr<Phone>& p : phones_)
        ports.push_back(p->port);
    return ports;
}

void DeviceWall::stop() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t r = write(wake_[1], &byte, 1);
}

bool DeviceWall::watch(Phone& phone, int operation) {
    epoll_event event{};
    event.events = EPOLLIN | (phone.writes ? EPOLLOUT : 0u);
    event.data.ptr = &phone;
    const int fd = phone.stage == Stage::Listening ? phone.listener : phone.s;
    return epoll_ctl(epoll_, operation, fd, &event) == 0;
}

void DeviceWall::watchWrites(Phone& phone, bool writes) {
    if (phone.writes == writes) return;
    phone.writes = writes;
    if (!watch(phone, EPOLL_CTL_MOD))
        fprintf(stderr, "qx-devsim: phone %d: epoll: %s\n", phone.index, strerror(errno));
}

void DeviceWall::drop(Phone& phone, const char* why) {
    fprintf(stderr, "qx-devsim: phone %d: %s\n", phone.index, why);
    epoll_ctl(epoll_, EPOLL_CTL_DEL, phone.s, nullptr);
    close(phone.s);
    phone.s = -1;
    phone.stage = Stage::Listening;
    phone.payload = nullptr;
    phone.writes = false;
    // The next client is taken as the last one was.
    if (!watch(phone, EPOLL_CTL_ADD))
        fprintf(stderr, "qx-devsim: phone %d: cannot watch the listener: %s\n", phone.index, strerror(errno));
}

void DeviceWall::accept(Phone& phone) {
    sockaddr_in peer{};
    const SOCKET s = TCPAccept(phone.listener, &peer);
    if (s < 0) return;  // gone again, or nothing waiting after all
    fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
    // One connection at a time: further clients wait in the listener's backlog until this one is over.
    epoll_ctl(epoll_, EPOLL_CTL_DEL, phone.listener, nullptr);
    phone.s = s;
    phone.stage = Stage::AwaitingSyn;
    phone.due = Clock::now() + kHandshakeTime;
    phone.handshakeLength = 0;
    phone.sent = 0;
    phone.payload = nullptr;
    phone.writes = false;
    if (!watch(phone, EPOLL_CTL_ADD)) drop(phone, strerror(errno));
}

void DeviceWall::receive(Phone& phone) {
    uint8_t chunk[4096];
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        const bool handshaking = phone.stage != Stage::Streaming;
        const size_t room = handshaking ? RSUP_HANDSHAKE_SIZE - phone.handshakeLength : sizeof(chunk);
        uint8_t* into = handshaking ? phone.handshake + phone.handshakeLength : chunk;
        const ssize_t n = recv(phone.s, into, room, 0);
        if (n == 0) return drop(phone, "client left");
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            return drop(phone, strerror(errno));
        }
        if (!handshaking) continue;  // control frames: nobody reads them on a wall
        phone.handshakeLength += static_cast<size_t>(n);
        if (phone.handshakeLength < RSUP_HANDSHAKE_SIZE) continue;
        phone.handshakeLength = 0;
        if (phone.stage == Stage::AwaitingSyn) {
            if (memcmp(phone.handshake + 4, "RSUP SYN", 8) != 0) return drop(phone, "not a SYN");
            memcpy(phone.ack, phone.handshake, 4);
            memcpy(phone.ack + 4, "RSUP ACK", 8);
            // Twelve bytes into a fresh connection's empty send buffer go at once.
            if (send(phone.s, phone.ack, RSUP_HANDSHAKE_SIZE, MSG_NOSIGNAL) != RSUP_HANDSHAKE_SIZE)
                return drop(phone, "ACK not sent");
            phone.stage = Stage::AwaitingAck;
        } else {
            if (memcmp(phone.handshake, phone.ack, RSUP_HANDSHAKE_SIZE) != 0) return drop(phone, "bad ACK");
            phone.stage = Stage::Streaming;
            // The phones' pictures are spread over the period, not all sent at the same instant.
            const auto period = std::chrono::nanoseconds(1000000000LL / options_.fps);
            phone.due = Clock::now() + period * phone.index / options_.devices;
            startFrame(phone, config_);
            if (!flush(phone)) return drop(phone, "send failed");
            watchWrites(phone, phone.payload != nullptr);
        }
    }
}

void DeviceWall::startFrame(Phone& phone, const std::vector<uint8_t>& payload) {
    RsupHeader header;
    header.encoderType = encoderType_;
    header.width = static_cast<uint32_t>(options_.width);
    header.height = static_cast<uint32_t>(options_.height);
    header.payloadLength = static_cast<int32_t>(payload.size());
    header.write(phone.header);
    phone.payload = &payload;
    phone.offset = 0;
}

bool DeviceWall::flush(Phone& phone) {
    while (phone.payload) {
        iovec parts[2];
        int count = 0;
        if (phone.offset < RSUP_HEADER_SIZE) {
            parts[count++] = {phone.header + phone.offset, RSUP_HEADER_SIZE - phone.offset};
            parts[count++] = {const_cast<uint8_t*>(phone.payload->data()), phone.payload->size()};
        } else {
            const size_t done = phone.offset - RSUP_HEADER_SIZE;
            parts[count++] = {const_cast<uint8_t*>(phone.payload->data()) + done,
                              phone.payload->size() - done};
        }
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        const ssize_t n = sendmsg(phone.s, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        phone.offset += static_cast<size_t>(n);
        if (phone.offset == RSUP_HEADER_SIZE + phone.payload->size()) phone.payload = nullptr;
    }
    return true;
}

void DeviceWall::writeLog(Phone& phone) {
    size_t done = 0;
    while (done < phone.logLines.size()) {
        const ssize_t n = write(phone.log, phone.logLines.data() + done, phone.logLines.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fprintf(stderr, "qx-devsim: phone %d: send log: %s\n", phone.index, strerror(errno));
            break;
        }
        done += static_cast<size_t>(n);
    }
    phone.logLines.clear();
}

bool DeviceWall::sendPicture(Phone& phone) {
    const auto period = std::chrono::nanoseconds(1000000000LL / options_.fps);
    const std::vector<uint8_t>& payload = loop_[static_cast<size_t>(phone.sent % options_.loop)];
    const int64_t shown = phone.sent;
    phone.due += period;
    ++phone.sent;
    if (payload.empty()) return true;  // nothing changed in this picture
    startFrame(phone, payload);
    if (phone.log >= 0) {
        const Clock::time_point now = Clock::now();
        const auto leaving = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch());
        char line[48];
        const int length =
            snprintf(line, sizeof(line), "%lld %lld\n", static_cast<long long>(shown % options_.loop),
                     static_cast<long long>(leaving.count()));
        if (phone.logLines.empty()) phone.logAt = now;
        phone.logLines.append(line, static_cast<size_t>(length));
        if (phone.logLines.size() + sizeof(line) > kLogBytes) writeLog(phone);
    }
    if (!flush(phone)) return false;
    watchWrites(phone, phone.payload != nullptr);
    return true;
}

int DeviceWall::run() {
    std::vector<Phone*> due;  // the phones sending on this wake-up, in the order their pictures fell due
    epoll_event events[kEventsPerWait];
    for (;;) {
        // Send every picture whose time has come on a connection that has finished its last one. A phone
        // the client does not keep up with sends its pictures late, one after another, as a device does
        // whose socket was full.
        const Clock::time_point now = Clock::now();
        Clock::time_point deadline = Clock::time_point::max();  // the first handshake to run out
        due.clear();
        for (const std::unique_ptr<Phone>& p : phones_) {
            if (p->stage == Stage::AwaitingSyn || p->stage == Stage::AwaitingAck) {
                if (p->due <= now) {
                    drop(*p, "no handshake in time");
                } else {
                    deadline = std::min(deadline, p->due);
                }
            }
            if (p->stage == Stage::Streaming && !p->payload && p->due <= now) due.push_back(p.get());
            if (!p->logLines.empty() && p->logAt + kLogTime <= now) writeLog(*p);
        }
        std::stable_sort(due.begin(), due.end(),
                         [](const Phone* a, const Phone* b) { return a->due < b->due; });
        for (Phone* p : due) {
            if (!sendPicture(*p)) drop(*p, "send failed");
        }

        // The next wake-up: when the next picture falls due, or as late as the pictures falling due within
        // the batch time after it allow, so that they leave together.
        Clock::time_point first = Clock::time_point::max();
        for (const std::unique_ptr<Phone>& p : phones_) {
            if (p->stage == Stage::Streaming && !p->payload) first = std::min(first, p->due);
        }
        Clock::time_point wake = first;
        if (first != Clock::time_point::max()) {
            for (const std::unique_ptr<Phone>& p : phones_) {
                if (p->stage == Stage::Streaming && !p->payload && p->due <= first + kBatchTime)
                    wake = std::max(wake, p->due);
            }
        }
        wake = std::min(wake, deadline);
        for (const std::unique_ptr<Phone>& p : phones_) {
            if (!p->logLines.empty()) wake = std::min(wake, p->logAt + kLogTime);
        }
        timespec timeout{};
        timespec* wait = nullptr;
        if (wake != Clock::time_point::max()) {
            const auto left = std::max(Clock::duration::zero(), wake - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            wait = &timeout;
        }
        const int ready = epoll_pwait2(epoll_, events, kEventsPerWait, wait, nullptr);
        if (ready < 0 && errno != EINTR) {
            fprintf(stderr, "qx-devsim: epoll failed: %s\n", strerror(errno));
            return -1;
        }
        for (int i = 0; i < ready; ++i) {
            if (!events[i].data.ptr) {  // stop(): every line sent so far is in the logs when run() returns
                for (const std::unique_ptr<Phone>& p : phones_) {
                    if (p->log >= 0) writeLog(*p);
                }
                return 0;
            }
            Phone& p = *static_cast<Phone*>(events[i].data.ptr);
            const uint32_t happened = events[i].events;
            if (p.stage == Stage::Listening) {
                accept(p);
                continue;
            }
            if (happened & EPOLLOUT) {
                if (!flush(p)) {
                    drop(p, "send failed");
                    continue;
                }
                watchWrites(p, p.payload != nullptr);
            }
            if (happened & (EPOLLIN | EPOLLHUP | EPOLLERR)) receive(p);
        }
    }
}
