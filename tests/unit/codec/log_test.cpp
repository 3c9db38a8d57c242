#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>

#include "codec/include/zrc.h"
#include "codec/logpath.h"
#include "tests/support/testsystem.h"
#include "tests/unit/codec/logcapture.h"

namespace {

TEST(CodecLog, ThresholdComesFromLogLevel) {
    struct Case {
        const char* value;  // nullptr: unset
        int level;
        bool written;
    };
    const Case cases[] = {
        {nullptr, 39, false}, {nullptr, 38, true}, {"", 38, true},    {"", 39, false},    {"7", 39, true},
        {"3", 35, true},      {"3", 36, false},    {"abc", 32, true}, {"abc", 33, false},
    };
    for (const Case& c : cases) {
        if (c.value == nullptr) {
            testsystem::unsetEnv("LOG_LEVEL");
        } else {
            testsystem::setEnv("LOG_LEVEL", c.value);
        }
        zrctest::LogCapture log;
        const int n = zrc_log(c.level, "%s: line %d", "ZRC", c.level);
        EXPECT_EQ(n > 0, c.written) << (c.value ? c.value : "unset") << " " << c.level;
        EXPECT_EQ(n == 0, !c.written);
        EXPECT_EQ(log.contains("ZRC: line"), c.written);
    }
    testsystem::unsetEnv("LOG_LEVEL");
}

TEST(CodecLog, LineCarriesTimeSeverityAndFacility) {
    testsystem::setEnv("LOG_LEVEL", "7");
    zrctest::LogCapture log;
    const int n = zrc_log(38, "%s: Single CPU core mode", "ZRC");
    zrc_log(36, "%s: w", "ZRC");
    zrc_log(7, "%s: d", "ZRC");
    zrc_log(22, "%s: s", "ZRC");
    testsystem::unsetEnv("LOG_LEVEL");
    const std::string text = log.text();
    const std::regex first(
        R"(^\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2}\.\d{3} INFO USER ZRC: Single CPU core mode\n)");
    EXPECT_TRUE(std::regex_search(text, first)) << text;
    EXPECT_EQ(n, static_cast<int>(text.find('\n')) + 1);
    EXPECT_NE(text.find(" WARNING USER ZRC: w\n"), std::string::npos);
    EXPECT_NE(text.find(" DEBUG UNKOWN ZRC: d\n"), std::string::npos);
    EXPECT_NE(text.find(" INFO SYSTEM ZRC: s\n"), std::string::npos)
        << "only SYSTEM ERROR gets the error text";
}

TEST(CodecLog, SystemErrorAppendsTheSavedErrorText) {
    zrctest::LogCapture log;
    errno = ENOENT;
    zrc_log(ZRC_LOG_SYSTEM_ERROR, "%s: open failed", "ZRC");
    const std::string expected =
        std::string("ERROR SYSTEM ZRC: open failed error=2, ") + std::strerror(ENOENT) + "\n";
    EXPECT_NE(log.text().find(expected), std::string::npos) << log.text();
}

TEST(CodecLog, FileIsNamedAfterTheExecutable) {
    struct Case {
        const char* exe;
        const char* log;
    };
    const Case cases[] = {
        {"/apps/viewer.exe", "/apps/viewer.log"},
        {"/apps/viewer", "/apps/viewer.log"},
        {"/opt/tool.d/viewer", "/opt/tool.d/viewer.log"},
        {"/opt/tool.d/viewer.bin", "/opt/tool.d/viewer.log"},
        {"/home/u/.hidden", "/home/u/.hidden.log"},
        {"viewer.x.y", "viewer.x.log"},
#ifdef _WIN32
        {"C:\\apps\\viewer.exe", "C:\\apps\\viewer.log"},
        {"C:\\tool.d\\viewer", "C:\\tool.d\\viewer.log"},
        {"C:\\apps/tool.d\\viewer", "C:\\apps/tool.d\\viewer.log"},
#endif
    };
    for (const Case& c : cases)
        EXPECT_EQ(zrc::logPathForExecutable(c.exe), c.log) << c.exe;
}

TEST(CodecLog, UnusableFileIsReported) {
    EXPECT_EQ(zrc_set_log_file("/nonexistent-dir/zrc.log"), -1);
    zrctest::LogCapture log;
    namespace fs = std::filesystem;
    fs::permissions(log.path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // root (and wine run as root) may write to it all the same.
    FILE* probe = std::fopen(log.path().c_str(), "a");
    const bool mayWriteAnyway = probe != nullptr;
    if (probe) std::fclose(probe);
    if (!mayWriteAnyway) {
        EXPECT_EQ(zrc_log(38, "%s: x", "ZRC"), -2);
    }
    fs::permissions(log.path(), fs::perms::owner_write, fs::perm_options::add);
    // A folder cannot be opened for appending.
    ASSERT_EQ(zrc_set_log_file(fs::temp_directory_path().string().c_str()), -1);
}

}  // namespace
