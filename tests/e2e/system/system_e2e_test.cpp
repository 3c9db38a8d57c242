// The whole system as a person uses it: the client process on an X display, simulated phones (qx-devsim)
// and the controller command line (qxctl), each a real process talking over loopback TCP.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/sockets.h"
#include "tests/e2e/system/childprocess.h"
#include "tests/e2e/system/xscreen.h"
#include "tools/qx-devsim/syntheticscreen.h"

namespace {

using namespace std::chrono_literals;
using Window = XScreen::WindowId;

constexpr int kPhoneWidth = 360;
constexpr int kPhoneHeight = 640;
constexpr uint32_t kOrange = 0xD4552A;
constexpr uint32_t kBlue = 0x2A7FD4;

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

uint16_t freePort() {
    const SOCKET probe = TCPListen("127.0.0.1", 0);
    sockaddr_in address{};
    socklen_t size = sizeof(address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    close(probe);
    return ntohs(address.sin_port);
}

bool near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
            tolerance)
            return false;
    }
    return true;
}

// Resident memory of a process in kB.
long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            break;
        }
    }
    return value;
}

struct Phone {
    std::unique_ptr<ChildProcess> process;
    uint16_t port = 0;
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

struct Reply {
    int exitCode;
    std::string output;
};

// The same cases drive the Windows client under wine when QX_E2E_WINDOWS_CLIENT holds the command that starts
// it (blank-separated words: scripts/wine-run, a wine prefix, the .exe); the prefix's one wineserver serves
// the whole program.
struct WineClient {
    std::vector<std::string> command;
    WineClient() {
        const char* words = std::getenv("QX_E2E_WINDOWS_CLIENT");
        std::istringstream in(words ? words : "");
        for (std::string word; in >> word;)
            command.push_back(word);
    }
    bool used() const { return command.size() >= 3; }
    // Starts (or stops) the prefix's wineserver, with wine's X11 driver on this program's display.
    bool server(const char* what) const {
        const std::string line = "WINE_GRAPHICS=x11 " + command[0] + " " + command[1] + " " + what;
        return std::system(line.c_str()) == 0;
    }
};

class SystemE2e : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (WineClient().used() && std::getenv("DISPLAY")) {
            ASSERT_TRUE(WineClient().server("--start"));
        }
    }
    static void TearDownTestSuite() {
        if (WineClient().used() && std::getenv("DISPLAY")) WineClient().server("--stop");
    }

    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display (run under scripts/run-under-xvfb --wm)";
        ASSERT_TRUE(screen_.ok());
        port_ = freePort();
        logFile_ = "/tmp/qx-system-e2e-" + std::to_string(getpid()) + ".log";
        const std::string address = "127.0.0.1:" + std::to_string(port_);
        const WineClient wine;
        std::vector<std::string> args(wine.command.begin() + (wine.used() ? 1 : 0), wine.command.end());
        args.push_back(address);
        client_ = std::make_unique<ChildProcess>(wine.used() ? wine.command[0] : std::string(QX_CLIENT), args,
                                                 environment());
        ASSERT_TRUE(client_->started());
        // The control channel takes one controller at a time: probe with a connection that closes at once.
        ASSERT_TRUE(eventually(
            [&] {
                const SOCKET s = TCPConnect(port_, "127.0.0.1");
                if (s >= 0) close(s);
                return s >= 0;
            },
            30000ms));
    }
    virtual std::vector<std::string> environment() const {
        return {"QX_WINDOW=x11", "QX_LOG_FILE=" + logFile_, std::string("QX_KEYMAP_FILE=") + QX_KEYMAP};
    }
    void TearDown() override {
        client_.reset();
        std::remove(logFile_.c_str());
    }

    Phone phone(std::vector<std::string> args) {
        Phone p;
        args.insert(args.begin(), {"--port", "0", "--size", "360x640", "--fps", "20"});
        p.process = std::make_unique<ChildProcess>(QX_DEVSIM, args);
        const std::string line = p.process->waitForText("listening on 127.0.0.1:", 5000ms);
        EXPECT_FALSE(line.empty()) << "the simulator did not start";
        if (!line.empty()) p.port = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
        return p;
    }

    // Runs qxctl with the script on its standard input.
    Reply qxctl(const std::string& script) {
        const std::string file = "/tmp/qx-system-e2e-script-" + std::to_string(getpid());
        std::ofstream(file) << script;
        const std::string command =
            std::string(QX_QXCTL) + " --client 127.0.0.1:" + std::to_string(port_) + " < " + file + " 2>&1";
        Reply reply{-1, ""};
        if (FILE* out = popen(command.c_str(), "r")) {
            char chunk[256];
            while (fgets(chunk, sizeof(chunk), out))
                reply.output += chunk;
            const int status = pclose(out);
            reply.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::remove(file.c_str());
        return reply;
    }

    std::string connect(const Phone& p, int x, int y = 40) {
        return qxctl("connect " + p.address() + " " + std::to_string(x) + " " + std::to_string(y) + " " +
                     std::to_string(kPhoneWidth) + " " + std::to_string(kPhoneHeight) + "\n")
            .output;
    }

    // The device windows once there are n of them, left to right.
    std::vector<Window> windows(size_t n) {
        std::vector<Window> found;
        EXPECT_TRUE(eventually([&] { return (found = screen_.deviceWindows()).size() == n; }))
            << found.size() << " windows instead of " << n;
        return found;
    }

    static void xdotool(const std::string& arguments) {
        ASSERT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
    }
    // Gives w the keyboard through the window manager, as a click on it would: wine takes the focus only when
    // the window manager hands it over (WM_TAKE_FOCUS), and then on the window's own thread, so under wine a
    // key typed at once could still reach the window that had the focus before.
    void focus(Window w) {
        xdotool("windowactivate --sync " + std::to_string(w));
        if (WineClient().used()) std::this_thread::sleep_for(500ms);
    }
    // Taps Space (mapped to a tap in the middle) in w until its phone has seen the touch down. Under wine a
    // key typed while the focus is still on its way may be lost, and is typed again; one that went to another
    // window would show in that phone's touches.
    bool tapSpace(Window w, Phone& p) {
        const size_t before = p.process->countLines("touch down");
        for (int attempt = 0; attempt < 5; ++attempt) {
            focus(w);
            xdotool("key space");
            if (eventually([&] { return p.process->countLines("touch down") > before; }, 3000ms)) return true;
        }
        return false;
    }

    // The picture number a simulated phone shows in a window of the phone's own size.
    uint32_t shownNumber(Window w) {
        const SyntheticScreen::Layout l = SyntheticScreen::layout(kPhoneWidth, kPhoneHeight);
        uint32_t n = 0;
        for (int i = 0; i < SyntheticScreen::kNumberCells; ++i) {
            const uint32_t rgb =
                screen_.windowPixel(w, l.x + i * l.cellWidth + l.cellWidth / 2, l.y + l.cellHeight / 2);
            n = (n << 1) | (((rgb >> 8) & 0xFF) > 128 ? 1 : 0);
        }
        return n;
    }
    // The window shows the phone's accent colour and a picture number that moves on.
    void expectStreaming(Window w, uint32_t accent) {
        EXPECT_TRUE(eventually([&] { return near(screen_.windowPixel(w, 3, 3), accent, 32); }, 10000ms))
            << std::hex << screen_.windowPixel(w, 3, 3) << " instead of " << accent;
        const uint32_t before = shownNumber(w);
        EXPECT_TRUE(eventually([&] { return shownNumber(w) != before; }, 5000ms))
            << "the picture stands still";
    }

    XScreen screen_;
    uint16_t port_ = 0;
    std::string logFile_;
    std::unique_ptr<ChildProcess> client_;
};

