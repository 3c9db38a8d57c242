// Names the calling thread, so that a debugger, a profiler or `top -H` shows which device's thread is busy.
#pragma once

namespace platform {

// At most 15 characters are kept on Linux. On Windows versions without SetThreadDescription (before
// Windows 10 1607, and wine) the thread keeps no name.
void setThreadName(const char* name);

}  // namespace platform
