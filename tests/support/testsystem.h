// The few operating-system services the unit tests need, the same on Linux and Windows: environment
// variables and fresh temporary files and folders.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace testsystem {

inline void setEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

inline void unsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");  // an empty value removes the variable
#else
    unsetenv(name);
#endif
}

// A path in the temporary folder that nothing uses yet, named stem-<random>.
inline std::string freshTempPath(const std::string& stem) {
    static std::random_device random;
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (;;) {
        std::filesystem::path path = folder / (stem + "-" + std::to_string(random()));
        std::error_code error;
        if (!std::filesystem::exists(path, error)) return path.string();
    }
}

// A new empty file; its path.
inline std::string makeTempFile(const std::string& stem) {
    std::string path = freshTempPath(stem);
    std::ofstream(path, std::ios::binary);
    return path;
}

// A new empty folder; its path.
inline std::string makeTempDir(const std::string& stem) {
    std::string path = freshTempPath(stem);
    std::error_code error;
    std::filesystem::create_directory(path, error);
    return path;
}

}  // namespace testsystem
