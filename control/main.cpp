// The client process: wires the control loop to the command layer and the device registry.
#include "commands/qxcommand.h"
#include "control/banner.h"
#include "control/controlloop.h"
#include "control/socketlayer.h"
#include "device/devicemanager.h"
#include "platform/window.h"

namespace {

// The show state the process was started with: on Windows the one its starter asked for, as WinMain's show
// command would carry it.
int32_t startupShowCommand() {
#ifdef _WIN32
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW) return startup.wShowWindow;
#endif
    return platform::SW_SHOWNORMAL;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the signal mask and the loop alone receives
    // stop requests.
    net::installStopRequests();
    log_banner();
    DeviceManager::instance().init(startupShowCommand());
    qx_main(argc - 1, argv + 1, QXCommand::process);
    // Empty after Exit; after a stop request this stops every device as Exit does.
    DeviceManager::instance().stopAll();
    net::stopRequestsDone();
    return 0;
}