TEST_F(SystemE2e, TwoPhonesStreamSideBySide) {
    Phone zrc = phone({"--codec", "zrc", "--accent", "D4552A"});
    Phone h264 = phone({"--codec", "h264", "--accent", "2A7FD4"});
    EXPECT_EQ(connect(zrc, 40), "502 status 0 id 1\n");
    EXPECT_EQ(connect(h264, 420), "502 status 0 id 2\n");
    const std::vector<Window> w = windows(2);
    ASSERT_EQ(w.size(), 2u);
    expectStreaming(w[0], kOrange);
    expectStreaming(w[1], kBlue);
}

TEST_F(SystemE2e, KeysAndDragsReachOnlyTheirOwnPhone) {
    Phone left = phone({"--accent", "D4552A"});
    Phone right = phone({"--accent", "2A7FD4"});
    connect(left, 40);
    connect(right, 420);
    const std::vector<Window> w = windows(2);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_TRUE(tapSpace(w[0], left));
    EXPECT_FALSE(left.process->waitForText("touch down x=32768 y=32768", 5000ms).empty());
    EXPECT_FALSE(left.process->waitForText("touch up x=32768 y=32768", 5000ms).empty());
    // A drag: positions in 65536ths of the window (100 of 360 across, 100 of 640 down).
    const std::string id = std::to_string(w[1]);
    xdotool("mousemove --sync --window " + id + " 100 100 mousedown 1 mousemove --sync --window " + id +
            " 200 300 mouseup 1");
    EXPECT_FALSE(right.process->waitForText("touch down x=18204 y=10240", 5000ms).empty());
    EXPECT_FALSE(right.process->waitForText("touch move x=36408 y=30720", 5000ms).empty());
    EXPECT_FALSE(right.process->waitForText("touch up", 5000ms).empty());
    EXPECT_EQ(left.process->countLines("touch"), 2u);
    EXPECT_EQ(right.process->countLines("touch down"), 1u);
    // A forwarded message reaches the device named, with the controller's words.
    EXPECT_EQ(qxctl("forward 110 3 2\n").output, "forwarded 110\n");
    EXPECT_FALSE(right.process->waitForText("frame reserved 3 words 3 2", 5000ms).empty());
    EXPECT_EQ(left.process->countLines("frame"), 0u);
}

