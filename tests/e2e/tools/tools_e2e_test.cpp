// zrctool, qxctl and qx-devsim run as a user runs them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/system/childprocess.h"
#include "tests/unit/codecenc/screenpicture.h"
#include "tools/zrctool/pictureio.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Outcome {
    int code = -1;
    std::vector<std::string> lines;

    bool says(const std::string& text) const {
        for (const std::string& line : lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
};

// Runs a program to its end (a generous limit: the machine may be busy) with its output.
Outcome run(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess child(program, args, {"QX_LOG_FILE=/dev/null"});
    Outcome r;
    r.code = child.exitCode(60s);
    child.waitForLine([](const std::string&) { return false; }, 60s);  // until the output has ended
    r.lines = child.lines();
    return r;
}

// A folder of its own under the temporary folder, removed at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        path_ = fs::temp_directory_path() / ("qx-tools-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

void writePicture(const std::string& path, const zrctest::ScreenPicture& screen) {
    Picture picture{screen.width(), screen.height(), screen.pixels()};
    std::string error;
    ASSERT_TRUE(writePng(path, picture, &error)) << error;
}

TEST(ToolsE2e, HelpExitsZeroAndUsageErrorsHaveTheirOwnCode) {
    struct Case {
        const char* program;
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {QX_ZRCTOOL, {"--help"}, 0, "usage: zrctool"},
        {QX_ZRCTOOL, {}, 2, "usage: zrctool"},
        {QX_ZRCTOOL, {"encode", "--quality", "9", "-o", "x.zrc", "a.png"}, 2, "bad value for --quality"},
        {QX_ZRCTOOL, {"dump", "/nonexistent/file.zrc"}, 1, "cannot read"},
        {QX_QXCTL, {"--help"}, 0, "usage: qxctl"},
        {QX_QXCTL, {"--client"}, 3, "usage: qxctl"},
        {QX_QXCTL, {"--client", "127.0.0.1:http", "exit"}, 3, "bad client address"},
        {QX_QXCTL, {"--client", "127.0.0.1:1", "frobnicate", "1"}, 3, "usage: qxctl"},
        {QX_QXCTL, {"--client", "127.0.0.1:1", "exit"}, 2, "cannot reach the client"},
        {QX_DEVSIM, {"--help"}, 0, "usage: qx-devsim"},
        {QX_DEVSIM, {"--matrix", "4"}, 2, "bad value for --matrix"},
        {QX_DEVSIM,
         {"--codec", "zrc", "--frame-format", "0x84", "--matrix", "16"},
         1,
         "frame format 0x84 cannot be coded with matrix 16"},
    };
    for (const Case& c : cases) {
        std::string line = c.program;
        for (const std::string& a : c.args)
            line += " " + a;
        SCOPED_TRACE(line);
        const Outcome r = run(c.program, c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.says(c.says));
    }
}

// Pictures 0, 1, 1, 1, 2 and 3, each far from the others: the first repeat only refines picture 1, the
// second adds no frame, and every frame is measured against the picture that made it. Decoding into a
// folder that does not exist yet makes it.
TEST(ToolsE2e, ZrctoolPairsFramesWithTheirPicturesAndDecodesIntoANewFolder) {
    ScratchFolder scratch;
    const std::string shots = scratch / "shots";
    fs::create_directories(shots);
    zrctest::ScreenPicture screen(160, 96, 5);
    const int steps[] = {0, 1, 1, 1, 2, 3};
    for (int k = 0; k < 6; ++k) {
        screen.draw(steps[k]);
        if (steps[k] > 0) screen.scribble(0.4, steps[k]);
        writePicture(shots + "/shot-" + std::to_string(k) + ".png", screen);
    }
    const std::string frames = scratch / "screen.zrc";
    Outcome r = run(QX_ZRCTOOL, {"encode", "--quality", "0", "--format", "0x8C", "-o", frames, shots});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.says("shot-3.png: no change, no frame"));
    EXPECT_TRUE(r.says("6 pictures, 5 frames"));

    r = run(QX_ZRCTOOL, {"stats", frames, "--source", shots});
    ASSERT_EQ(r.code, 0);
    int measured = 0;
    for (const std::string& line : r.lines) {
        const size_t at = line.find("psnr ");
        if (line.rfind("frame ", 0) != 0 || at == std::string::npos) continue;
        ++measured;
        EXPECT_GT(std::atof(line.c_str() + at + 5), 30.0) << line;
    }
    EXPECT_EQ(measured, 5);

    const std::string folder = scratch / "decoded/pictures";
    r = run(QX_ZRCTOOL, {"decode", frames, "-o", folder});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.says("5 pictures written"));
    EXPECT_TRUE(fs::exists(folder + "/frame-000004.png"));
    // A folder that cannot be made is a failure, with the reason.
    r = run(QX_ZRCTOOL, {"decode", frames, "-o", frames + "/inside"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.says(frames + "/inside"));
}

}  // namespace
