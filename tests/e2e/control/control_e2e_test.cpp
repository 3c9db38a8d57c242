// The whole client process driven over TCP, as a controller and as devices.
#include <gtest/gtest.h>

#include <regex>

#include "tests/e2e/control/clientprocess.h"

using namespace e2e;

namespace {

const Bytes kExitReply = hexBytes("52 43 4D 53 00 01 00 00 00 00 00 08 00 00 01 FC 00 00 00 00");

Bytes connectFrame(const std::string& address) {
    return controlFrame(501, 0, {100, 50, 360, 640, static_cast<uint32_t>(address.size())}, address);
}

void exitClient(ClientProcess& client, SOCKET controller) {
    EXPECT_EQ(kExitReply, request(controller, controlFrame(507, 0), kExitReply.size()));
    EXPECT_EQ(0, client.exitCode(milliseconds(10000)));
    close(controller);
}

}  // namespace

TEST(ControlChannel, ConnectForwardDisconnectExit) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    TestDevice device(true);
    SOCKET controller = client.connect();
    ASSERT_GE(controller, 0);

    // 127.0.1 is the numeric short form of 127.0.0.1: with a five-digit port the address is 13 bytes long and
    // the request the 53 bytes of the protocol's example.
    const std::string devicePort = std::to_string(device.port());
    ASSERT_EQ(5u, devicePort.size());
    const std::string address = "127.0.1:" + devicePort;
    const Bytes connect = connectFrame(address);
    ASSERT_EQ(53u, connect.size());
    Bytes expectedHead = hexBytes(
        "52 43 4D 53 00 01 00 00 00 00 00 29 00 00 01 F5 00 00 00 00 00 00 00 64 00 00 00 32 00 00 01 68 "
        "00 00 02 80 00 00 00 0D");
    EXPECT_TRUE(std::equal(expectedHead.begin(), expectedHead.end(), connect.begin()));
    EXPECT_EQ(replyFrame(502, 0, 1, 0), request(controller, connect, 24));

    // The device saw exactly the SYN and the final ACK, and then nothing.
    const TestDevice::Connection* link = device.connection(0);
    ASSERT_NE(nullptr, link);
    ASSERT_EQ(24u, link->handshake.size());
    EXPECT_EQ(0, memcmp("RSUP SYN", link->handshake.data() + 4, 8));
    EXPECT_EQ(0, memcmp(link->handshake.data(), link->handshake.data() + 12, 4));
    EXPECT_EQ(0, memcmp("RSUP ACK", link->handshake.data() + 16, 8));
    EXPECT_TRUE(readFor(link->socket, 1, milliseconds(300)).empty());

    // Forward of code 110: the device receives the param and identifier in a 20-byte frame; no reply.
    EXPECT_TRUE(request(controller, controlFrame(110, 3, {1}), 0).empty());
    EXPECT_EQ(hexBytes("52 43 4D 53 00 01 00 03 00 00 00 08 00 00 00 03 00 00 00 01"),
              readFor(link->socket, 20, milliseconds(3000)));

    // Codes the client does not know get no reply; the connection stays.
    EXPECT_TRUE(request(controller, controlFrame(502, 0, {1}), 0).empty());
    EXPECT_TRUE(request(controller, controlFrame(112, 0, {1}), 0).empty());

    // The headless window answers once the window thread made it.
    EXPECT_TRUE(awaitWindow(controller, 1));
    EXPECT_EQ(replyFrame(510, 0, 1, 0), request(controller, controlFrame(509, 0, {1, 1}), 24));

    EXPECT_EQ(hexBytes("52 43 4D 53 00 01 00 00 00 00 00 0C 00 00 01 F8 00 00 00 00 00 00 00 01"),
              request(controller, controlFrame(503, 0, {1}), 24));
    EXPECT_TRUE(closedWithin(link->socket, milliseconds(3000)));
    EXPECT_EQ(replyFrame(504, -1, 1, 0xFFFFFFFF), request(controller, controlFrame(503, 0, {1}), 24));
    exitClient(client, controller);

    const TestLog& log = client.log();
    const std::string dev = "127.0.1:" + devicePort;
    EXPECT_TRUE(std::regex_search(
        log.text(),
        std::regex(
            R"(INFO USER WinMain Native-Client Version [A-Z][a-z]{2} [ 0-9]\d \d{4}-\d\d:\d\d:\d\d-g[0-9a-f]{8}\n)")));
    for (const std::string& line : {
             "INFO USER qx_main Listen on 127.0.0.1:" + std::to_string(client.port()) + " success\n",
             std::string("ERROR USER qx_main New connection from 127.0.0.1:"),
             std::string("INFO USER QXCommand::run: Command 501\n"),
             "INFO USER ConnectCommand::exec Connecting dev " + dev + "\n",
             "INFO USER ConnectCommand::exec Connected dev " + dev + " success, sock ",
             std::string(", Handshake success, Value:0\n"),
             "INFO USER ConnectCommand::exec Create device " + dev +
                 ", display at [100, 50] width 360, height 640\n",
             "INFO USER ConnectCommand::exec Device " + dev + " ID:1\n",
             std::string("INFO USER QXCommand::run: Command 110\n"),
             std::string("INFO USER QXCommand::run: Command 502\n"),
             std::string("INFO USER QXCommand::run: Command 112\n"),
             std::string("INFO USER QXCommand::run: Command 503\n"),
             std::string("ERROR USER device [id: 1] not found.\n"),
             std::string("INFO USER QXCommand::run: Command 507\n"),
         }) {
        EXPECT_TRUE(log.contains(line)) << line;
    }
    // 502, 112 and the second DisConnect failed.
    EXPECT_EQ(3, log.count("ERROR USER Failed to run command\n")) << log.text();
}

