#include "tools/zrctool/framefile.h"

#include "codec/frameheader.h"

bool splitFrames(const uint8_t* data, size_t size, std::vector<FrameRef>* frames, std::string* error) {
    size_t at = 0;
    while (at < size) {
        if (size - at < ZRC_HEADER_SIZE) {
            *error = "truncated header at offset " + std::to_string(at);
            return false;
        }
        const ZrcFrameHeader header = zrc::restoreHeader(data + at);
        if (zrc_check_header(&header) != 0) {
            *error = "invalid header at offset " + std::to_string(at);
            return false;
        }
        if (header.pack_length > size - at - ZRC_HEADER_SIZE) {
            *error = "truncated payload at offset " + std::to_string(at);
            return false;
        }
        const size_t length = ZRC_HEADER_SIZE + header.pack_length;
        frames->push_back(FrameRef{at, length, header});
        at += length;
    }
    return true;
}
