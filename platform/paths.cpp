#include "platform/paths.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace {

// Whether the files sit at the root of drive E:, asked once: a drive does not come and go under a running
// client, and the log asks for every line.
bool onDriveE() {
#ifdef _WIN32
    static const bool present = [] {
        const DWORD attributes = GetFileAttributesA("E:\\");
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }();
    return present;
#else
    return false;
#endif
}

std::string fromEnvironment(const char* variable, const char* onE, const char* here) {
    const char* path = std::getenv(variable);
    if (path && *path) return path;
    return onDriveE() ? onE : here;
}

}  // namespace

std::string logFilePath() {
    return fromEnvironment("QX_LOG_FILE", "e:\\qx-native-client.log", "qx-native-client.log");
}

std::string keymapFilePath() {
    return fromEnvironment("QX_KEYMAP_FILE", "e:\\test.txt", "test.txt");
}

const char* avcLogFolder() {
    return onDriveE() ? "E:\\" : "";
}

}  // namespace platform
