#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "commands/connectcommand.h"
#include "commands/qxcommand.h"
#include "commands/replycommand.h"
#include "control/controlloop.h"
#include "control/mrcp.h"
#include "control/streamdata.h"
#include "device/devicemanager.h"
#include "tests/unit/control/testframes.h"
#include "tests/unit/control/testlog.h"

namespace {

// Runs one frame as the control loop would: the frame arrives on the controller socket, the reply (if any)
// is read back from the controller's end.
struct Controller {
    SocketPair pair;
    SOCKET client() const { return pair.fd[0]; }
    SOCKET served() const { return pair.fd[1]; }
    int process(const Bytes& frame) {
        sendBytes(client(), frame);
        return QXCommand::process(served());
    }
    Bytes reply() { return readAvailable(client()); }
};

// The n bytes a device's send thread writes to s, waiting at most 10 s for them.
Bytes readWritten(SOCKET s, size_t n) {
    Bytes bytes(n);
    size_t got = 0;
    while (got < n) {
        net::WaitEntry readable{s, net::kReadable, 0};
        if (net::waitSockets(&readable, 1, 10000) != 1) break;
        const int r = net::recvSome(s, reinterpret_cast<char*>(bytes.data()) + got, static_cast<int>(n - got),
                                    0, false);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    return bytes;
}

// A device registered over a socket pair with only its send thread: commands that only write to its socket or
// read its fields can run against it.
struct RegisteredDevice {
    RegisteredDevice() {
        DeviceManager& manager = DeviceManager::instance();
        char host[32] = "127.0.0.1";
        device = manager.createDevice(host, 5555, pair.fd[0], 1, 2, 3, 4);
        manager.addDevice(device);
        device->startSending();  // running, so not reaped as a device that ended by itself
    }
    ~RegisteredDevice() {
        // stop() joins the send thread, which reads the socket, and then closes the socket: the first end.
        device->stop();
        pair.fd[0] = -1;
        DeviceManager::instance().removeDevice(device->id);
    }
    SocketPair pair;
    Device* device;
};

}  // namespace

TEST(ReplyCommand, AreByteExact) {
    struct Case {
        const char* name;
        int (*send)(SOCKET);
        Bytes expected;
    } cases[] = {
        {"disconnect ok", [](SOCKET s) { return DisConnectReplyCommand(s, 1, 0).send("t", "disconnect"); },
         hexBytes("52 43 4D 53 00 01 00 00 00 00 00 0C 00 00 01 F8 00 00 00 00 00 00 00 01")},
        {"disconnect unknown",
         [](SOCKET s) { return DisConnectReplyCommand(s, 9, 1).send("t", "disconnect"); },
         replyFrame(504, -1, 9, 0xFFFFFFFF)},
        {"connect ok", [](SOCKET s) { return ConnectReplyCommand(s, 1, 0).send("t", "connect"); },
         replyFrame(502, 0, 1, 0)},
        {"connect failed: status only in the header",
         [](SOCKET s) { return ConnectReplyCommand(s, -1, 1).send("t", "connect"); },
         replyFrame(502, -1, -1, 0)},
        {"set window failed",
         [](SOCKET s) { return SetWindowReplyCommand(s, 3, -1).send("t", "set window"); },
         replyFrame(506, -1, 3, 0xFFFFFFFF)},
        {"change window ok",
         [](SOCKET s) { return ChangeWindowReplyCommand(s, 4, 0).send("t", "change window"); },
         replyFrame(510, 0, 4, 0)},
        {"exit", [](SOCKET s) { return ExitReplyCommand(s, 0).send("t", "exit"); },
         hexBytes("52 43 4D 53 00 01 00 00 00 00 00 08 00 00 01 FC 00 00 00 00")},
    };
    for (const Case& c : cases) {
        SocketPair pair;
        EXPECT_EQ(static_cast<int>(c.expected.size()), c.send(pair.fd[0])) << c.name;
        EXPECT_EQ(c.expected, readAvailable(pair.fd[1])) << c.name;
    }
}

TEST(ReplyCommand, FailedSendIsLogged) {
    TestLog log;
    EXPECT_EQ(-1, ExitReplyCommand(-1, 0).send("ExitCommand::replyCommand", "exit"));
    EXPECT_TRUE(log.contains("ERROR USER ExitCommand::replyCommand Reply exit command failed [-1]\n"));
}

TEST(QXCommandPrepare, ReadsOneFrameOrRefusesItsHeader) {
    struct Case {
        const char* name;
        Bytes wire;
        int expected;
        const char* logged;
    } cases[] = {
        {"frame", controlFrame(507, 0), 8, nullptr},
        {"short header", hexBytes("52 43 4D 53 00 01"), -1, nullptr},
        {"wrong magic", hexBytes("53 4D 43 52 00 01 00 00 00 00 00 08"), -2,
         "QXCommand::prepare: <mrcp header>: magic 0x534d4352 version 1 reserved 0 length 8"},
        {"wrong version", hexBytes("52 43 4D 53 00 02 00 05 00 00 00 08"), -2,
         "QXCommand::prepare: <mrcp header>: magic 0x52434d53 version 2 reserved 5 length 8"},
        {"length 0", hexBytes("52 43 4D 53 00 01 00 00 00 00 00 00"), 0, nullptr},
        {"negative length", hexBytes("52 43 4D 53 00 01 00 00 FF FF FF FE"), -2, nullptr},
        {"length beyond the buffer", hexBytes("52 43 4D 53 00 01 00 00 00 00 03 F5"), -2,
         "magic 0x52434d53 version 1 reserved 0 length 1013"},
        {"body cut short", hexBytes("52 43 4D 53 00 01 00 00 00 00 00 0C 00 00 01 F7"), -2, nullptr},
    };
    for (const Case& c : cases) {
        TestLog log;
        SocketPair pair;
        sendBytes(pair.fd[0], c.wire);
        pair.closeEnd(0);
        uint8_t buffer[MRCP_MAX_FRAME];
        EXPECT_EQ(c.expected, QXCommand::prepare(buffer, sizeof(buffer), pair.fd[1])) << c.name;
        if (c.logged) {
            EXPECT_TRUE(log.contains(c.logged)) << c.name << "\n" << log.text();
        }
    }
}

TEST(QXCommandProcess, UnreadableFrameClosesTheConnection) {
    TestLog log;
    Controller controller;
    controller.pair.closeEnd(0);
    EXPECT_EQ(-500, QXCommand::process(controller.served()));
    EXPECT_TRUE(log.contains("ERROR USER Failed to get data from net.\n"));
}

TEST(Dispatch, UnknownCodesAreRefusedWithoutReply) {
    for (uint32_t code : {502u, 112u, 0u, 0xFFFFFFFFu}) {
        TestLog log;
        Controller controller;
        EXPECT_EQ(-1, controller.process(controlFrame(code, 0, {1})));
        EXPECT_TRUE(controller.reply().empty());
        EXPECT_TRUE(
            log.contains("QXCommand::run: Command " + std::to_string(static_cast<int32_t>(code)) + "\n"));
        EXPECT_TRUE(log.contains("ERROR USER Failed to run command\n"));
    }
}

TEST(Dispatch, BodyWithoutBothWordsIsRefused) {
    TestLog log;
    Controller controller;
    EXPECT_EQ(-1, controller.process(hexBytes("52 43 4D 53 00 01 00 00 00 00 00 04 00 00 01 FB")));
    EXPECT_TRUE(controller.reply().empty());
    EXPECT_FALSE(log.contains("Command 507"));
    EXPECT_EQ(0, g_stop);
}

TEST(Dispatch, PayloadTooShortIsRefusedWithFailureReply) {
    struct Case {
        const char* name;
        Bytes frame;
        Bytes expected;
    } cases[] = {
        {"disconnect without id", controlFrame(503, 0), replyFrame(504, -1, -1, 0xFFFFFFFF)},
        {"set window missing height", controlFrame(505, 0, {1, 10, 20, 30}),
         replyFrame(506, -1, 1, 0xFFFFFFFF)},
        {"change window without state", controlFrame(509, 0, {1}), replyFrame(510, -1, 1, 0xFFFFFFFF)},
        {"set window without id", controlFrame(505, 0), replyFrame(506, -1, -1, 0xFFFFFFFF)},
        {"connect without address length", controlFrame(501, 0, {1, 2, 3, 4}), replyFrame(502, -1, -1, 0)},
        {"connect address cut short", controlFrame(501, 0, {1, 2, 3, 4, 14}, "127.0.0.1:5"),
         replyFrame(502, -1, -1, 0)},
        {"forward without id", controlFrame(110, 3), {}},
    };
    for (const Case& c : cases) {
        TestLog log;
        Controller controller;
        EXPECT_EQ(-1, controller.process(c.frame)) << c.name;
        EXPECT_EQ(c.expected, controller.reply()) << c.name;
        EXPECT_TRUE(log.contains("payload too short")) << c.name;
        EXPECT_FALSE(log.contains("not found")) << c.name;  // nothing was executed
        EXPECT_FALSE(log.contains("Connecting")) << c.name;
    }
}

TEST(Dispatch, UnknownDeviceFailsEachCommandByItsRule) {
    struct Case {
        const char* name;
        Bytes frame;
        int result;
        Bytes expected;
    } cases[] = {
        {"disconnect", controlFrame(503, 0, {9}), 1, replyFrame(504, -1, 9, 0xFFFFFFFF)},
        {"set window", controlFrame(505, 0, {9, 1, 2, 3, 4}), 1, replyFrame(506, -1, 9, 0xFFFFFFFF)},
        {"change window", controlFrame(509, 0, {9, 1}), -1, replyFrame(510, -1, 9, 0xFFFFFFFF)},
        {"forward", controlFrame(113, 3, {9}), 1, {}},
    };
    for (const Case& c : cases) {
        TestLog log;
        Controller controller;
        EXPECT_EQ(c.result, controller.process(c.frame)) << c.name;
        EXPECT_EQ(c.expected, controller.reply()) << c.name;
        EXPECT_EQ(1, log.count("ERROR USER device [id: 9] not found.\n")) << c.name;
        EXPECT_EQ(1, log.count("ERROR USER Failed to run command\n")) << c.name;
    }
}

TEST(Dispatch, ExitRepliesThenSetsTheStopFlag) {
    Controller controller;
    g_stop = 0;
    EXPECT_EQ(0, controller.process(controlFrame(507, 0)));
    EXPECT_EQ(hexBytes("52 43 4D 53 00 01 00 00 00 00 00 08 00 00 01 FC 00 00 00 00"), controller.reply());
    EXPECT_EQ(1, g_stop);
    g_stop = 0;
}

TEST(ConnectCommand, ReadsThePayload) {
    struct Case {
        const char* name;
        Bytes frame;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"53-byte request",
         hexBytes("52 43 4D 53 00 01 00 00 00 00 00 29 00 00 01 F5 00 00 00 00 00 00 00 64 00 00 00 32 00 00 "
                  "01 68 "
                  "00 00 02 80 00 00 00 0D 31 30 2E 30 2E 30 2E 37 3A 35 35 35 35"),
         "10.0.0.7", 5555},
        {"terminating zero counted",
         controlFrame(501, 0, {100, 50, 360, 640, 14}, std::string("10.0.0.7:5555\0", 14)), "10.0.0.7", 5555},
        {"zero ends the text",
         controlFrame(501, 0, {100, 50, 360, 640, 16},
                      std::string("10.0.0.7:55\0"
                                  "99z",
                                  16)),
         "10.0.0.7", 55},
        {"port kept as 16 bits", controlFrame(501, 0, {100, 50, 360, 640, 14}, "10.0.0.7:70000"), "10.0.0.7",
         static_cast<uint16_t>(70000)},
    };
    for (const Case& c : cases) {
        ASSERT_GE(c.frame.size(), 20u);
        Bytes body(c.frame.begin() + 12, c.frame.end());
        StreamData stream(body.data(), static_cast<uint32_t>(body.size()));
        stream.skip(8);
        ConnectCommand command;
        EXPECT_EQ(0, command.serialize(stream)) << c.name;
        EXPECT_EQ(100, command.x) << c.name;
        EXPECT_EQ(50, command.y) << c.name;
        EXPECT_EQ(360, command.width) << c.name;
        EXPECT_EQ(640, command.height) << c.name;
        EXPECT_STREQ(c.host, command.host) << c.name;
        EXPECT_EQ(c.port, command.port) << c.name;
    }
}

