#include "platform/paths.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/testsystem.h"

namespace {

using namespace platform;

// The environment names the files; without it they sit on drive E: when the machine has one (Windows), else
// in the working directory.
TEST(Paths, EnvironmentOverridesTheDefaultPlace) {
    const bool onE = std::string(avcLogFolder()) == "E:\\";
    if (!onE) {
        EXPECT_STREQ(avcLogFolder(), "");
    }
    struct Case {
        const char* variable;
        std::string (*path)();
        const char* onE;
        const char* here;
    };
    const Case cases[] = {
        {"QX_LOG_FILE", logFilePath, "e:\\qx-native-client.log", "qx-native-client.log"},
        {"QX_KEYMAP_FILE", keymapFilePath, "e:\\test.txt", "test.txt"},
    };
    for (const Case& c : cases) {
        testsystem::setEnv(c.variable, "elsewhere/file.txt");
        EXPECT_EQ(c.path(), "elsewhere/file.txt") << c.variable;
        testsystem::setEnv(c.variable, "");
        EXPECT_EQ(c.path(), onE ? c.onE : c.here) << c.variable << " empty";
        testsystem::unsetEnv(c.variable);
        EXPECT_EQ(c.path(), onE ? c.onE : c.here) << c.variable << " unset";
    }
}

}  // namespace
