#include "control/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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

const char* logPath() {
    const char* path = getenv("QX_LOG_FILE");
    return path && *path ? path : "qx-native-client.log";
}

}  // namespace

int log_write(int level, const char* format, ...) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);

    // Room for the line, its newline and the terminating zero.
    char line[2048 + 1];
    const size_t capacity = sizeof(line) - 1;
    int used = snprintf(line, capacity, "%04u/%02u/%02u-%02u:%02u:%02u.%03u %s%s",
                        static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                        static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                        static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec),
                        static_cast<unsigned>(now.tv_nsec / 1000000), kSeverityNames[level & 7],
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

    // One append per line, so lines of different threads and processes never mix.
    int fd = open(logPath(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -2;
    ssize_t written = write(fd, line, length);
    close(fd);
    (void)written;  // a lost line is not reported: the caller goes on either way
    return 0;
}