TEST_F(SystemE2e, KeysHeldWithAltAreSystemKeysAndSendNothing) {
    Phone p = phone({});
    connect(p, 40);
    const Window w = windows(1).at(0);
    // A tap first, so the window surely has the keyboard. Shift+D is mapped (a slide); with Alt held its keys
    // are system keys and never reach the mapping. (Alt+Space would open the window manager's menu.)
    ASSERT_TRUE(tapSpace(w, p));
    xdotool("key alt+shift+d key alt+d key space");
    EXPECT_TRUE(eventually([&] { return p.process->countLines("touch up x=32768 y=32768") == 2; }));
    EXPECT_EQ(p.process->countLines("touch"), 4u);
}

// Each H.264 picture is on the screen before the next access unit is sent: the phone sends three pictures
// and then nothing, and the third must show (a decoder that holds pictures back would never show it).
TEST_F(SystemE2e, H264PictureShowsBeforeTheNextIsSent) {
    Phone p = phone({"--codec", "h264", "--frames", "3", "--accent", "2A7FD4"});
    connect(p, 40);
    const Window w = windows(1).at(0);
    // The simulator numbers its pictures from 0: the third shows 2.
    EXPECT_TRUE(eventually([&] { return shownNumber(w) == 2; }, 15000ms))
        << "shows picture " << shownNumber(w);
    EXPECT_TRUE(near(screen_.windowPixel(w, 3, 3), kBlue, 32)) << std::hex << screen_.windowPixel(w, 3, 3);
}

TEST_F(SystemE2e, WindowCommandsDisconnectReconnectAndExit) {
    Phone p = phone({});
    EXPECT_EQ(connect(p, 40), "502 status 0 id 1\n");
    Window w = windows(1).at(0);
    // The window is on the screen a moment before the client has finished making it (wine shows it while
    // ShowWindow waits for the window manager), and until then SetWindow fails, as a controller must expect.
    Reply moved{-1, ""};
    EXPECT_TRUE(eventually([&] {
        moved = qxctl("setwindow 1 100 120 300 500\n");
        return moved.exitCode == 0;
    }));
    EXPECT_EQ(moved.output, "506 status 0 id 1\n");
    EXPECT_EQ(qxctl("state 1 1\n").output, "510 status 0 id 1\n");
    EXPECT_TRUE(eventually([&] { return !screen_.viewable(w); })) << "not minimised";
    EXPECT_EQ(qxctl("state 1 0\n").output, "510 status 0 id 1\n");
    EXPECT_TRUE(eventually([&] { return screen_.viewable(w); })) << "not restored";
    EXPECT_TRUE(eventually([&] { return screen_.geometry(w) == XScreen::Geometry{100, 120, 300, 500}; }));
    // Failures come back as status -1 and make qxctl exit 1; the channel stays usable.
    const Reply unknown = qxctl("setwindow 9 0 0 10 10\ndisconnect 9\n");
    EXPECT_EQ(unknown.output, "506 status -1 id 9\n504 status -1 id 9\n");
    EXPECT_EQ(unknown.exitCode, 1);

    EXPECT_EQ(qxctl("disconnect 1\n").output, "504 status 0 id 1\n");
    EXPECT_TRUE(eventually([&] { return screen_.deviceWindows().empty(); }));
    EXPECT_FALSE(p.process->waitForText("connection over", 5000ms).empty());
    // The freed identifier is given again, and the phone serves the new connection.
    EXPECT_EQ(connect(p, 40), "502 status 0 id 1\n");
    windows(1);
    EXPECT_EQ(qxctl("exit\n").output, "508 status 0\n");
    EXPECT_EQ(client_->exitCode(10000ms), 0);
    EXPECT_TRUE(eventually([&] { return p.process->countLines("connection over") == 2; }));
}

