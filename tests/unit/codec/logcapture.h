#ifndef TESTS_UNIT_CODEC_LOGCAPTURE_H
#define TESTS_UNIT_CODEC_LOGCAPTURE_H

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "codec/include/zrc.h"
#include "tests/support/testsystem.h"

namespace zrctest {

// Points the codec log at a fresh file for one test and reads it back.
class LogCapture {
public:
    LogCapture() : path_(testsystem::makeTempFile("zrc-log")) { zrc_set_log_file(path_.c_str()); }
    ~LogCapture() { std::remove(path_.c_str()); }

    std::string text() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }
    int count(const std::string& part) const {
        const std::string all = text();
        int n = 0;
        for (size_t at = all.find(part); at != std::string::npos; at = all.find(part, at + 1))
            ++n;
        return n;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace zrctest

#endif
