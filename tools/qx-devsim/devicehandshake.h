// The device's side of the RSUP handshake: the client sends a token and "RSUP SYN", the device echoes the
// token with "RSUP ACK", the client repeats that ACK.
#pragma once

#include <cstdint>

#include "control/sockets.h"

enum class HandshakeMode { Normal, BadToken, NoAnswer };

constexpr int RSUP_HANDSHAKE_SIZE = 12;

// 0 when the handshake completed; 1 when the SYN was read and, as asked, left unanswered; 2 when a wrong
// token was echoed as asked (no final ACK is awaited then); -1 no SYN within
// timeoutMs; -2 not a SYN; -3 ACK not sent; -4 no final ACK, or not the one expected.
int answerHandshake(SOCKET s, HandshakeMode mode, uint32_t timeoutMs);