TEST_F(SystemE2e, MisbehavingPhonesLeaveTheOthersServed) {
    Phone good = phone({"--accent", "2A7FD4"});
    EXPECT_EQ(connect(good, 0, 0), "502 status 0 id 1\n");
    const Window goodWindow = windows(1).at(0);
    struct Case {
        const char* name;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"closes mid-stream", {"--close-mid-frame", "5"}},
        {"corrupt frames", {"--corrupt-frame", "2"}},
        {"corrupt ZRC frames", {"--codec", "zrc", "--corrupt-frame", "3"}},
        {"truncated frame", {"--truncate-frame", "3"}},
        {"frame beyond the client's buffer", {"--oversize-frame", "2"}},
        {"picture beyond the codec's limit", {"--announce", "8000x8000"}},
        {"wrong handshake token", {"--bad-token"}},
        {"no handshake answer", {"--no-answer"}},
    };
    std::vector<Phone> bad;
    size_t taps = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bad.push_back(phone(c.args));
        const Reply connected = qxctl("connect " + bad.back().address() + " 400 40 360 640\n");
        EXPECT_EQ(connected.output.rfind("502 status ", 0), 0u) << connected.output;
        std::this_thread::sleep_for(500ms);
        // The controller is still served, and so is the good phone.
        EXPECT_EQ(qxctl("setwindow 1 0 0 360 640\n").output, "506 status 0 id 1\n");
        EXPECT_TRUE(tapSpace(goodWindow, good));
        ++taps;
        EXPECT_TRUE(eventually([&] { return good.process->countLines("touch down") == taps; }));
        expectStreaming(goodWindow, kBlue);
    }
    EXPECT_EQ(qxctl("exit\n").output, "508 status 0\n");
    EXPECT_EQ(client_->exitCode(15000ms), 0);
}

// One minute of a phone connecting and disconnecting beside one that streams throughout: the client's
// resident memory after a warm-up must not keep growing.
class SystemMemoryE2e : public SystemE2e {
protected:
    // Under AddressSanitizer freed memory is held back in a quarantine, which would read as growth.
    std::vector<std::string> environment() const override {
        std::vector<std::string> env = SystemE2e::environment();
        env.push_back("ASAN_OPTIONS=quarantine_size_mb=0");
        return env;
    }
};

TEST_F(SystemMemoryE2e, StaysFlatOverAMinuteOfReconnects) {
    Phone steady = phone({"--codec", "zrc"});
    Phone coming = phone({});
    EXPECT_EQ(connect(steady, 0, 0), "502 status 0 id 1\n");
    const auto start = std::chrono::steady_clock::now();
    long warm = -1;
    int cycles = 0;
    while (std::chrono::steady_clock::now() - start < 60s) {
        const Reply r = qxctl("connect " + coming.address() + " 400 40 360 640\n");
        ASSERT_EQ(r.output, "502 status 0 id 2\n") << "cycle " << cycles;
        std::this_thread::sleep_for(300ms);
        ASSERT_EQ(qxctl("disconnect 2\n").output, "504 status 0 id 2\n") << "cycle " << cycles;
        ++cycles;
        if (warm < 0 && std::chrono::steady_clock::now() - start > 10s) warm = residentKb(client_->pid());
    }
    const long last = residentKb(client_->pid());
    RecordProperty("cycles", cycles);
    RecordProperty("rss_warm_kb", static_cast<int>(warm));
    RecordProperty("rss_end_kb", static_cast<int>(last));
    EXPECT_GT(cycles, 50);
    ASSERT_GT(warm, 0);
    EXPECT_LT(last - warm, 16 * 1024) << "resident memory grew from " << warm << " kB to " << last << " kB";
    EXPECT_EQ(qxctl("exit\n").output, "508 status 0\n");
    EXPECT_EQ(client_->exitCode(10000ms), 0);
}

}  // namespace
