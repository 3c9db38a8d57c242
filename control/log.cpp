#include "control/log.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/paths.h"

namespace {

constexpr const char* kSeverityNames[8] = {"EMERG ",   "ALERT ",  "CRIT ", "ERROR ",
                                           "WARNING ", "NOTICE ", "INFO ", "DEBUG "};

const char* facilityName(int level) {
    switch (level & 0x78) {
        case FAC_SYSTEM:
            return "SYSTEM ";
        case FAC_USER:
            return "USER ";
        default:
            return "UNKNOWN ";
    }
}

struct LocalTime {
    unsigned year, month, day, hour, minute, second, millisecond;
};

// The wall clock in local time, to the millisecond.
LocalTime localNow() {
#ifdef _WIN32
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
#else
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return {static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
            static_cast<unsigned>(local.tm_mday),        static_cast<unsigned>(local.tm_hour),
            static_cast<unsigned>(local.tm_min),         static_cast<unsigned>(local.tm_sec),
            static_cast<unsigned>(now.tv_nsec / 1000000)};
#endif
}

// Appends the line in one write, so that lines of different threads and processes never mix; false when
// the file cannot be opened.
bool appendLine(const std::string& path, const char* line, size_t length) {
#ifdef _WIN32
    // Append-only access makes every write land at the end of the file, whoever else writes to it.
    HANDLE file =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
#else
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ssize_t written = write(fd, line, length);
    close(fd);
    (void)written;
#endif
    // A lost line is not reported: the caller goes on either way.
    return true;
}

}  // namespace

int log_write(int level, const char* format, ...) {
    const LocalTime now = localNow();

    // Room for the line, its newline and the terminating zero.
    char line[2048 + 1];
    const size_t capacity = sizeof(line) - 1;
    int used = snprintf(line, capacity, "%04u/%02u/%02u-%02u:%02u:%02u.%03u %s%s", now.year, now.month,
                        now.day, now.hour, now.minute, now.second, now.millisecond, kSeverityNames[level & 7],
                        facilityName(level));
    size_t length = used < 0 ? 0 : static_cast<size_t>(used);
    if (length < capacity) {
        va_list args;
        va_start(args, format);
        int message = vsnprintf(line + length, capacity - length, format, args);
        va_end(args);
        if (message > 0) length += static_cast<size_t>(message);
    }
    if (length > capacity - 1) length = capacity - 1;  // cut short: the line keeps its place in the file
    line[length++] = '\n';

    return appendLine(platform::logFilePath(), line, length) ? 0 : -2;
}
