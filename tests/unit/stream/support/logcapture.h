// Points the client's log at a fresh file for one test and reads back what was written.
#pragma once

#include <string>

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const;
    // Lines that contain text.
    int count(const std::string& text) const;

private:
    std::string path_;
};
