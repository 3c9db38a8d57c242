#include "avc/avclog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex logMutex;
std::string logFile = "mftavc.log";  // guarded by logMutex

}  // namespace

void avclogSetFolder(const char* folder) {
    std::string path = folder ? folder : "";
#ifdef _WIN32
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '\\';
#else
    if (!path.empty() && path.back() != '/') path += '/';
#endif
    std::lock_guard<std::mutex> lock(logMutex);
    logFile = path + "mftavc.log";
}

void avclog(const char* format, ...) {
    std::lock_guard<std::mutex> lock(logMutex);
    FILE* file = fopen(logFile.c_str(), "a");
    if (!file) return;
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}
