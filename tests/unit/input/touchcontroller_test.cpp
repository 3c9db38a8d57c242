#include "input/touchcontroller.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/testsystem.h"
#include "tests/unit/control/testframes.h"
#include "tests/unit/input/tempfile.h"

namespace {

constexpr int32_t kMove = 0, kUp = 1, kDown = 2;
constexpr size_t kFrameSize = 40;

struct Touch {
    int32_t action, x, y;
    bool operator==(const Touch&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Touch& t) {
    return out << '{' << t.action << ' ' << t.x << ',' << t.y << '}';
}

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// A device end on a real socket pair: the controller writes to one end, the test reads the other.
class TouchSocket : public testing::Test {
protected:
    void SetUp() override { ASSERT_GE(socketValue(pair_.fd[1]), 0); }

    // A controller whose table holds the given key-mapping file.
    std::unique_ptr<TouchController> controller(const std::string& keymap) {
        TempFile file(keymap);
        testsystem::setEnv("QX_KEYMAP_FILE", file.path().c_str());
        auto touch = std::make_unique<TouchController>(pair_.fd[0], 1, 640, 480, &sendMutex_);
        touch->loadConfig();
        testsystem::unsetEnv("QX_KEYMAP_FILE");
        return touch;
    }

    // Everything written so far.
    std::vector<uint8_t> received() {
        // A Unix socket pair holds the bytes at once; the loopback TCP pair of Windows may take a moment.
#ifdef _WIN32
        constexpr int kSettleMs = 200;
#else
        constexpr int kSettleMs = 0;
#endif
        std::vector<uint8_t> bytes;
        net::WaitEntry readable{pair_.fd[1], net::kReadable, 0};
        while (net::waitSockets(&readable, 1, kSettleMs) > 0) {
            const Bytes chunk = readAvailable(pair_.fd[1]);
            if (chunk.empty()) break;
            bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        }
        return bytes;
    }

    // The touches written so far; every frame must be a whole, well-formed touch frame.
    std::vector<Touch> touches() {
        std::vector<uint8_t> bytes = received();
        EXPECT_EQ(bytes.size() % kFrameSize, 0u);
        std::vector<Touch> out;
        for (size_t at = 0; at + kFrameSize <= bytes.size(); at += kFrameSize) {
            const uint8_t* f = bytes.data() + at;
            EXPECT_EQ(be32(f), 0x52434D53u);
            EXPECT_EQ(be32(f + 4), 0x00010000u) << "version 1, reserved 0";
            EXPECT_EQ(be32(f + 8), 28u);
            EXPECT_EQ(be32(f + 12), 111u);
            EXPECT_EQ(be32(f + 16), 0x00010000u);
            EXPECT_EQ(be32(f + 20), 1u);
            EXPECT_EQ(be32(f + 36), 0u);
            out.push_back({static_cast<int32_t>(be32(f + 24)), static_cast<int32_t>(be32(f + 28)),
                           static_cast<int32_t>(be32(f + 32))});
        }
        return out;
    }

