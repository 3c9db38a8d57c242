// qx-loadprobe: watches the windows of simulated phones on the screen and reports, per phone, the pictures
// shown per second and the time from a picture leaving the simulator to its appearing on the screen, and for
// the client process its CPU use and resident memory over the same time.
//
// usage: qx-loadprobe --pid PID --seconds S --picture WxH X,Y,W,H:SENDLOG ...
// Each window is given by its place on the screen and the send log of its simulator (qx-devsim --send-log).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/system/xscreen.h"
#include "tools/qx-devsim/syntheticscreen.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Watched {
    int x, y, width, height;
    std::string sendLog;
    std::vector<int> cellX;  // screen x of each number cell's centre
    int cellY;
    uint32_t last = 0xFFFFFFFF;
    std::vector<std::pair<uint32_t, long long>> seen;  // number, steady microseconds when first seen
};

long long nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// utime + stime of a process, in clock ticks.
long long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) {
            stime = std::stoll(field);
            break;
        }
    }
    return utime + stime;
}

long statusKb(pid_t pid, const char* key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    long value = -1;
    while (status >> word) {
        if (word == key) {
            status >> value;
            break;
        }
    }
    return value;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    pid_t pid = 0;
    double seconds = 10;
    int pictureWidth = 720, pictureHeight = 1280;
    std::vector<Watched> windows;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pid" && i + 1 < argc) {
            pid = atoi(argv[++i]);
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (arg == "--picture" && i + 1 < argc) {
            sscanf(argv[++i], "%dx%d", &pictureWidth, &pictureHeight);
        } else {
            Watched w{};
            char log[1024] = {};
            if (sscanf(argv[i], "%d,%d,%d,%d:%1023s", &w.x, &w.y, &w.width, &w.height, log) != 5) {
                fprintf(stderr, "qx-loadprobe: bad window %s\n", argv[i]);
                return 2;
            }
            w.sendLog = log;
            windows.push_back(w);
        }
    }
    XScreen screen;
    if (!screen.ok() || pid <= 0 || windows.empty()) {
        fprintf(stderr, "usage: qx-loadprobe --pid PID --seconds S --picture WxH X,Y,W,H:SENDLOG ...\n");
        return 2;
    }
    const SyntheticScreen::Layout l = SyntheticScreen::layout(pictureWidth, pictureHeight);
    for (Watched& w : windows) {
        for (int i = 0; i < SyntheticScreen::kNumberCells; ++i)
            w.cellX.push_back(w.x + (l.x + i * l.cellWidth + l.cellWidth / 2) * w.width / pictureWidth);
        w.cellY = w.y + (l.y + l.cellHeight / 2) * w.height / pictureHeight;
    }

    const long long ticksBefore = cpuTicks(pid);
    const long long start = nowMicros();
    const long long end = start + static_cast<long long>(seconds * 1e6);
    long sweeps = 0;
    // A sweep every millisecond: fine enough for the latency, and the probe leaves the cores to the client.
    auto nextSweep = Clock::now();
    while (nowMicros() < end) {
        nextSweep += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(nextSweep);
        for (Watched& w : windows) {
            // The cells lie on one row: one request per window and sweep.
            const int left = w.cellX.front();
            const std::vector<uint32_t> strip = screen.row(left, w.cellY, w.cellX.back() - left + 1);
            if (strip.empty()) continue;
            uint32_t n = 0;
            for (int x : w.cellX)
                n = (n << 1) | (((strip[x - left] >> 8) & 0xFF) > 128 ? 1 : 0);
            if (n != w.last) {
                w.last = n;
                w.seen.emplace_back(n, nowMicros());
            }
        }
        ++sweeps;
    }
    const double elapsed = (nowMicros() - start) / 1e6;
    const double cpu = 100.0 * (cpuTicks(pid) - ticksBefore) / sysconf(_SC_CLK_TCK) / elapsed;

    std::vector<double> allLatencies;
    double totalShown = 0;
    double minShown = 1e9;
    for (size_t i = 0; i < windows.size(); ++i) {
        Watched& w = windows[i];
        // Send times by picture number; a number sent twice (wrapped) keeps the latest send before it was
        // seen.
        std::multimap<uint32_t, long long> sent;
        std::ifstream log(w.sendLog);
        long long number, micros;
        while (log >> number >> micros)
            sent.emplace(static_cast<uint32_t>(number & 0xFFFF), micros);
        std::vector<double> latencies;
        // The first change only shows where the picture stood when the probe began.
        for (size_t k = 1; k < w.seen.size(); ++k) {
            const auto [n, seenAt] = w.seen[k];
            long long best = -1;
            auto range = sent.equal_range(n);
            for (auto it = range.first; it != range.second; ++it) {
                if (it->second <= seenAt) best = std::max(best, it->second);
            }
            if (best >= 0 && seenAt - best < 5000000) latencies.push_back((seenAt - best) / 1000.0);
        }
        const double shown = w.seen.size() > 1 ? (w.seen.size() - 1) / elapsed : 0;
        totalShown += shown;
        minShown = std::min(minShown, shown);
        allLatencies.insert(allLatencies.end(), latencies.begin(), latencies.end());
        printf("device %zu: %.1f pictures shown/s, latency ms p50 %.1f p95 %.1f (%zu matched)\n", i + 1,
               shown, percentile(latencies, 0.5), percentile(latencies, 0.95), latencies.size());
    }
    printf(
        "devices %zu: shown/s mean %.1f min %.1f; latency ms p50 %.1f p95 %.1f; client CPU %.0f%%, RSS %ld "
        "MB "
        "(peak %ld MB); probe %.0f sweeps/s\n",
        windows.size(), totalShown / windows.size(), minShown, percentile(allLatencies, 0.5),
        percentile(allLatencies, 0.95), cpu, statusKb(pid, "VmRSS:") / 1024, statusKb(pid, "VmHWM:") / 1024,
        sweeps / elapsed);
    return 0;
}
