// Points the log and the key map at private files and the windows at the headless backend, so device tests
// need no display and leave nothing in the working directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/testsystem.h"

class DeviceTestEnv : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testsystem::makeTempDir("qx-device-test");
        ASSERT_TRUE(std::filesystem::is_directory(dir_));
        logFile_ = dir_ + "/client.log";
        testsystem::setEnv("QX_LOG_FILE", logFile_.c_str());
        testsystem::setEnv("QX_KEYMAP_FILE", (dir_ + "/no-keymap.txt").c_str());
        testsystem::setEnv("QX_WINDOW", "headless");
    }
    void TearDown() override {
        std::error_code error;
        std::filesystem::remove_all(dir_, error);
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
