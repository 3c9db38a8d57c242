// qx-devsim: a simulated phone for the client. Listens on 127.0.0.1, serves one client connection at a time
// and prints every control frame it receives on standard output, one line each. With --devices N it is N
// phones at once, which drop their control frames.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/sockets.h"
#include "tools/qx-devsim/devicesession.h"
#include "tools/qx-devsim/devicewall.h"
#include "tools/qx-devsim/devsimoptions.h"
#include "tools/qx-devsim/framecoder.h"
#include "tools/qx-devsim/picturesource.h"

int main(int argc, char** argv) {
    // The control library logs to a file; the simulator reports on stderr instead.
    setenv("QX_LOG_FILE", "/dev/null", 0);
    signal(SIGPIPE, SIG_IGN);
    DevsimOptions options;
    std::string error;
    if (argc > 1 && std::string(argv[1]) == "--help") {
        fputs(devsimUsage(), stdout);
        return 0;
    }
    if (!parseDevsimOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "qx-devsim: %s\n%s", error.c_str(), devsimUsage());
        return 2;
    }
    if (options.devices > 1) {
        DeviceWall wall(options);
        if (!wall.open(&error)) {
            fprintf(stderr, "qx-devsim: %s\n", error.c_str());
            return 1;
        }
        for (uint16_t port : wall.ports())
            printf("listening on 127.0.0.1:%u\n", port);
        fflush(stdout);
        return wall.run() < 0 ? 1 : 0;
    }
    // A source or coder that cannot work is reported now, not at the first connection.
    if (!makePictureSource(options, &error) || !makeFrameCoder(options, &error)) {
        fprintf(stderr, "qx-devsim: %s\n", error.c_str());
        return 1;
    }
    const SOCKET listener = TCPListen("127.0.0.1", options.port);
    if (listener < 0) {
        fprintf(stderr, "qx-devsim: cannot listen on 127.0.0.1:%u\n", options.port);
        return 1;
    }
    sockaddr_in bound{};
    socklen_t size = sizeof(bound);
    getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size);
    // First line of the output: where the device is (the port chosen when --port 0 was given).
    printf("listening on 127.0.0.1:%u\n", ntohs(bound.sin_port));
    fflush(stdout);
    int result = 0;
    do {
        sockaddr_in peer{};
        const SOCKET s = TCPAccept(listener, &peer);
        // A connection that was reset before it was taken leaves the listener fine.
        if (s < 0 && (errno == ECONNABORTED || errno == EINTR)) continue;
        if (s < 0) {
            fprintf(stderr, "qx-devsim: accept failed: %s\n", strerror(errno));
            result = -1;
            break;
        }
        fprintf(stderr, "qx-devsim: client connected\n");
        DeviceSession session(s, options);
        result = session.run();
    } while (!options.once);
    close(listener);
    return result < 0 ? 1 : 0;
}
