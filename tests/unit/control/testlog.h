#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/testsystem.h"

// Points the process log at a fresh temporary file for the lifetime of the object and reads it back.
class TestLog {
public:
    TestLog() : path_(testsystem::makeTempFile("qx-test-log")) {
        testsystem::setEnv("QX_LOG_FILE", path_.c_str());
    }
    ~TestLog() { std::remove(path_.c_str()); }
    TestLog(const TestLog&) = delete;
    TestLog& operator=(const TestLog&) = delete;

    const std::string& path() const { return path_; }
    std::string text() const {
        std::ifstream in(path_);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    int count(const std::string& needle) const {
        const std::string all = text();
        int n = 0;
        for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
            ++n;
        return n;
    }
    bool contains(const std::string& needle) const { return count(needle) > 0; }

private:
    std::string path_;
};
