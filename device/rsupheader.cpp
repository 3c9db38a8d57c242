#include "device/rsupheader.h"

#include <cstring>

#include "control/streamdata.h"

// Layout: 5 bytes, encoderType, 1 byte, frameFlag, 20 bytes, width, height, 8 bytes, payloadLength, 4 bytes.

RsupHeader RsupHeader::parse(const uint8_t* bytes) {
    // StreamData only reads here; it takes a mutable buffer because it also writes.
    StreamData in(const_cast<uint8_t*>(bytes), RSUP_HEADER_SIZE);
    RsupHeader header;
    in.skip(5);
    header.encoderType = in.getUInt8();
    in.skip(1);
    header.frameFlag = in.getUInt8();
    in.skip(20);
    header.width = in.getUInt32();
    header.height = in.getUInt32();
    in.skip(8);
    header.payloadLength = static_cast<int32_t>(in.getUInt32());
    return header;
}

void RsupHeader::write(uint8_t* bytes) const {
    memset(bytes, 0, RSUP_HEADER_SIZE);
    StreamData out(bytes, RSUP_HEADER_SIZE);
    out.skip(5);
    out.putUInt8(encoderType);
    out.skip(1);
    out.putUInt8(frameFlag);
    out.skip(20);
    out.putUInt32(width);
    out.putUInt32(height);
    out.skip(8);
    out.putUInt32(static_cast<uint32_t>(payloadLength));
}
