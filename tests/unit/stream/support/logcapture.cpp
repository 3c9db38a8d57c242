#include "tests/unit/stream/support/logcapture.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

LogCapture::LogCapture() {
    char path[] = "/tmp/qx-stream-log-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    path_ = path;
    setenv("QX_LOG_FILE", path_.c_str(), 1);
}

LogCapture::~LogCapture() {
    unsetenv("QX_LOG_FILE");
    unlink(path_.c_str());
}

std::string LogCapture::text() const {
    std::ifstream in(path_);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int LogCapture::count(const std::string& text) const {
    std::istringstream lines(this->text());
    int n = 0;
    for (std::string line; std::getline(lines, line);)
        n += line.find(text) != std::string::npos;
    return n;
}
