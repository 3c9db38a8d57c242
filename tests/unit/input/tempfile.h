#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// A temporary file that goes away with the test.
class TempFile {
public:
    explicit TempFile(const std::string& text) {
        char name[] = "/tmp/qx-input-XXXXXX";
        int fd = mkstemp(name);
        path_ = name;
        if (fd >= 0) close(fd);
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TempFile() { unlink(path_.c_str()); }
    const std::string& path() const { return path_; }
    std::string read() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};
