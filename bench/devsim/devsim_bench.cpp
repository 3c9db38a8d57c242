// What a wall of simulated phones costs the machine beside the client it feeds: N phones of one qx-devsim
// process (a DeviceWall, pictures coded before the run) send to N connections that only drain their sockets.
// Reports the wall thread's own CPU (user and system, in % of one core) and per picture sent, with its send
// log written as in a load run. The drain runs on another thread and is not counted.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "control/sockets.h"
#include "tools/qx-devsim/devicewall.h"

namespace {

constexpr double kMeasuredSeconds = 3;

long long threadCpuNanos(pthread_t thread) {
    clockid_t clock;
    timespec t{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &t) != 0) return 0;
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

size_t logLines(const std::string& prefix, int devices) {
    size_t lines = 0;
    for (int i = 0; i < devices; ++i) {
        std::ifstream log(prefix + "-" + std::to_string(i));
        std::string line;
        while (std::getline(log, line))
            ++lines;
    }
    return lines;
}

// Connects to every phone, completes the handshakes, then reads and drops whatever arrives until stopped.
class Drain {
public:
    explicit Drain(const std::vector<uint16_t>& ports) {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        for (uint16_t port : ports) {
            const SOCKET s = TCPConnect(port, "127.0.0.1", 5000);
            if (s < 0) continue;
            // A phone that never answers fails its connection instead of holding up the bench.
            timeval limit{5, 0};
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
            const char syn[12] = {1, 2, 3, 4, 'R', 'S', 'U', 'P', ' ', 'S', 'Y', 'N'};
            char ack[12];
            if (send(s, syn, 12, 0) != 12 || recv(s, ack, 12, MSG_WAITALL) != 12 ||
                send(s, ack, 12, 0) != 12) {
                close(s);
                continue;
            }
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = s;
            epoll_ctl(epoll_, EPOLL_CTL_ADD, s, &event);
            sockets_.push_back(s);
        }
        thread_ = std::thread([this] { drain(); });
    }
    ~Drain() {
        stop_ = true;  // seen within one 50 ms wait of the drain thread
        thread_.join();
        for (SOCKET s : sockets_)
            close(s);
        close(epoll_);
    }
    size_t connected() const { return sockets_.size(); }

private:
    void drain() {
        std::vector<char> scratch(1 << 20);
        epoll_event events[64];
        while (!stop_) {
            const int n = epoll_wait(epoll_, events, 64, 50);
            // One read per ready socket and wake-up: what is left makes it ready again, and stop is seen
            // within 50 ms however fast the phones send.
            for (int i = 0; i < n; ++i)
                recv(events[i].data.fd, scratch.data(), scratch.size(), MSG_DONTWAIT);
        }
    }

    int epoll_ = -1;
    std::vector<SOCKET> sockets_;
    std::thread thread_;
    std::atomic<bool> stop_{false};  // set by the destructor, read by the drain thread
};

void BM_WallSending(benchmark::State& state, const char* codec) {
    const int devices = static_cast<int>(state.range(0));
    const std::string log = "/tmp/qx-devsim-bench-" + std::to_string(getpid());
    DevsimOptions options;
    options.codec = codec;
    options.port = 0;
    options.devices = devices;
    options.loop = 60;
    options.fps = 30;
    options.sendLog = log;
    DeviceWall wall(options);
    std::string error;
    if (!wall.open(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::thread serving([&wall] {
        pthread_setname_np(pthread_self(), "wall");  // for perf report --comm wall
        wall.run();
    });
    {
        Drain drain(wall.ports());
        std::this_thread::sleep_for(std::chrono::seconds(1));  // every phone past its first pictures
        for (auto _ : state) {
            const size_t linesBefore = logLines(log, devices);
            const long long cpuBefore = threadCpuNanos(serving.native_handle());
            std::this_thread::sleep_for(std::chrono::duration<double>(kMeasuredSeconds));
            const long long cpu = threadCpuNanos(serving.native_handle()) - cpuBefore;
            const size_t sent = logLines(log, devices) - linesBefore;
            state.counters["phones"] = static_cast<double>(drain.connected());
            state.counters["pictures_per_s"] = static_cast<double>(sent) / kMeasuredSeconds;
            state.counters["cpu_percent"] = 100.0 * static_cast<double>(cpu) / 1e9 / kMeasuredSeconds;
            state.counters["cpu_us_per_picture"] = sent ? static_cast<double>(cpu) / 1e3 / sent : 0;
        }
        // Stopped before its clients leave, so it has nothing to report about them; stop wakes the wall's
        // wait, so the join is bounded.
        wall.stop();
        serving.join();
    }
    for (int i = 0; i < devices; ++i)
        std::remove((log + "-" + std::to_string(i)).c_str());
}

BENCHMARK_CAPTURE(BM_WallSending, zrc, "zrc")->Arg(64)->Arg(128)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_WallSending, h264, "h264")->Arg(64)->Arg(128)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
