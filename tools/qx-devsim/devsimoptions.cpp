#include "tools/qx-devsim/devsimoptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool parseInteger(const char* text, int64_t low, int64_t high, int base, int64_t* value) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    const long long number = strtoll(text, &end, base);
    if (errno != 0 || *end != '\0' || number < low || number > high) return false;
    *value = number;
    return true;
}

// "WxH" with both edges 1..8192 (the simulator may announce sizes the client refuses).
bool parseSize(const char* text, int32_t* width, int32_t* height) {
    const char* x = text ? strchr(text, 'x') : nullptr;
    if (!x) return false;
    const std::string w(text, x);
    int64_t a = 0;
    int64_t b = 0;
    if (!parseInteger(w.c_str(), 1, 8192, 10, &a) || !parseInteger(x + 1, 1, 8192, 10, &b)) return false;
    *width = static_cast<int32_t>(a);
    *height = static_cast<int32_t>(b);
    return true;
}

}  // namespace

const char* devsimUsage() {
    return "usage: qx-devsim [options]\n"
           "  --port N              listen on 127.0.0.1:N (5555; 0 picks a free port)\n"
           "  --once                serve one connection, then exit\n"
           "  --devices N           serve N phones, one port each (from --port up; 0: free ports), all\n"
           "                        sending one pre-coded --loop; --send-log FILE becomes FILE-0, FILE-1, "
           "...\n"
           "  --codec h264|zrc      stream coding (h264)\n"
           "  --size WxH            picture size (720x1280)\n"
           "  --fps N               pictures per second (30)\n"
           "  --frames N            pictures per connection, then idle (0: endless)\n"
           "  --loop N              code N pictures once, then send them over and over\n"
           "  --source synthetic|png:DIR|video:FILE   picture source (synthetic)\n"
           "  --accent RRGGBB       status bar colour of the synthetic screen (2A7FD4)\n"
           "  --motion scroll|area|clock   synthetic screen: all of it moves, one small area changes, or "
           "only\n"
           "                        the status bar (scroll)\n"
           "  --send-log FILE       append \"NUMBER MICROSECONDS\" for every picture sent (steady clock)\n"
           "  --quality Q --matrix M --frame-format F --absolute-every N   ZRC settings (2, 8, 0x8E, 0)\n"
           "misbehaviour:\n"
           "  --bad-token           answer the handshake with another token\n"
           "  --no-answer           never answer the handshake\n"
           "  --close-mid-frame N   close the connection halfway through picture N\n"
           "  --truncate-frame N    picture N carries half the bytes its header announces\n"
           "  --corrupt-frame N     scramble the payload of every Nth picture\n"
           "  --oversize-frame N    picture N is larger than the client's frame buffer\n"
           "  --announce WxH        the config frame announces this size\n";
}

bool parseDevsimOptions(int argc, const char* const* argv, DevsimOptions* options, std::string* error) {
    DevsimOptions o;
    struct Counter {
        const char* name;
        int64_t* field;
    };
    const Counter counters[] = {
        {"--frames", &o.frames},
        {"--loop", &o.loop},
        {"--absolute-every", &o.absoluteEvery},
        {"--close-mid-frame", &o.closeMidFrame},
        {"--truncate-frame", &o.truncateFrame},
        {"--corrupt-frame", &o.corruptFrame},
        {"--oversize-frame", &o.oversizeFrame},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        int64_t number = 0;
        bool ok = true;
        bool takesValue = true;
        const Counter* counter = nullptr;
        for (const Counter& c : counters) {
            if (name == c.name) counter = &c;
        }
        if (counter) {
            ok = parseInteger(value, 0, INT64_MAX, 10, counter->field);
        } else if (name == "--once") {
            o.once = true;
            takesValue = false;
        } else if (name == "--bad-token") {
            o.badToken = true;
            takesValue = false;
        } else if (name == "--no-answer") {
            o.noAnswer = true;
            takesValue = false;
        } else if (name == "--port") {
            ok = parseInteger(value, 0, 65535, 10, &number);
            o.port = static_cast<uint16_t>(number);
        } else if (name == "--codec") {
            ok = value && (strcmp(value, "h264") == 0 || strcmp(value, "zrc") == 0);
            if (ok) o.codec = value;
        } else if (name == "--size") {
            ok = parseSize(value, &o.width, &o.height) && o.width <= 4096 && o.height <= 4096;
        } else if (name == "--announce") {
            ok = parseSize(value, &o.announceWidth, &o.announceHeight);
        } else if (name == "--devices") {
            ok = parseInteger(value, 1, 1024, 10, &number);
            o.devices = static_cast<int32_t>(number);
        } else if (name == "--motion") {
            const std::string motion = value ? value : "";
            ok = motion == "scroll" || motion == "area" || motion == "clock";
            o.motion = motion == "area"    ? DevsimOptions::Motion::Area
                       : motion == "clock" ? DevsimOptions::Motion::Clock
                                           : DevsimOptions::Motion::Scroll;
        } else if (name == "--fps") {
            ok = parseInteger(value, 1, 240, 10, &number);
            o.fps = static_cast<int32_t>(number);
        } else if (name == "--source") {
            ok = value && (strcmp(value, "synthetic") == 0 || strncmp(value, "png:", 4) == 0 ||
                           strncmp(value, "video:", 6) == 0);
            if (ok) o.source = value;
        } else if (name == "--send-log") {
            ok = value && *value;
            if (ok) o.sendLog = value;
        } else if (name == "--accent") {
            ok = parseInteger(value, 0, 0xFFFFFF, 16, &number);
            o.accent = static_cast<uint32_t>(number);
        } else if (name == "--quality") {
            ok = parseInteger(value, 0, 5, 10, &number);
            o.quality = static_cast<uint32_t>(number);
        } else if (name == "--matrix") {
            ok = parseInteger(value, 8, 32, 10, &number) && (number == 8 || number == 16 || number == 32);
            o.matrix = static_cast<uint32_t>(number);
        } else if (name == "--frame-format") {
            ok = parseInteger(value, 0x84, 0x8F, 0, &number) &&
                 (number == 0x84 || number == 0x8C || number >= 0x8D);
            o.frameFormat = static_cast<uint32_t>(number);
        } else {
            *error = "unknown option " + name;
            return false;
        }
        if (!ok) {
            *error = "bad value for " + name + (value ? std::string(": ") + value : std::string());
            return false;
        }
        if (takesValue) ++i;
    }
    // Many phones share one coded loop and one loop of polls, which has no room for misbehaviour.
    const bool misbehaves = o.badToken || o.noAnswer || o.closeMidFrame || o.truncateFrame ||
                            o.corruptFrame || o.oversizeFrame || o.announceWidth;
    if (o.devices > 1 && (o.loop == 0 || o.frames != 0 || o.once || misbehaves)) {
        *error = "--devices takes --loop and none of --frames, --once or the misbehaviours";
        return false;
    }
    if (o.devices > 1 && o.port != 0 && o.port + o.devices - 1 > 65535) {
        *error = "--devices from --port run past port 65535";
        return false;
    }
    *options = o;
    return true;
}
