// Points the log and the key map at private files and the windows at the headless backend, so device tests
// need no display and leave nothing in the working directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

class DeviceTestEnv : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/qx-device-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        logFile_ = dir_ + "/client.log";
        setenv("QX_LOG_FILE", logFile_.c_str(), 1);
        setenv("QX_KEYMAP_FILE", (dir_ + "/no-keymap.txt").c_str(), 1);
        setenv("QX_WINDOW", "headless", 1);
    }
    void TearDown() override {
        std::remove(logFile_.c_str());
        rmdir(dir_.c_str());
    }

    std::string log() const {
        std::ifstream in(logFile_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string dir_;
    std::string logFile_;
};
