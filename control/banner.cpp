#include "control/banner.h"

#include "control/log.h"
#include "qx_revision.h"

void log_banner() {
    log_write(LOG_USER_INFO, "%s Native-Client Version %s-%s-g%s", "WinMain", __DATE__, __TIME__,
              QX_REVISION);
}
