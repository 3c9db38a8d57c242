#ifndef CODEC_LOGPATH_H
#define CODEC_LOGPATH_H

#include <string>

namespace zrc {

// The log file of an executable: its path with the file name's extension replaced by ".log".
std::string logPathForExecutable(const std::string& exe);

}  // namespace zrc

#endif
