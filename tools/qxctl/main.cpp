// qxctl: the controller command line. Sends one request given on the command line, or each request line read
// from standard input over one connection, and prints every reply as "CODE status S [id ID]".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "tools/qxctl/controllerclient.h"

namespace {

// A Connect may spend a TCP connect and a handshake of up to five seconds before its reply.
constexpr uint32_t kReplyTimeoutMs = 30000;

// Exit codes: every request succeeded; the client refused one or a script line was not understood; the
// client could not be reached or did not answer; the command line was not understood.
constexpr int kExitRefused = 1;
constexpr int kExitUnreached = 2;
constexpr int kExitUsage = 3;

void usage(FILE* out) {
    fprintf(
        out,
        "usage: qxctl [--client HOST:PORT] COMMAND\n"
        "       qxctl [--client HOST:PORT] < script   (one command per line)\n"
        "commands: connect HOST:PORT X Y W H | disconnect ID | setwindow ID X Y W H | state ID N |\n"
        "          forward CODE PARAM ID | exit\n"
        "the client is 127.0.0.1:30003 unless --client says otherwise\n"
        "exit code: 0 every request succeeded, 1 one was refused or a script line was not understood,\n"
        "           2 the client was not reached or did not answer, 3 the command line was not understood\n");
}

// Runs one request; 0 when it succeeded, 1 when the client refused it, 2 when the channel failed.
int runOne(ControllerClient& client, const std::vector<std::string>& words) {
    Request request;
    std::string error;
    if (!parseRequest(words, &request, &error)) {
        fprintf(stderr, "qxctl: %s\n", error.c_str());
        return kExitRefused;
    }
    Reply reply;
    const int r = client.call(request, &reply, kReplyTimeoutMs);
    if (r != 0) {
        fprintf(stderr, "qxctl: %s\n", r == -1 ? "request not sent" : "no reply from the client");
        return kExitUnreached;
    }
    if (!request.expectsReply) {
        printf("forwarded %u\n", request.code);
    } else if (reply.hasDeviceId) {
        printf("%u status %d id %d\n", reply.code, reply.status, reply.deviceId);
    } else {
        printf("%u status %d\n", reply.code, reply.status);
    }
    fflush(stdout);
    return reply.status == 0 ? 0 : kExitRefused;
}

}  // namespace

int main(int argc, char** argv) {
    // The control library logs to a file; the tool reports on stderr instead.
#ifdef _WIN32
    if (!getenv("QX_LOG_FILE")) _putenv_s("QX_LOG_FILE", "NUL");
#else
    setenv("QX_LOG_FILE", "/dev/null", 0);
#endif
    std::string host = "127.0.0.1";
    uint16_t port = 30003;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--client") == 0) {
        const std::string address = argv[2];
        const size_t colon = address.rfind(':');
        char* end = nullptr;
        const long number = colon == std::string::npos ? 0 : strtol(address.c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || *end != '\0' || number < 1 || number > 65535) {
            fprintf(stderr, "qxctl: bad client address %s\n", address.c_str());
            usage(stderr);
            return kExitUsage;
        }
        host = address.substr(0, colon);
        port = static_cast<uint16_t>(number);
        first = 3;
    } else if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    } else if (argc > 1 && strcmp(argv[1], "--client") == 0) {
        usage(stderr);
        return kExitUsage;
    }
    // A request on the command line is checked before the client is contacted.
    const std::vector<std::string> words(argv + first, argv + argc);
    Request request;
    std::string error;
    if (first < argc && !parseRequest(words, &request, &error)) {
        fprintf(stderr, "qxctl: %s\n", error.c_str());
        usage(stderr);
        return kExitUsage;
    }
    ControllerClient client;
    if (client.open(host.c_str(), port) != 0) {
        fprintf(stderr, "qxctl: cannot reach the client at %s:%u\n", host.c_str(), port);
        return kExitUnreached;
    }
    if (first < argc) return runOne(client, words);
    // Script mode: every line over this one connection; a failure does not stop the script, but the exit
    // code reports the worst outcome. A broken channel ends it.
    int worst = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::vector<std::string> words = splitLine(line);
        if (words.empty()) continue;
        const int r = runOne(client, words);
        if (r > worst) worst = r;
        if (r == kExitUnreached) break;
    }
    return worst;
}
