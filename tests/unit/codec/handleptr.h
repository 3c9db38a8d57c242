#ifndef TESTS_UNIT_CODEC_HANDLEPTR_H
#define TESTS_UNIT_CODEC_HANDLEPTR_H

#include <memory>

#include "codec/include/zrc.h"

namespace zrctest {

// A codec handle released when the test lets go of it.
struct HandleDeleter {
    void operator()(ZrcHandle* h) const { zrc_release(h); }
};
using Handle = std::unique_ptr<ZrcHandle, HandleDeleter>;

}  // namespace zrctest

#endif
