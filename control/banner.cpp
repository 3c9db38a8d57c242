#include "control/banner.h"

#include "control/log.h"
#include "platform/paths.h"
#include "qx_revision.h"

void log_banner() {
    log_write(LOG_USER_INFO, "%s Native-Client Version %s-%s-g%s", "WinMain", __DATE__, __TIME__,
              QX_REVISION);
    // Where the files went: drive E: or the working directory (or what the environment named).
    const char* avcFolder = platform::avcLogFolder();
    log_write(LOG_USER_INFO, "%s Log file %s, key-mapping file %s, H.264 log folder %s", "WinMain",
              platform::logFilePath().c_str(), platform::keymapFilePath().c_str(),
              *avcFolder ? avcFolder : ".");
}
