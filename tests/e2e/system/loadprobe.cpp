// qx-loadprobe: watches the windows of simulated phones on the screen and reports, per phone and per group of
// phones, the pictures sent and shown per second, the time from a picture leaving the simulator to its
// appearing on the screen and the pictures never shown; for the client its CPU use and resident memory over
// the same time, beside the CPU of the whole machine, of other named processes and of the probe itself.
//
// usage: qx-loadprobe --pid PID --seconds S --picture WxH [--base-rss KB] [--sweep-ms MS (1, the shortest)]
//                     [--cpu NAME=PID[,PID...]]... [--group NAME] X,Y,W,H:SENDLOG ...
// Each window is given by its place on the screen and the send log of its simulator (qx-devsim --send-log);
// it belongs to the group named last before it ("all" when none was). The last lines are "result NAME
// key=value ..." for each group and "result client key=value ...", for scripts.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/system/screenrows.h"
#include "tools/qx-devsim/syntheticscreen.h"

namespace {

using Clock = std::chrono::steady_clock;

// A picture seen more than this long after it was sent was not that sending of its number.
constexpr long long kLongestLatencyUs = 5000000;

struct Watched {
    int x, y, width, height;
    std::string sendLog;
    size_t group;
    std::vector<int> cellX;  // screen x of each number cell's centre
    int span = -1;           // the screen row span holding the cells
    uint32_t last = 0xFFFFFFFF;
    std::vector<std::pair<uint32_t, long long>> seen;  // number, steady microseconds when first seen
};

struct Figures {
    double sentPerSecond = 0;
    double shownPerSecond = 0;
    std::vector<double> latencies;      // ms, of each picture seen, from its sending
    std::vector<double> sentLatencies;  // ms, of each picture sent, until seen; infinite when never seen
    size_t missed = 0;
};

using namespace std::chrono_literals;

long long threadCpuNanos() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// utime + stime of a process ("self" for the probe), in clock ticks; 0 when it is gone.
long long cpuTicks(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
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

// Busy clock ticks of the whole machine, all cores (everything but idle and waiting for I/O).
long long machineTicks() {
    std::ifstream in("/proc/stat");
    std::string cpu;
    in >> cpu;
    long long busy = 0, value = 0;
    for (int i = 0; i < 8 && in >> value; ++i) {
        if (i != 3 && i != 4) busy += value;
    }
    return busy;
}

long statusKb(const std::string& pid, const char* key) {
    std::ifstream status("/proc/" + pid + "/status");
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

// Pictures seen and sent within [start, end), matched by number against the send log.
Figures measure(const Watched& w, long long start, long long end) {
    std::multimap<uint32_t, long long> sent;
    std::ifstream log(w.sendLog);
    long long number, micros;
    Figures f;
    size_t sentInside = 0;
    while (log >> number >> micros) {
        sent.emplace(static_cast<uint32_t>(number & 0xFFFF), micros);
        if (micros >= start && micros < end) ++sentInside;
    }
    const double seconds = (end - start) / 1e6;
    f.sentPerSecond = sentInside / seconds;
    // The first sighting only shows where the picture stood when the probe began. A number read while the
    // screen showed no picture of the phone (a window not yet painted) matches no sending and is not counted.
    size_t shown = 0;
    for (size_t k = 1; k < w.seen.size(); ++k) {
        const auto [n, seenAt] = w.seen[k];
        long long best = -1;
        auto range = sent.equal_range(n);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second <= seenAt) best = std::max(best, it->second);
        }
        if (best < 0 || seenAt - best >= kLongestLatencyUs) continue;
        f.latencies.push_back((seenAt - best) / 1000.0);
        ++shown;
    }
    f.shownPerSecond = shown / seconds;
    // Every picture sent early enough in the window to be seen before its end: when did it appear? A picture
    // the client skipped for a newer one never does.
    const long long lastSend = end - 250000;
    for (const auto& [n, at] : sent) {
        if (at < start || at >= lastSend) continue;
        // The next sending of the same number ends the wait for this one.
        long long until = end;
        auto range = sent.equal_range(n);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second > at) until = std::min(until, it->second);
        }
        double latency = INFINITY;
        for (const auto& [m, seenAt] : w.seen) {
            if (m == n && seenAt >= at && seenAt < until) {
                latency = (seenAt - at) / 1000.0;
                break;
            }
        }
        if (std::isinf(latency)) ++f.missed;
        f.sentLatencies.push_back(latency);
    }
    return f;
}