TEST(ConnectCommand, RefusesAnAddressItCannotUse) {
    const std::string host32(32, '1');
    struct Case {
        const char* name;
        Bytes frame;
    } cases[] = {
        {"no colon", controlFrame(501, 0, {0, 0, 360, 640, 13}, "127.0.0.1-555")},
        {"longer than 64", controlFrame(501, 0, {0, 0, 360, 640, 65}, "127.0.0.1:" + std::string(55, '5'))},
        {"host over 31 characters", controlFrame(501, 0, {0, 0, 360, 640, 35}, host32 + ":55")},
        {"empty", controlFrame(501, 0, {0, 0, 360, 640, 0})},
    };
    for (const Case& c : cases) {
        TestLog log;
        Controller controller;
        EXPECT_EQ(1, controller.process(c.frame)) << c.name;
        EXPECT_EQ(replyFrame(502, -1, -1, 0), controller.reply()) << c.name;
        EXPECT_TRUE(log.contains("ConnectCommand::exec Invalid device address")) << c.name;
        EXPECT_FALSE(log.contains("Connecting dev")) << c.name;
    }
}

TEST(ConnectCommand, UnreachableDeviceFails) {
    TestLog log;
    SOCKET probe = TCPListen("127.0.0.1", 0);
    sockaddr_in addr{};
    socklen_t length = sizeof(addr);
    getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &length);
    net::closeSocket(probe);  // nothing listens there any more
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    Controller controller;
    EXPECT_EQ(1, controller.process(
                     controlFrame(501, 0, {0, 0, 360, 640, static_cast<uint32_t>(address.size())}, address)));
    EXPECT_EQ(replyFrame(502, -1, -1, 0), controller.reply());
    EXPECT_TRUE(log.contains("INFO USER ConnectCommand::exec Connect dev " + address + " fail\n"));
}