TEST(ControlChannel, HeaderLengthZeroClosesTheControllerConnection) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    SOCKET first = client.connect();
    const Bytes header = hexBytes("52 43 4D 53 00 01 00 00 00 00 00 00");
    send(first, header.data(), header.size(), 0);
    EXPECT_TRUE(closedWithin(first, milliseconds(3000)));
    close(first);
    EXPECT_TRUE(client.logShows("ERROR USER Failed to get data from net.\n"));

    SOCKET second = client.connect();
    EXPECT_EQ(replyFrame(504, -1, 5, 0xFFFFFFFF), request(second, controlFrame(503, 0, {5}), 24));
    exitClient(client, second);
}

TEST(ControlChannel, OversizedOrWrongHeaderClosesTheControllerConnection) {
    for (const char* header :
         {"52 43 4D 53 00 01 00 00 00 00 04 00", "53 4D 43 52 00 01 00 00 00 00 00 08"}) {
        ClientProcess client;
        ASSERT_TRUE(client.listening());
        SOCKET controller = client.connect();
        const Bytes bytes = hexBytes(header);
        send(controller, bytes.data(), bytes.size(), 0);
        EXPECT_TRUE(closedWithin(controller, milliseconds(3000))) << header;
        close(controller);
        EXPECT_TRUE(client.logShows("QXCommand::prepare: <mrcp header>: magic")) << header;
        exitClient(client, client.connect());
    }
}

TEST(ControlChannel, SecondControllerIsClosedAtOnce) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    SOCKET first = client.connect();
    ASSERT_TRUE(client.logShows("New connection from"));
    SOCKET second = client.connect();
    EXPECT_TRUE(closedWithin(second, milliseconds(3000)));
    close(second);
    EXPECT_EQ(2, client.log().count("ERROR USER qx_main New connection from 127.0.0.1:"));
    EXPECT_TRUE(client.log().contains("ERROR USER qx_main Connected already\n"));
    // The first controller is served as before.
    exitClient(client, first);
}

