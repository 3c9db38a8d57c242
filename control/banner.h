#pragma once

// Logs the version line (build date and time and the source revision, all fixed when the program is built),
// then the paths of the log, the key-mapping file and the H.264 library's log folder.
void log_banner();