TEST(ConnectHandshake, AnswersOfTheDevice) {
    enum class Device { Echo, WrongToken, EchoSyn, Silent, Closes };
    struct Case {
        const char* name;
        Device device;
        int expected;
        const char* logged;
    } cases[] = {
        {"echoed token and RSUP ACK", Device::Echo, 0, nullptr},
        {"different token", Device::WrongToken, -3, "compare ACK fail"},
        {"RSUP SYN echoed unchanged", Device::EchoSyn, -3, "compare ACK fail"},
        {"silent device", Device::Silent, -2, "recv ACK fail"},
        {"device hangs up", Device::Closes, -2, "recv ACK fail"},
    };
    for (const Case& c : cases) {
        TestLog log;
        SocketPair pair;
        Bytes seen;
        std::thread device([&] {
            uint8_t syn[12];
            if (RecvEx(pair.fd[1], reinterpret_cast<char*>(syn), 12, 0, 2000, 1) != 12) return;
            seen.assign(syn, syn + 12);
            uint8_t ack[12];
            memcpy(ack, syn, 12);
            switch (c.device) {
                case Device::Echo:
                    memcpy(ack + 4, "RSUP ACK", 8);
                    break;
                case Device::WrongToken:
                    memcpy(ack + 4, "RSUP ACK", 8);
                    ack[0] ^= 1;
                    break;
                case Device::EchoSyn:
                    break;
                case Device::Silent:
                    std::this_thread::sleep_for(std::chrono::milliseconds(400));
                    return;
                case Device::Closes:
                    pair.closeEnd(1);
                    return;
            }
            net::sendSome(pair.fd[1], reinterpret_cast<const char*>(ack), 12, 0, false);
            uint8_t rest[64];
            int n = RecvEx(pair.fd[1], reinterpret_cast<char*>(rest), sizeof(rest), 0, 300, 0);
            if (n > 0) seen.insert(seen.end(), rest, rest + n);
        });
        EXPECT_EQ(c.expected, ConnectCommand::handshake(pair.fd[0], 200)) << c.name;
        device.join();
        ASSERT_GE(seen.size(), 12u) << c.name;
        EXPECT_EQ(0, memcmp("RSUP SYN", seen.data() + 4, 8)) << c.name;
        if (c.expected == 0) {
            // SYN then the final ACK, with the same token, and nothing else.
            ASSERT_EQ(24u, seen.size());
            EXPECT_EQ(0, memcmp(seen.data(), seen.data() + 12, 4));
            EXPECT_EQ(0, memcmp("RSUP ACK", seen.data() + 16, 8));
        } else {
            EXPECT_EQ(12u, seen.size()) << c.name;
            EXPECT_TRUE(log.contains(std::string("ConnectCommand::handshake Sock ") +
                                     std::to_string(pair.fd[0]) + " " + c.logged + "\n"))
                << c.name << log.text();
        }
    }
}

