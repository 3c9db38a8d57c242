#include "tools/qx-devsim/devicehandshake.h"

#include <cstring>

int answerHandshake(SOCKET s, HandshakeMode mode, uint32_t timeoutMs) {
    char syn[RSUP_HANDSHAKE_SIZE];
    if (RecvEx(s, syn, RSUP_HANDSHAKE_SIZE, 0, timeoutMs, 1) != RSUP_HANDSHAKE_SIZE) return -1;
    if (memcmp(syn + 4, "RSUP SYN", 8) != 0) return -2;
    if (mode == HandshakeMode::NoAnswer) return 1;
    char ack[RSUP_HANDSHAKE_SIZE];
    memcpy(ack, syn, 4);
    memcpy(ack + 4, "RSUP ACK", 8);
    if (mode == HandshakeMode::BadToken) ack[0] = static_cast<char>(ack[0] ^ 0x5A);
    if (SendEx(s, ack, RSUP_HANDSHAKE_SIZE, 0, timeoutMs) != RSUP_HANDSHAKE_SIZE) return -3;
    // A client that refuses our ACK sends no final ACK, yet may go on reading the stream.
    if (mode == HandshakeMode::BadToken) return 2;
    char last[RSUP_HANDSHAKE_SIZE];
    if (RecvEx(s, last, RSUP_HANDSHAKE_SIZE, 0, timeoutMs, 1) != RSUP_HANDSHAKE_SIZE) return -4;
    return memcmp(last, ack, RSUP_HANDSHAKE_SIZE) == 0 ? 0 : -4;
}
