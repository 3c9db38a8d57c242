// Fuzzes the two unpackers on arbitrary streams, the fast LZ unpacker against its plain form, and both
// packers by round trip. The first two bytes give the expected unpacked size (times 16, plus the low bits
// of the first byte, so that sizes that are no multiple of 16 come up too), the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/lz.h"
#include "codec/transform.h"
#include "codec/wordrle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t expected =
        (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) * 16 + (data[0] & 0xF);
    const uint8_t* stream = data + 2;
    const size_t length = size - 2;

    std::vector<uint8_t> out(expected);
    zrc::useReferenceKernels(false);
    const long lz = zrc::lzUnpack(stream, length, out.data(), expected);
    if (lz != -1 && lz != static_cast<long>(expected)) std::abort();
    std::vector<uint8_t> plain(expected);
    if (zrc::lzUnpackReference(stream, length, plain.data(), expected) != lz) std::abort();
    if (lz > 0 && out != plain) std::abort();
    const long rle = zrc::rleUnpack(stream, length, out.data(), expected);
    if (rle < -1 || rle > static_cast<long>(expected)) std::abort();

    std::vector<uint8_t> packed(zrc::lzBound(length));
    packed.resize(zrc::lzPack(stream, length, packed.data()));
    std::vector<uint8_t> back(length);
    if (zrc::lzUnpack(packed.data(), packed.size(), back.data(), length) != static_cast<long>(length))
        std::abort();
    if (length > 0 && std::memcmp(back.data(), stream, length) != 0) std::abort();

    packed.assign(zrc::rleBound(length), 0);
    packed.resize(zrc::rlePack(stream, length, packed.data()));
    if (zrc::rleUnpack(packed.data(), packed.size(), back.data(), length) != static_cast<long>(length))
        std::abort();
    if (length > 0 && std::memcmp(back.data(), stream, length) != 0) std::abort();
    return 0;
}