TEST(ConnectHandshake, InvalidSocket) {
    TestLog log;
    EXPECT_EQ(-1, ConnectCommand::handshake(-1, 200));
    EXPECT_TRUE(log.contains("ConnectCommand::handshake Sock -1 invalid\n"));
}

TEST(ForwardCommand, SendsParamAndDeviceIdOnly) {
    RegisteredDevice registered;
    const uint32_t id = static_cast<uint32_t>(registered.device->id);
    Controller controller;
    EXPECT_EQ(0, controller.process(controlFrame(110, 3, {id})));
    Bytes expected = hexBytes("52 43 4D 53 00 01 00 03 00 00 00 08 00 00 00 03");
    appendUInt32(expected, id);
    EXPECT_EQ(expected, readWritten(registered.pair.fd[1], expected.size()));
    EXPECT_TRUE(controller.reply().empty());

    // Bytes after the identifier stay behind; reserved carries the low 16 bits of param.
    EXPECT_EQ(0, controller.process(controlFrame(272, 0x12345678, {id, 0xAAAAAAAA, 0xBBBBBBBB})));
    expected = hexBytes("52 43 4D 53 00 01 56 78 00 00 00 08 12 34 56 78");
    appendUInt32(expected, id);
    EXPECT_EQ(expected, readWritten(registered.pair.fd[1], expected.size()));
    EXPECT_TRUE(readAvailable(registered.pair.fd[1]).empty());
}

