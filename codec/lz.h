#ifndef CODEC_LZ_H
#define CODEC_LZ_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zrc {

// LZ packing (pack format 2): the level-1 stream of QuickLZ 1.5.0 without its header. Control words of 31
// item bits, literals and 2- or 3-byte back-references through a 4096-entry table of earlier positions
// that packer and unpacker keep in step.

// Output bytes an unpack has made final, for a thread that follows it. The unpacker raises `done` at
// least every kUnpackProgressStep output bytes and at the end; when the stream turns out damaged it stores
// kUnpackFailed. Bytes below the published count are never written again by this unpack. `done` must be 0
// when the unpack starts.
//
// Waking a thread costs the unpacking thread a system call and, on a virtual machine, tens of microseconds,
// so it notifies only when `done` reaches `wanted`: a follower stores the count it waits for there, then
// reads `done` again before it waits (both sides sequentially consistent, so one of them sees the other).
struct UnpackProgress {
    std::atomic<size_t> done{0};
    std::atomic<size_t> wanted{0};

    // Blocks until `need` bytes are final or the unpack failed; returns false when it failed.
    bool await(size_t need) {
        size_t seen = done.load(std::memory_order_acquire);
        while (seen < need && seen != SIZE_MAX) {
            wanted.store(need);
            seen = done.load();
            if (seen >= need) break;
            done.wait(seen, std::memory_order_acquire);
            seen = done.load(std::memory_order_acquire);
        }
        return seen != SIZE_MAX;
    }

    // Publishes `count` (or SIZE_MAX for a failure) and wakes a follower whose wait it ends.
    void publish(size_t count) {
        done.store(count);
        if (count >= wanted.load()) done.notify_all();
    }
};
constexpr size_t kUnpackProgressStep = 64 * 1024;
constexpr size_t kUnpackFailed = SIZE_MAX;

// Publishes an unpack's progress at item boundaries; without a target its mark is never reached, so a check
// costs one comparison.
class UnpackReporter {
public:
    explicit UnpackReporter(UnpackProgress* progress)
        : progress_(progress), mark_(progress != nullptr ? kReportGap : SIZE_MAX) {}

    // Everything below `o` is final.
    void at(size_t o) {
        if (o >= mark_) [[unlikely]]
            publish(o);
    }
    long finish(size_t o) {
        if (progress_ != nullptr) publish(o);
        return static_cast<long>(o);
    }
    long fail() {
        if (progress_ != nullptr) publish(kUnpackFailed);
        return -1;
    }

private:
    // Callers check at least every 8 KiB of output (an LZ control word makes at most 31 * 255 bytes), so
    // publishing this far after the last count keeps within kUnpackProgressStep.
    static constexpr size_t kReportGap = kUnpackProgressStep - 8 * 1024;

    void publish(size_t done) {
        progress_->publish(done);
        mark_ = done == kUnpackFailed ? SIZE_MAX : done + kReportGap;
    }

    UnpackProgress* progress_;
    size_t mark_;  // output position at which to publish next
};

// Largest output of lzPack for `size` input bytes.
size_t lzBound(size_t size);

// Packs `size` bytes into `out` (capacity lzBound(size)); returns the packed length.
size_t lzPack(const uint8_t* in, size_t size, uint8_t* out);

// Unpacks exactly `expected` bytes into `out`; returns `expected`, or -1 when the stream is damaged (an item
// crossing the end of input or output, a reference to a table entry no earlier position wrote). Reads at
// most `size` input bytes and writes at most `expected` output bytes. Takes the plain form below when
// referenceKernels() is set.
long lzUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t expected);
long lzUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t expected, UnpackProgress* progress);

// The same unpacking byte by byte, straight from the stream's rules; the fast form must match it exactly,
// in result and output.
long lzUnpackReference(const uint8_t* in, size_t size, uint8_t* out, size_t expected,
                       UnpackProgress* progress = nullptr);

}  // namespace zrc

#endif
