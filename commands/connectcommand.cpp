#include "commands/connectcommand.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "commands/replycommand.h"
#include "control/log.h"
#include "control/streamdata.h"
#include "device/devicemanager.h"

namespace {

constexpr char kTag[] = "ConnectCommand::exec";
constexpr int kHandshakeSize = 12;

// Any value serves: the device only echoes it. It changes with every handshake.
uint32_t handshakeToken() {
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return 9890u ^ static_cast<uint32_t>(ticks) ^ static_cast<uint32_t>(ticks >> 32);
}

}  // namespace

int ConnectCommand::serialize(StreamData& stream) {
    x = static_cast<int32_t>(stream.getUInt32());
    y = static_cast<int32_t>(stream.getUInt32());
    width = static_cast<int32_t>(stream.getUInt32());
    height = static_cast<int32_t>(stream.getUInt32());
    addressLength = stream.getUInt32();
    if (!stream.ok()) return -1;
    if (addressLength > kMaxAddressLength) return 0;  // exec refuses the address
    char text[kMaxAddressLength + 1] = {};
    if (!stream.getBytes(addressLength, text, kMaxAddressLength)) return -1;
    addressValid_ = parseAddress(text);
    return 0;
}

bool ConnectCommand::parseAddress(const char* text) {
    const char* colon = strchr(text, ':');
    if (!colon || static_cast<size_t>(colon - text) >= sizeof(host)) return false;
    memcpy(host, text, static_cast<size_t>(colon - text));
    host[colon - text] = '\0';
    // Decimal with leading blanks skipped, up to the first non-digit; kept as 16 bits.
    port = static_cast<uint16_t>(strtol(colon + 1, nullptr, 10));
    return true;
}

int ConnectCommand::exec() {
    if (!addressValid_) {
        log_write(LOG_USER_ERROR, "%s Invalid device address, length %u", kTag, addressLength);
        return 1;
    }
    log_write(LOG_USER_INFO, "%s Connecting dev %s:%d", kTag, host, port);
    SOCKET s = TCPConnect(port, host, kConnectTimeoutMs);
    if (socketValue(s) < 0) {
        log_write(LOG_USER_INFO, "%s Connect dev %s:%d fail", kTag, host, port);
        return 1;
    }
    int hs = handshake(s, kHandshakeTimeoutMs);
    log_write(LOG_USER_INFO, "%s Connected dev %s:%d success, sock %d, Handshake %s, Value:%d", kTag, host,
              port, socketNumber(s), hs == 0 ? "success" : "fail", hs);

    // A device whose handshake failed is still registered and started: devices in the field rely on it.
    DeviceManager& manager = DeviceManager::instance();
    Device* device = manager.createDevice(host, port, s, x, y, width, height);
    log_write(LOG_USER_INFO, "%s Create device %s:%d, display at [%d, %d] width %d, height %d", kTag, host,
              port, x, y, width, height);
    if (!device->isValid()) {
        log_write(LOG_USER_ERROR, "%s Cannot create device, no space left in memory?", kTag);
        manager.recycleDevice(device);
        net::closeSocket(s);
        return 1;
    }
    if (manager.addDevice(device) != 0) {
        manager.recycleDevice(device);
        net::closeSocket(s);
        return 1;
    }
    log_write(LOG_USER_INFO, "%s Device %s:%d ID:%d", kTag, host, port, device->id);
    if (device->start() != 0) {
        // Whatever did start is joined; the socket is closed with the device.
        const int32_t id = device->id;
        device->stop();
        manager.removeDevice(id);
        return 1;
    }
    deviceId = device->id;
    return 0;
}

int ConnectCommand::replyCommand(SOCKET socket, int result) {
    return ConnectReplyCommand(socket, deviceId, result).send("ConnectCommand::replyCommand", "connect");
}

int ConnectCommand::handshake(SOCKET socket, uint32_t stepMs, uint32_t totalMs) {
    constexpr char kTagHandshake[] = "ConnectCommand::handshake";
    if (socketValue(socket) < 0) {
        log_write(LOG_USER_ERROR, "%s Sock %d invalid", kTagHandshake, socketNumber(socket));
        return -1;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    // Each step's limit, cut to what is left of the whole handshake's (at least 1 ms: a spent budget fails).
    auto limit = [&] {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 1) return uint32_t{1};
        return left < stepMs ? static_cast<uint32_t>(left) : stepMs;
    };
    char buffer[64] = {};
    const uint32_t token = handshakeToken();
    memcpy(buffer, &token, sizeof(token));  // in this machine's order: the device only echoes it
    memcpy(buffer + 4, "RSUP SYN", 8);
    if (SendWithin(socket, buffer, kHandshakeSize, limit()) != kHandshakeSize) {
        log_write(LOG_USER_ERROR, "%s Sock %d Send SYN fail", kTagHandshake, socketNumber(socket));
        return -1;
    }
    memcpy(buffer + 9, "ACK", 3);  // the expected answer: the token, then "RSUP ACK"
    char* answer = buffer + 32;
    if (RecvWithin(socket, answer, kHandshakeSize, limit()) != kHandshakeSize) {
        log_write(LOG_USER_ERROR, "%s Sock %d recv ACK fail", kTagHandshake, socketNumber(socket));
        return -2;
    }
    if (memcmp(answer, buffer, kHandshakeSize) != 0) {
        log_write(LOG_USER_ERROR, "%s Sock %d compare ACK fail", kTagHandshake, socketNumber(socket));
        return -3;
    }
    if (SendWithin(socket, buffer, kHandshakeSize, limit()) != kHandshakeSize) {
        log_write(LOG_USER_ERROR, "%s Sock %d send ACK fail", kTagHandshake, socketNumber(socket));
        return -4;
    }
    return 0;
}