// The frame is queued for the device's send thread; a device that is gone stops, and a frame for it then
// fails at once.
TEST(ForwardCommand, SendFailureIsReported) {
    RegisteredDevice registered;
    registered.pair.closeEnd(1);
    Controller controller;
    const Bytes forward = controlFrame(111, 0, {static_cast<uint32_t>(registered.device->id)});
    EXPECT_EQ(0, controller.process(forward));
    for (int i = 0; i < 1000 && registered.device->isRunning(); ++i) {  // hang guard only
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // Over TCP (the Windows socket pair) the first frame may still be taken before the peer's reset
        // arrives: a later one meets it.
        if (i % 10 == 9 && registered.device->isRunning()) controller.process(forward);
    }
    EXPECT_EQ(-1, controller.process(forward));
}

TEST(WindowCommands, CommandsOnADeviceWithoutWindow) {
    RegisteredDevice registered;
    const uint32_t id = static_cast<uint32_t>(registered.device->id);
    Controller controller;
    EXPECT_EQ(-1, controller.process(controlFrame(505, 0, {id, 10, 20, 300, 400})));
    EXPECT_EQ(replyFrame(506, -1, static_cast<int32_t>(id), 0xFFFFFFFF), controller.reply());
    // The rectangle is kept for when the window appears.
    EXPECT_EQ(10, registered.device->x);
    EXPECT_EQ(20, registered.device->y);
    EXPECT_EQ(300, registered.device->width);
    EXPECT_EQ(400, registered.device->height);

    EXPECT_EQ(0, controller.process(controlFrame(509, 0, {id, 1})));
    EXPECT_EQ(replyFrame(510, 0, static_cast<int32_t>(id), 0), controller.reply());
}
