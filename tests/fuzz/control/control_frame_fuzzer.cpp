// Feeds arbitrary bytes to the control-frame reader and the dispatcher, as a controller would send them.
//
// Connect (501) opens a TCP connection to an address taken from the frame. This program must never reach
// beyond the machine, so it is linked with the TCPConnect of refusingconnect.cpp in place of the real one
// (TCPConnect is a unit of its own in qx_control for this): that one refuses every connection without
// touching the network. So no device is ever started here; the other commands meet an empty registry.
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "commands/qxcommand.h"
#include "control/controlloop.h"

namespace {

// Replies collect unread in the socket pair: the input is kept small enough for all of them to fit.
constexpr size_t kMaxInput = 16 * 1024;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QX_LOG_FILE", "/dev/null", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    const size_t length = std::min(size, kMaxInput);
    if (length && write(fds[0], data, length) != static_cast<ssize_t>(length)) abort();
    shutdown(fds[0], SHUT_WR);

    // As the control loop does: frame after frame until one cannot be read or Exit was served.
    g_stop = 0;
    while (g_stop == 0 && QXCommand::process(fds[1]) != -500) {
    }
    g_stop = 0;
    close(fds[0]);
    close(fds[1]);
    return 0;
}
