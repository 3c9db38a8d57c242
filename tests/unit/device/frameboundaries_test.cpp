#include "device/frameboundaries.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Frames with payloads of 5, 0 and 3 bytes, then one ending the stream, fed in chunks of every size: after
// each chunk the whole frames and the bytes past them are known, and the read bound reaches just past the
// header that follows the frame under way.
TEST(FrameBoundaries, FindsFrameEndsInChunksOfEverySize) {
    std::vector<uint8_t> stream;
    std::vector<size_t> starts;
    for (const int32_t length : {5, 0, 3, -1}) {
        RsupHeader header;
        header.payloadLength = length;
        starts.push_back(stream.size());
        stream.resize(stream.size() + RSUP_HEADER_SIZE + (length > 0 ? length : 0), 0xAB);
        header.write(stream.data() + starts.back());
    }
    starts.push_back(stream.size());  // where a next frame would start
    for (size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        FrameBoundaries boundaries;
        for (size_t fed = 0; fed < stream.size();) {
            boundaries.add(stream.data() + fed, std::min(chunk, stream.size() - fed));
            fed = std::min(fed + chunk, stream.size());
            size_t frame = 0;  // the frame under way
            while (starts[frame + 1] <= fed && frame + 1 < starts.size() - 1)
                ++frame;
            if (fed == starts[frame + 1]) ++frame;
            const size_t start = starts[frame];
            ASSERT_EQ(boundaries.partialBytes(), fed - start) << "chunk " << chunk << ", fed " << fed;
            const size_t end = frame + 1 < starts.size() ? starts[frame + 1] : start + RSUP_HEADER_SIZE;
            const size_t expected = fed < start + RSUP_HEADER_SIZE ? start + RSUP_HEADER_SIZE - fed
                                                                   : end - fed + RSUP_HEADER_SIZE;
            ASSERT_EQ(boundaries.toNextHeader(), expected) << "chunk " << chunk << ", fed " << fed;
            EXPECT_EQ(boundaries.wholeFrames(), frame) << "chunk " << chunk << ", fed " << fed;
            EXPECT_EQ(boundaries.wholeBytes(), start) << "chunk " << chunk << ", fed " << fed;
        }
    }
}

}  // namespace