    SocketPair pair_;  // the controller writes to fd[0], the test reads fd[1]
    std::mutex sendMutex_;
};

// Record A = {W} tap at P (100, 200); record B = {D, W} tap at Q (300, 400); a slide on S; a record
// that does nothing on X.
const char* const kKeymap =
    "{\nKeycode: 87\nPhonex: 100\nPhoney: 200\nOperationid: 100\n}\n"
    "{\nKeycode: 68\nKeycode: 87\nPhonex: 300\nPhoney: 400\nOperationid: 100\n}\n"
    "{\nKeycode: 83\nPhonex: 0\nPhoney: 10\nEndx: 49\nEndy: -99\nOperationid: 102\n}\n"
    "{\nKeycode: 88\nPhonex: 5\nOperationid: 101\n}\n";
constexpr uint32_t W = 87, D = 68, S = 83, X = 88, A = 65;

// What the window does for WM_KEYDOWN and WM_KEYUP.
bool keyDown(TouchController& touch, uint32_t code) {
    touch.setKeyState(code, true);
    return touch.handleKey(kDown);
}
bool keyUp(TouchController& touch, uint32_t code) {
    bool found = touch.handleKey(kUp);
    touch.setKeyState(code, false);
    return found;
}

TEST_F(TouchSocket, TouchFrameBytes) {
    auto touch = controller("");
    touch->sendTouch(pair_.fd[0], kDown, -2, 0x01020304);
    const std::vector<uint8_t> expected = {0x52, 0x43, 0x4D, 0x53, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                           0x00, 0x1C, 0x00, 0x00, 0x00, 0x6F, 0x00, 0x01, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFF, 0xFF,
                                           0xFF, 0xFE, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(received(), expected);
}

TEST_F(TouchSocket, ReleaseFindsTheRecordOfItsPress) {
    auto touch = controller(kKeymap);
    EXPECT_TRUE(keyDown(*touch, W));
    EXPECT_TRUE(keyDown(*touch, D));
    EXPECT_TRUE(keyUp(*touch, D));
    EXPECT_TRUE(keyUp(*touch, W));
    EXPECT_EQ(touches(),
              (std::vector<Touch>{{kDown, 100, 200}, {kDown, 300, 400}, {kUp, 300, 400}, {kUp, 100, 200}}));
}

TEST_F(TouchSocket, AutoRepeatRunsTheRecordAgain) {
    auto touch = controller(kKeymap);
    keyDown(*touch, W);
    keyDown(*touch, W);
    keyUp(*touch, W);
    EXPECT_EQ(touches(), (std::vector<Touch>{{kDown, 100, 200}, {kDown, 100, 200}, {kUp, 100, 200}}));

    keyDown(*touch, S);
    keyDown(*touch, S);
    EXPECT_EQ(touches().size(), 2 * 53u) << "each repeat sends the whole slide";
}

TEST_F(TouchSocket, UnnamedKeyRunsTheLookupForTheHeldKeys) {
    auto touch = controller(kKeymap);
    keyDown(*touch, W);
    EXPECT_TRUE(keyDown(*touch, A));
    EXPECT_TRUE(keyUp(*touch, A));
    keyUp(*touch, W);
    EXPECT_FALSE(keyDown(*touch, A)) << "no registered key held and no record without keys";
    EXPECT_EQ(touches(),
              (std::vector<Touch>{{kDown, 100, 200}, {kDown, 100, 200}, {kUp, 100, 200}, {kUp, 100, 200}}));
}

TEST_F(TouchSocket, UnknownOperationSendsNothing) {
    auto touch = controller(kKeymap);
    EXPECT_TRUE(keyDown(*touch, X)) << "the record matches";
    EXPECT_TRUE(keyUp(*touch, X));
    EXPECT_TRUE(received().empty());
}

TEST_F(TouchSocket, KeySlideSendsOnPressOnly) {
    auto touch = controller(kKeymap);
    EXPECT_TRUE(keyDown(*touch, S));
    EXPECT_EQ(received().size(), 2120u);
    EXPECT_TRUE(keyUp(*touch, S));
    EXPECT_TRUE(received().empty()) << "a release on a slide record sends nothing";
}

struct SlideCase {
    const char* name;
    int32_t x0, y0, x1, y1;
    int32_t lastMoveX, lastMoveY;  // the moves run in 50 equal steps from the start to here
};

class Slide : public TouchSocket, public testing::WithParamInterface<SlideCase> {};

TEST_P(Slide, SendsDownFiftyOneMovesAndUp) {
    const SlideCase& c = GetParam();
    auto touch = controller("");
    touch->slide(c.x0, c.y0, c.x1, c.y1);
    std::vector<Touch> expected = {{kDown, c.x0, c.y0}};
    const int64_t stepX = (int64_t{c.lastMoveX} - c.x0) / 50, stepY = (int64_t{c.lastMoveY} - c.y0) / 50;
    for (int64_t i = 0; i <= 50; ++i) {
        expected.push_back(
            {kMove, static_cast<int32_t>(c.x0 + stepX * i), static_cast<int32_t>(c.y0 + stepY * i)});
    }
    expected.push_back({kUp, c.x1, c.y1});
    const std::vector<Touch> sent = touches();
    EXPECT_EQ(sent, expected);
    ASSERT_EQ(sent.size(), 53u);
    EXPECT_EQ(sent[51], (Touch{kMove, c.lastMoveX, c.lastMoveY}));
}

INSTANTIATE_TEST_SUITE_P(Cases, Slide,
                         testing::Values(SlideCase{"StepZero", 0, 10, 49, 10, 0, 10},
                                         SlideCase{"TruncatesTowardZero", 0, 0, -99, 0, -50, 0},
                                         SlideCase{"EndAtStart", 7, 8, 7, 8, 7, 8},
                                         SlideCase{"Diagonal", 100, 5000, 1100, 0, 1100, 0},
                                         SlideCase{"FarApartPoints", INT32_MIN, INT32_MAX, INT32_MAX,
                                                   INT32_MIN, INT32_MAX - 45, INT32_MIN + 45}),
                         [](const testing::TestParamInfo<SlideCase>& info) { return info.param.name; });

struct ScaleCase {
    const char* name;
    int32_t x, y, width, height;
    std::vector<Touch> expected;
};

class ScaledTouch : public TouchSocket, public testing::WithParamInterface<ScaleCase> {};

TEST_P(ScaledTouch, SendsWindowPositionsIn65536ths) {
    const ScaleCase& c = GetParam();
    auto touch = controller("");
    touch->sendScaledTouch(pair_.fd[0], kMove, c.x, c.y, c.width, c.height);
    EXPECT_EQ(touches(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScaledTouch,
    testing::Values(ScaleCase{"LeftTopEdge", 0, 0, 640, 480, {{kMove, 0, 0}}},
                    ScaleCase{"Middle", 320, 240, 640, 480, {{kMove, 32768, 32768}}},
                    ScaleCase{"RightBottomEdge", 640, 480, 640, 480, {{kMove, 65536, 65536}}},
                    ScaleCase{"TruncatesTowardZero", -1, 1, 3, 3, {{kMove, -21845, 21845}}},
                    ScaleCase{"FarOutsideTheWindow", 32767, -32768, 1, 1, {{kMove, 32767 << 16, INT32_MIN}}},
                    ScaleCase{"ZeroWidthSendsNothing", 10, 10, 0, 480, {}},
                    ScaleCase{"ZeroHeightSendsNothing", 10, 10, 640, 0, {}}),
    [](const testing::TestParamInfo<ScaleCase>& info) { return info.param.name; });

TEST_F(TouchSocket, WaitsForTheDeviceWriteLock) {
    auto touch = controller("");
    std::unique_lock<std::mutex> forwarding(sendMutex_);
    std::thread window([&] { touch->sendTouch(pair_.fd[0], kDown, 1, 2); });
    net::WaitEntry readable{pair_.fd[1], net::kReadable, 0};
    EXPECT_EQ(net::waitSockets(&readable, 1, 100), 0)
        << "a touch went out while another frame was being written";
    forwarding.unlock();
    window.join();
    EXPECT_EQ(touches(), (std::vector<Touch>{{kDown, 1, 2}}));
}

}  // namespace
