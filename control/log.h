#pragma once

#include "platform/printfformat.h"

// The process-wide log: one call appends one stamped line to the log file.

enum LogSeverity {
    SEV_EMERG = 0,
    SEV_ALERT,
    SEV_CRIT,
    SEV_ERROR,
    SEV_WARNING,
    SEV_NOTICE,
    SEV_INFO,
    SEV_DEBUG
};
enum LogFacility { FAC_SYSTEM = 16, FAC_USER = 32 };

// The six levels the client uses (int{} because C++20 deprecates arithmetic between two enumerations).
constexpr int LOG_SYSTEM_ERROR = int{FAC_SYSTEM} + SEV_ERROR;  // 19
constexpr int LOG_SYSTEM_INFO = int{FAC_SYSTEM} + SEV_INFO;    // 22
constexpr int LOG_USER_ERROR = int{FAC_USER} + SEV_ERROR;      // 35
constexpr int LOG_USER_WARNING = int{FAC_USER} + SEV_WARNING;  // 36
constexpr int LOG_USER_INFO = int{FAC_USER} + SEV_INFO;        // 38
constexpr int LOG_USER_DEBUG = int{FAC_USER} + SEV_DEBUG;      // 39

// Appends one line to the log file; 0 when written, -2 when the file could not be opened.
// The file is platform::logFilePath(), looked up for every line. A line longer than the line buffer is cut
// short. Safe from any thread: each line goes out in one append.
int log_write(int level, const char* format, ...) QX_PRINTF_FORMAT(2, 3);
