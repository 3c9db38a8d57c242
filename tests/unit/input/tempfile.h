#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/testsystem.h"

// A temporary file that goes away with the test.
class TempFile {
public:
    explicit TempFile(const std::string& text) : path_(testsystem::makeTempFile("qx-input")) {
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    std::string read() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};
