#pragma once

#include "commands/qxcommand.h"

// 501: connect to a device at host:port, run the RSUP handshake, register and start the device; replied by
// 502 with the new identifier.
class ConnectCommand : public QXCommand {
public:
    static constexpr uint32_t kMaxAddressLength = 64;
    // The TCP connect and each handshake step get kHandshakeTimeoutMs, the whole handshake kHandshakeTotalMs,
    // however the bytes trickle in: the control thread serves nothing else meanwhile.
    static constexpr uint32_t kConnectTimeoutMs = 5000;
    static constexpr uint32_t kHandshakeTimeoutMs = 5000;
    static constexpr uint32_t kHandshakeTotalMs = 15000;

    ConnectCommand() : QXCommand(501, true) {}

    int serialize(StreamData& stream) override;
    // 0 when the device was registered and started (also after a failed handshake), 1 on any failure (the
    // socket is then closed and nothing stays registered).
    int exec() override;
    int replyCommand(SOCKET socket, int result) override;

    // The three-message RSUP handshake, each step within stepMs and all within totalMs: 0; -1 invalid socket
    // or SYN not sent; -2 no ACK; -3 wrong ACK; -4 final ACK not sent.
    static int handshake(SOCKET socket, uint32_t stepMs, uint32_t totalMs = kHandshakeTotalMs);

    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t addressLength = 0;
    char host[32] = {};
    uint16_t port = 0;
    int32_t deviceId = -1;

private:
    // Takes "host:port" from the address text; false when it has no ':' or the host does not fit.
    bool parseAddress(const char* text);

    bool addressValid_ = false;
};
