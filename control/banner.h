#pragma once

// Logs the version line: build date and time and the source revision, all fixed when the program is built.
void log_banner();