TEST(ControlChannel, SilentDeviceEndsTheHandshakeAfterFiveSeconds) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    TestDevice device(false);
    SOCKET controller = client.connect();
    const std::string address = "127.0.0.1:" + std::to_string(device.port());
    const auto start = Clock::now();
    // Kept on purpose: a device whose handshake failed is registered and started all the same.
    EXPECT_EQ(replyFrame(502, 0, 1, 0), request(controller, connectFrame(address), 24, milliseconds(15000)));
    const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    EXPECT_GE(elapsed, 4900);
    EXPECT_LT(elapsed, 9000);
    EXPECT_TRUE(client.log().contains(" recv ACK fail\n"));
    EXPECT_TRUE(client.log().contains(", Handshake fail, Value:-2\n"));
    EXPECT_TRUE(awaitWindow(controller, 1));
    exitClient(client, controller);
}

TEST(ControlChannel, DeviceBeyondTheHundredTwentyEighthIsRefused) {
    ClientProcess client;
    ASSERT_TRUE(client.listening());
    TestDevice device(true);
    SOCKET controller = client.connect();
    const Bytes connect = connectFrame("127.0.0.1:" + std::to_string(device.port()));
    for (int id = 1; id <= 128; ++id) {
        ASSERT_EQ(replyFrame(502, 0, id, 0), request(controller, connect, 24)) << id;
    }
    for (int id = 1; id <= 128; ++id)
        ASSERT_TRUE(awaitWindow(controller, id)) << id;
    EXPECT_EQ(replyFrame(502, -1, -1, 0), request(controller, connect, 24));
    EXPECT_TRUE(client.log().contains(
        "ERROR USER ConnectCommand::exec Cannot create device, no space left in memory?\n"));
    // The refused device's connection is closed, not left open.
    const TestDevice::Connection* refused = device.connection(128);
    ASSERT_NE(nullptr, refused);
    EXPECT_TRUE(closedWithin(refused->socket, milliseconds(3000)));

    // A freed identifier is given again.
    EXPECT_EQ(replyFrame(504, 0, 77, 0),
              request(controller, controlFrame(503, 0, {77}), 24, milliseconds(10000)));
    EXPECT_EQ(replyFrame(502, 0, 77, 0), request(controller, connect, 24));
    EXPECT_TRUE(awaitWindow(controller, 77));
    exitClient(client, controller);
    EXPECT_TRUE(closedWithin(device.connection(0)->socket, milliseconds(1000)));
}

TEST(ControlChannel, TerminationSignalStopsTheClientAsExitDoes) {
    struct Stop {
        int signal;
        std::string line;
    };
    // Under wine SIGINT reaches a Windows program as the console's Ctrl+C (event 0).
    const std::vector<Stop> stops =
        windowsClient() ? std::vector<Stop>{{SIGINT, "INFO USER qx_main Console event 0, stopping\n"}}
                        : std::vector<Stop>{{SIGTERM, "INFO USER qx_main Signal 15, stopping\n"},
                                            {SIGINT, "INFO USER qx_main Signal 2, stopping\n"}};
    for (const auto& [number, line] : stops) {
        ClientProcess client;
        ASSERT_TRUE(client.listening());
        TestDevice device(true);
        SOCKET controller = client.connect();
        ASSERT_EQ(replyFrame(502, 0, 1, 0),
                  request(controller, connectFrame("127.0.0.1:" + std::to_string(device.port())), 24));
        ASSERT_TRUE(awaitWindow(controller, 1));
        client.signal(number);
        EXPECT_EQ(0, client.exitCode(milliseconds(10000))) << number;
        EXPECT_TRUE(closedWithin(device.connection(0)->socket, milliseconds(1000))) << number;
        EXPECT_TRUE(closedWithin(controller, milliseconds(1000))) << number;
        EXPECT_TRUE(client.log().contains(line)) << client.log().text();
        close(controller);
    }
}

TEST(ControlChannel, ListenFailureEndsTheProcess) {
    SOCKET taken = TCPListen("127.0.0.1", 0);
    const std::string address = "127.0.0.1:" + std::to_string(localPort(taken));
    ClientProcess client({address});
    EXPECT_EQ(0, client.exitCode(milliseconds(5000)));
    EXPECT_TRUE(client.log().contains("ERROR USER qx_main Listen on " + address + " fail\n"));
    close(taken);
}
