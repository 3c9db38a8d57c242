// Where the client keeps its files. The Windows client has always used the root of drive E:
// (e:\qx-native-client.log, e:\test.txt, the H.264 library's log in E:\); on a PC without that drive, and on
// Linux, the same names in the working directory. QX_LOG_FILE and QX_KEYMAP_FILE name other files.
#pragma once

#include <string>

namespace platform {

// $QX_LOG_FILE when set, else qx-native-client.log in the files' folder.
std::string logFilePath();
// $QX_KEYMAP_FILE when set, else test.txt in the files' folder.
std::string keymapFilePath();
// The H.264 library's log folder: "E:\" or "" (the working directory).
const char* avcLogFolder();

}  // namespace platform
