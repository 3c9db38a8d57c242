// The client process: wires the control loop to the command layer and the device registry.
#include "commands/qxcommand.h"
#include "control/banner.h"
#include "control/controlloop.h"
#include "device/devicemanager.h"
#include "platform/window.h"

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the mask and the loop alone receives them.
    qx_block_stop_signals();
    log_banner();
    DeviceManager::instance().init(platform::SW_SHOWNORMAL);
    qx_main(argc - 1, argv + 1, QXCommand::process);
    // Empty after Exit; after SIGINT / SIGTERM this stops every device as Exit does.
    DeviceManager::instance().stopAll();
    return 0;
}