std::string ms(double value) {
    if (std::isinf(value)) return "inf";
    char text[32];
    snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string pid;
    double seconds = 10;
    double sweepMs = 1;
    long baseRssKb = 0;
    int pictureWidth = 720, pictureHeight = 1280;
    std::vector<std::string> groups = {"all"};
    std::vector<std::pair<std::string, std::vector<std::string>>> others;  // name, pids
    std::vector<Watched> windows;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--pid" && valued) {
            pid = argv[++i];
        } else if (arg == "--seconds" && valued) {
            seconds = atof(argv[++i]);
        } else if (arg == "--sweep-ms" && valued) {
            sweepMs = std::max(0.1, atof(argv[++i]));
        } else if (arg == "--base-rss" && valued) {
            baseRssKb = atol(argv[++i]);
        } else if (arg == "--picture" && valued) {
            sscanf(argv[++i], "%dx%d", &pictureWidth, &pictureHeight);
        } else if (arg == "--group" && valued) {
            if (windows.empty()) groups.clear();
            groups.push_back(argv[++i]);
        } else if (arg == "--cpu" && valued) {
            const std::string value = argv[++i];
            const size_t equals = value.find('=');
            std::vector<std::string> pids;
            std::istringstream list(value.substr(equals + 1));
            for (std::string p; std::getline(list, p, ',');)
                if (!p.empty()) pids.push_back(p);
            others.emplace_back(value.substr(0, equals), pids);
        } else {
            Watched w{};
            const size_t colon = arg.find(':');
            if (colon == std::string::npos ||
                sscanf(arg.substr(0, colon).c_str(), "%d,%d,%d,%d", &w.x, &w.y, &w.width, &w.height) != 4) {
                fprintf(stderr, "qx-loadprobe: bad window %s\n", argv[i]);
                return 2;
            }
            w.sendLog = arg.substr(colon + 1);
            w.group = groups.size() - 1;
            windows.push_back(w);
        }
    }
    ScreenRows screen;
    if (!screen.ok() || pid.empty() || windows.empty()) {
        fprintf(stderr,
                "usage: qx-loadprobe --pid PID --seconds S --picture WxH [--base-rss KB] [--sweep-ms MS] "
                "[--cpu NAME=PID[,PID...]]... [--group NAME] X,Y,W,H:SENDLOG ...\n");
        return 2;
    }
    // The cells of windows side by side lie on one screen row: one span per row, across all of them.
    const SyntheticScreen::Layout l = SyntheticScreen::layout(pictureWidth, pictureHeight);
    std::map<int, std::pair<int, int>> rows;  // y: leftmost, rightmost cell centre
    for (Watched& w : windows) {
        for (int i = 0; i < SyntheticScreen::kNumberCells; ++i) {
            const int centre = l.x + i * l.cellWidth + l.cellWidth / 2;
            w.cellX.push_back(w.x + centre * w.width / pictureWidth);
        }
        const int cellY = w.y + (l.y + l.cellHeight / 2) * w.height / pictureHeight;
        auto [row, added] = rows.try_emplace(cellY, w.cellX.front(), w.cellX.back());
        row->second.first = std::min(row->second.first, w.cellX.front());
        row->second.second = std::max(row->second.second, w.cellX.back());
        w.span = cellY;  // the row until the spans are made
    }
    std::map<int, int> spanOfRow;
    for (const auto& [y, extent] : rows)
        spanOfRow[y] = screen.add(extent.first, y, extent.second - extent.first + 1);
    for (Watched& w : windows)
        w.span = spanOfRow[w.span];

    const long long clientBefore = cpuTicks(pid);
    const long long machineBefore = machineTicks();
    const long long probeBefore = cpuTicks("self");
    std::vector<long long> othersBefore;
    for (const auto& [name, pids] : others) {
        long long sum = 0;
        for (const std::string& p : pids)
            sum += cpuTicks(p);
        othersBefore.push_back(sum);
    }
    const long long start = nowMicros();
    const long long end = start + static_cast<long long>(seconds * 1e6);
    long sweeps = 0;
    auto nextSweep = Clock::now();
    const auto shortest = std::chrono::microseconds(static_cast<long long>(sweepMs * 1000));
    Clock::duration sweep = shortest;
    while (nowMicros() < end) {
        nextSweep += sweep;
        std::this_thread::sleep_until(nextSweep);
        // A probe that fell behind (a busy machine) sweeps again at once, not a backlog of sweeps.
        nextSweep = std::max(nextSweep, Clock::now() - sweep);
        const long long began = threadCpuNanos();
        if (!screen.read()) continue;
        const long long at = nowMicros();
        // The probe takes at most about a tenth of a core: many rows of windows are swept less often, yet at
        // least every 5 ms. (Its own time, not the wait for a busy X server, which would slow it for
        // nothing.)
        const auto cost = std::chrono::nanoseconds(threadCpuNanos() - began);
        sweep = std::clamp<Clock::duration>(cost * 10, shortest, std::max<Clock::duration>(shortest, 5ms));
        for (Watched& w : windows) {
            uint32_t n = 0;
            for (int x : w.cellX)
                n = (n << 1) | (((screen.pixel(w.span, x) >> 8) & 0xFF) > 128 ? 1 : 0);
            if (n != w.last) {
                w.last = n;
                w.seen.emplace_back(n, at);
            }
        }
        ++sweeps;
    }
    const long long stop = nowMicros();
    const double elapsed = (stop - start) / 1e6;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    auto percent = [&](long long ticks) { return 100.0 * ticks / tick / elapsed; };
    const double clientCpu = percent(cpuTicks(pid) - clientBefore);
    const double machineCpu = percent(machineTicks() - machineBefore);
    const double probeCpu = percent(cpuTicks("self") - probeBefore);
    std::string othersText;
    for (size_t i = 0; i < others.size(); ++i) {
        long long sum = 0;
        for (const std::string& p : others[i].second)
            sum += cpuTicks(p);
        char text[96];
        snprintf(text, sizeof text, " %s=%.0f", others[i].first.c_str(), percent(sum - othersBefore[i]));
        othersText += text;
    }

    // A simulator of many phones writes its send log lines out at most 200 ms after their pictures left.
    std::this_thread::sleep_for(500ms);

    struct Group {
        size_t phones = 0;
        double sent = 0, shown = 0, minShown = 1e9;
        std::vector<double> latencies, sentLatencies;
        size_t missed = 0;
    };
    std::vector<Group> summary(groups.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        const Watched& w = windows[i];
        const Figures f = measure(w, start, stop);
        Group& g = summary[w.group];
        ++g.phones;
        g.sent += f.sentPerSecond;
        g.shown += f.shownPerSecond;
        g.minShown = std::min(g.minShown, f.shownPerSecond);
        g.latencies.insert(g.latencies.end(), f.latencies.begin(), f.latencies.end());
        g.sentLatencies.insert(g.sentLatencies.end(), f.sentLatencies.begin(), f.sentLatencies.end());
        g.missed += f.missed;
        printf(
            "phone %zu (%s): sent %.1f/s, shown %.1f/s, latency ms p50 %.1f p95 %.1f (%zu seen), sent "
            "pictures never shown %zu of %zu\n",
            i + 1, groups[w.group].c_str(), f.sentPerSecond, f.shownPerSecond, percentile(f.latencies, 0.5),
            percentile(f.latencies, 0.95), f.latencies.size(), f.missed, f.sentLatencies.size());
    }
    const long rssKb = statusKb(pid, "VmRSS:");
    const size_t phones = windows.size();
    for (size_t i = 0; i < groups.size(); ++i) {
        const Group& g = summary[i];
        if (g.phones == 0) continue;
        printf(
            "result %s phones=%zu sent=%.1f mean=%.1f min=%.1f p50=%.1f p95=%.1f onscreen_p95=%s missed=%zu "
            "pictures=%zu\n",
            groups[i].c_str(), g.phones, g.sent / g.phones, g.shown / g.phones, g.minShown,
            percentile(g.latencies, 0.5), percentile(g.latencies, 0.95),
            ms(percentile(g.sentLatencies, 0.95)).c_str(), g.missed, g.sentLatencies.size());
    }
    printf(
        "result client phones=%zu cpu=%.0f machine=%.0f cores=%ld rss=%ld peak=%ld per_phone=%.1f probe=%.0f "
        "sweeps=%.0f%s\n",
        phones, clientCpu, machineCpu, sysconf(_SC_NPROCESSORS_ONLN), rssKb / 1024,
        statusKb(pid, "VmHWM:") / 1024, (rssKb - baseRssKb) / 1024.0 / static_cast<double>(phones), probeCpu,
        sweeps / elapsed, othersText.c_str());
    return 0;
}
