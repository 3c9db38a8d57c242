// Feeds an arbitrary byte stream, as a device would send it, through the receiver, the ring, the decode
// thread and the decoders into a headless window. The first input byte sets the size of the pieces the
// "device" writes, so frames arrive split at varying places.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "codec/include/zrc.h"
#include "decoder/decodeandrender.h"
#include "device/datareceiver.h"
#include "device/device.h"
#include "platform/headlesswindow.h"

namespace {

bool quietLogs() {
    setenv("QX_LOG_FILE", "/dev/null", 1);
    zrc_set_log_file("/dev/null");
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = quietLogs();
    (void)quiet;
    if (size < 1) return 0;
    const size_t piece = static_cast<size_t>(data[0]) * 16 + 1;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;

    Device device;
    device.socket = fds[0];
    device.running = 1;
    device.width = 64;
    device.height = 48;
    platform::HeadlessWindow window{{0, 0, 64, 48}, platform::ShowState::Normal};
    {
        DataReceiver receiver(&device);
        receiver.renderer()->setHwnd(&window);
        std::thread feeder([&] {
            for (size_t at = 1; at < size;) {
                const size_t n = std::min(piece, size - at);
                const ssize_t sent = send(fds[1], data + at, n, MSG_NOSIGNAL);
                if (sent <= 0) break;
                at += static_cast<size_t>(sent);
            }
            shutdown(fds[1], SHUT_WR);
        });
        receiver.ReceiveAndDec();
        // A set-up that failed leaves the feeder writing into a socket nobody reads: end it.
        shutdown(fds[0], SHUT_RDWR);
        feeder.join();
    }
    close(fds[0]);
    close(fds[1]);
    return 0;
}
