// TCPConnect for the control-frame fuzzer: never opens a connection, so no input can reach any address.
// Connect then takes its "device unreachable" path; the payload parsing before it is fuzzed all the same.
#include "control/sockets.h"

SOCKET TCPConnect(uint16_t, const char*, uint32_t) {
    return INVALID_SOCKET;
}
