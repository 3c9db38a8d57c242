// Command-line settings of the device simulator.
#pragma once

#include <cstdint>
#include <string>

struct DevsimOptions {
    // How much of the synthetic screen changes from picture to picture.
    enum class Motion { Scroll, Area, Clock };

    uint16_t port = 5555;  // always on 127.0.0.1
    bool once = false;     // serve one connection, then exit
    int32_t devices = 1;   // phones served by this process, each on a port of its own (from port up, or free)
    // Stream.
    std::string codec = "h264";  // "h264" or "zrc"
    int32_t width = 720;
    int32_t height = 1280;
    int32_t fps = 30;
    int64_t frames = 0;                // pictures per connection; 0: until the client leaves
    int64_t loop = 0;                  // code this many pictures once and send them over and over
    std::string source = "synthetic";  // "synthetic", "png:DIR" or "video:FILE"
    uint32_t accent = 0x2A7FD4;        // synthetic screen: status bar colour, 0xRRGGBB
    Motion motion = Motion::Scroll;    // synthetic screen: what moves
    std::string sendLog;               // file that records when each picture left, for latency figures
    // ZRC settings.
    uint32_t quality = 2;
    uint32_t matrix = 8;
    uint32_t frameFormat = 0x8E;
    int64_t absoluteEvery = 0;  // an absolute frame every N pictures; 0: only the first
    // Misbehaviour, for tests. Picture numbers count from 1.
    bool badToken = false;      // echo a different token
    bool noAnswer = false;      // read the SYN, never answer
    int64_t closeMidFrame = 0;  // send half of picture N, then close
    int64_t truncateFrame = 0;  // picture N announces its length but carries only half of it
    int64_t corruptFrame = 0;   // every Nth picture has its payload scrambled
    int64_t oversizeFrame = 0;  // picture N is larger than any frame the client can take
    int32_t announceWidth = 0;  // the config frame announces this size instead of the real one
    int32_t announceHeight = 0;
};

// Reads argv into *options; false with a message in *error on a bad or unknown option.
bool parseDevsimOptions(int argc, const char* const* argv, DevsimOptions* options, std::string* error);

// The option summary printed by --help and after a bad option.
const char* devsimUsage();
