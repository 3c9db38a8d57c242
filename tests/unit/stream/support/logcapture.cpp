#include "tests/unit/stream/support/logcapture.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "tests/support/testsystem.h"

LogCapture::LogCapture() {
    path_ = testsystem::makeTempFile("qx-stream-log");
    testsystem::setEnv("QX_LOG_FILE", path_.c_str());
}

LogCapture::~LogCapture() {
    testsystem::unsetEnv("QX_LOG_FILE");
    std::error_code error;
    std::filesystem::remove(path_, error);
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
