// The codec's own logger: one appended line per call, filtered by LOG_LEVEL, so the library works alone.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "codec/include/zrc.h"
#include "codec/logpath.h"

namespace {

constexpr size_t kPathSize = 1024;
constexpr size_t kExePathMax = 1017;
constexpr size_t kLineSize = 4096;

std::mutex path_mutex;
char log_path[kPathSize];  // guarded by path_mutex

int threshold() {
    const char* value = std::getenv("LOG_LEVEL");
    if (value == nullptr || value[0] == '\0') return 6;
    return static_cast<int>(std::strtol(value, nullptr, 10));
}

const char* severityName(int severity) {
    static const char* const names[] = {"EMERG ",   "ALERT ",  "CRIT ", "ERROR ",
                                        "WARNING ", "NOTICE ", "INFO ", "DEBUG "};
    return names[severity];
}

const char* facilityName(int facility) {
    if (facility == 16) return "SYSTEM ";
    if (facility == 32) return "USER ";
    return "UNKOWN ";
}

// Copies the log path into `out`, making it from the executable's path on first use. False when no name
// can be had.
bool currentLogPath(char* out) {
    std::lock_guard<std::mutex> lock(path_mutex);
    if (log_path[0] == '\0') {
        char exe[kExePathMax + 1];
#ifdef _WIN32
        const DWORD n = GetModuleFileNameA(nullptr, exe, kExePathMax);
        if (n == 0 || n >= kExePathMax) return false;  // a cut name would name another file
#else
        ssize_t n = readlink("/proc/self/exe", exe, kExePathMax);
        if (n <= 0) return false;
#endif
        std::string name = zrc::logPathForExecutable(std::string(exe, static_cast<size_t>(n)));
        std::snprintf(log_path, kPathSize, "%s", name.c_str());
    }
    std::memcpy(out, log_path, kPathSize);
    return true;
}

}  // namespace

namespace zrc {

std::string logPathForExecutable(const std::string& exe) {
#ifdef _WIN32
    size_t slash = exe.find_last_of("/\\");
#else
    size_t slash = exe.rfind('/');
#endif
    size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = exe.rfind('.');
    std::string base = exe;
    // A dot in a folder name or a leading dot of the file name is not an extension.
    if (dot != std::string::npos && dot > name_start) base.resize(dot);
    return base + ".log";
}

}  // namespace zrc

extern "C" int zrc_log(int level, const char* format, ...) {
    const int saved_errno = errno;
    const int severity = level & 7;
    const int facility = level & 0x78;
    if (threshold() < severity) return 0;

    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif

    char line[kLineSize];
    int used =
        std::snprintf(line, sizeof line, "%04u/%02u/%02u-%02u:%02u:%02u.%03u %s%s",
                      static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                      static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec),
                      static_cast<unsigned>(millis), severityName(severity), facilityName(facility));
    va_list args;
    va_start(args, format);
    used += std::vsnprintf(line + used, sizeof line - static_cast<size_t>(used), format, args);
    va_end(args);
    if (facility == 16 && severity == 3 && used > 0 && static_cast<size_t>(used) < sizeof line) {
        const char* text = std::strerror(saved_errno);
        if (text != nullptr) {
            std::snprintf(line + used, sizeof line - static_cast<size_t>(used), " error=%ld, %s",
                          static_cast<long>(saved_errno), text);
        }
    }

    char path[kPathSize];
    if (!currentLogPath(path)) return -1;
    FILE* file = std::fopen(path, "a+");
    if (file == nullptr) return -2;
    int written = std::fprintf(file, "%s\n", line);
    std::fflush(file);
    std::fclose(file);
    return written;
}

extern "C" int zrc_set_log_file(const char* path) {
    if (path == nullptr) return -1;
    FILE* file = std::fopen(path, "a+");
    if (file == nullptr) return -1;
    std::fclose(file);
    std::lock_guard<std::mutex> lock(path_mutex);
    std::snprintf(log_path, kPathSize, "%s", path);
    return 0;
}
