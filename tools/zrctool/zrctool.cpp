// zrctool: pictures into ZRC frames and back, and a look inside frame files.
//
//   zrctool encode [--quality 0..5] [--matrix 8|16|32] [--format CODE] [--absolute-every N] -o FILE
//   PICTURE... zrctool decode FILE -o FOLDER zrctool dump FILE zrctool stats FILE [--source PICTURE...]
//
// PICTUREs are .png or .ppm files or folders of them (taken in name order). A picture that changes nothing
// makes no frame (or only one that refines the last), so stats pairs the frames with the pictures that made
// them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/include/zrc.h"
#include "tools/zrctool/framefile.h"
#include "tools/zrctool/pictureio.h"

namespace {

constexpr const char* kUsage =
    "usage: zrctool encode [--quality 0..5] [--matrix 8|16|32] [--format 0x84|0x8C|0x8D|0x8E|0x8F]\n"
    "                      [--absolute-every N] -o FILE PICTURE...\n"
    "       zrctool decode FILE -o FOLDER\n"
    "       zrctool dump FILE\n"
    "       zrctool stats FILE [--source PICTURE...]\n"
    "PICTURE: a .png or .ppm file, or a folder of them\n"
    "exit code: 0 done, 1 failed, 2 command line not understood\n";

// A command line that is not understood.
constexpr int kUsageError = 2;

int usage() {
    std::fputs(kUsage, stderr);
    return kUsageError;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "zrctool: %s\n", message.c_str());
    return 1;
}

// A whole number within [low, high] from an option value (decimal or 0x hex).
bool number(const std::string& text, long low, long high, long* value) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

struct Arguments {
    std::string command;
    std::string output;
    std::vector<std::string> inputs;   // pictures (encode) or the frame file first (others)
    std::vector<std::string> sources;  // stats --source
    long quality = 2;
    long matrix = 8;
    long format = ZRC_FRAME_YUV420;
    long absolute_every = 0;
};

bool parseArguments(int argc, char** argv, Arguments* a, std::string* error) {
    if (argc < 2) return false;
    a->command = argv[1];
    bool sources = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](long low, long high, long* out) {
            if (i + 1 >= argc || !number(argv[++i], low, high, out)) {
                *error = "bad value for " + arg;
                return false;
            }
            return true;
        };
        if (arg == "--quality") {
            if (!value(0, 5, &a->quality)) return false;
        } else if (arg == "--matrix") {
            if (!value(8, 32, &a->matrix) || (a->matrix != 8 && a->matrix != 16 && a->matrix != 32)) {
                *error = "matrix must be 8, 16 or 32";
                return false;
            }
        } else if (arg == "--format") {
            if (!value(0x84, 0x8F, &a->format)) return false;
        } else if (arg == "--absolute-every") {
            if (!value(0, 1 << 30, &a->absolute_every)) return false;
        } else if (arg == "-o") {
            if (i + 1 >= argc) return false;
            a->output = argv[++i];
        } else if (arg == "--source") {
            sources = true;
        } else if (!arg.empty() && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        } else {
            (sources ? a->sources : a->inputs).push_back(arg);
        }
    }
    return !a->inputs.empty();
}

bool readFile(const std::string& path, std::vector<uint8_t>* data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

int encode(const Arguments& a) {
    if (a.output.empty()) return usage();
    if (zrc_frame_format_supported(static_cast<uint32_t>(a.format), static_cast<int>(a.matrix)) != 1) {
        char text[80];
        std::snprintf(text, sizeof text, "frame format 0x%lX cannot be coded with matrix %ld", a.format,
                      a.matrix);
        return fail(text);
    }
    std::vector<std::string> files;
    std::string error;
    if (!listPictures(a.inputs, &files, &error)) return fail(error);
    std::ofstream out(a.output, std::ios::binary);
    if (!out) return fail(a.output + ": cannot create");
    ZrcHandle* handle = zrc_create();
    std::vector<uint8_t> frame;
    int width = 0, height = 0, frames = 0;
    size_t bytes = 0;
    int result = 0;
    for (size_t k = 0; k < files.size() && result == 0; ++k) {
        Picture picture;
        if (!readPicture(files[k], &picture, &error)) {
            result = fail(error);
        } else if (k == 0) {
            width = picture.width;
            height = picture.height;
            if (zrc_configure(handle, static_cast<int>(a.matrix), width, height, 44) != 0) {
                result = fail("cannot configure the encoder");
            } else {
                frame.resize(static_cast<size_t>(zrc_frame_capacity(handle)));
            }
        } else if (picture.width != width || picture.height != height) {
            result = fail(files[k] + ": size differs from the first picture");
        }
        if (result != 0) break;
        if (a.absolute_every > 0 && k > 0 && k % static_cast<size_t>(a.absolute_every) == 0)
            zrc_reset_encoder(handle);
        const int length = zrc_encode(handle, picture.rgba.data(), frame.data(),
                                      static_cast<uint32_t>(a.quality), static_cast<uint32_t>(a.format));
        if (length < 0) {
            result = fail(files[k] + ": encoding failed (" + std::to_string(length) + ")");
        } else if (length > 0) {
            out.write(reinterpret_cast<const char*>(frame.data()), length);
            ++frames;
            bytes += static_cast<size_t>(length);
        } else {
            std::printf("%s: no change, no frame\n", files[k].c_str());
        }
    }
    zrc_release(handle);
    if (result != 0) return result;
    if (!out.flush()) return fail(a.output + ": write failed");
    std::printf("%zu pictures, %d frames, %zu bytes\n", files.size(), frames, bytes);
    return 0;
}

// Reads and splits a frame file.
bool loadFrames(const std::string& path, std::vector<uint8_t>* data, std::vector<FrameRef>* frames) {
    if (!readFile(path, data)) {
        fail(path + ": cannot read");
        return false;
    }
    std::string error;
    if (!splitFrames(data->data(), data->size(), frames, &error)) {
        fail(path + ": " + error);
        return false;
    }
    return true;
}

// Decodes every frame in turn; calls show(index, frame, picture) for each one that produced a picture.
template <typename Show>
int decodeAll(const std::vector<uint8_t>& data, const std::vector<FrameRef>& frames, Show show) {
    ZrcHandle* handle = zrc_create();
    Picture picture;
    int result = 0;
    for (size_t k = 0; k < frames.size() && result == 0; ++k) {
        const FrameRef& f = frames[k];
        picture.width = f.header.width;
        picture.height = f.header.height;
        picture.rgba.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4);
        const int decoded = zrc_decompress(handle, data.data() + f.offset, picture.rgba.data(), nullptr);
        if (decoded < 0) {
            result =
                fail("frame " + std::to_string(k) + ": decoding failed (" + std::to_string(decoded) + ")");
        } else if (decoded > 0) {
            result = show(k, f, picture);
        }
    }
    zrc_release(handle);
    return result;
}

int decode(const Arguments& a) {
    if (a.output.empty()) return usage();
    std::vector<uint8_t> data;
    std::vector<FrameRef> frames;
    if (!loadFrames(a.inputs[0], &data, &frames)) return 1;
    std::error_code made;
    std::filesystem::create_directories(a.output, made);
    if (made) return fail(a.output + ": " + made.message());
    int written = 0;
    const int result = decodeAll(data, frames, [&](size_t, const FrameRef&, const Picture& picture) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%06d%s", written, kPictureExtension);
        std::string error;
        if (!writePicture(a.output + name, picture, &error)) return fail(error);
        ++written;
        return 0;
    });
    if (result == 0) std::printf("%d pictures written to %s\n", written, a.output.c_str());
    return result;
}

int dump(const Arguments& a) {
    std::vector<uint8_t> data;
    std::vector<FrameRef> frames;
    if (!loadFrames(a.inputs[0], &data, &frames)) return 1;
    for (size_t k = 0; k < frames.size(); ++k) {
        char text[ZRC_HEADER_TEXT_SIZE];
        zrc_dump_header(data.data() + frames[k].offset, text);
        std::printf("# frame %zu at offset %zu\n%s", k, frames[k].offset, text);
    }
    return 0;
}

double psnr(const Picture& a, const Picture& b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = static_cast<double>(a.rgba[i]) - b.rgba[i];
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.rgba.size() / 4 * 3) / sum);
}

const char* typeName(uint32_t diff_type) {
    return diff_type == ZRC_DIFF_ABSOLUTE ? "absolute" : diff_type == ZRC_DIFF_REPLACE ? "replace" : "xor";
}

// Walks the source pictures beside the frames. A picture that changes nothing adds no frame, or one that
// only sends blocks again at the finest quality (or restarts the stream), so a frame comes either from a
// picture like the last one or from the next picture that differs from it: its decoded picture tells which.
class SourcePairing {
public:
    explicit SourcePairing(const std::vector<std::string>& files) : files_(files) {}

    // The source of the next frame, given its decoded picture; null when there are no sources or on error.
    const Picture* next(const Picture& decoded, std::string* error) {
        if (!started_) {
            started_ = true;
            if (files_.empty() || !readPicture(files_[0], &current_, error)) return nullptr;
            return &current_;
        }
        Picture changed;
        size_t c = index_ + 1;
        for (; c < files_.size(); ++c) {
            if (!readPicture(files_[c], &changed, error)) return nullptr;
            if (changed.rgba != current_.rgba) break;
        }
        if (c < files_.size() && closeness(decoded, changed) >= closeness(decoded, current_)) {
            index_ = c;
            current_ = std::move(changed);
        }
        return &current_;
    }

private:
    static double closeness(const Picture& a, const Picture& b) {
        return a.rgba.size() == b.rgba.size() ? psnr(a, b) : 0.0;
    }

    const std::vector<std::string>& files_;
    bool started_ = false;
    size_t index_ = 0;
    Picture current_;
};

int stats(const Arguments& a) {
    std::vector<uint8_t> data;
    std::vector<FrameRef> frames;
    if (!loadFrames(a.inputs[0], &data, &frames)) return 1;
    std::vector<std::string> sources;
    std::string error;
    if (!a.sources.empty() && !listPictures(a.sources, &sources, &error)) return fail(error);
    SourcePairing pairing(sources);
    size_t bytes = 0, counts[3] = {};
    double psnr_sum = 0;
    int psnr_count = 0;
    bool sources_left = !sources.empty();
    const int result = decodeAll(data, frames, [&](size_t k, const FrameRef& f, const Picture& picture) {
        bytes += f.length;
        ++counts[f.header.diff_type == ZRC_DIFF_ABSOLUTE  ? 0
                 : f.header.diff_type == ZRC_DIFF_REPLACE ? 1
                                                          : 2];
        std::printf("frame %zu id %u %s %zu bytes, %u blocks coded, quality %u, format %#x, pack %u", k,
                    f.header.id, typeName(f.header.diff_type), f.length, f.header.predictions,
                    f.header.quality, f.header.frame_format, f.header.pack_format);
        if (sources_left) {
            error.clear();
            const Picture* source = pairing.next(picture, &error);
            if (!error.empty()) return fail(error);
            sources_left = source != nullptr;
            if (source != nullptr) {
                if (source->width != picture.width || source->height != picture.height)
                    return fail("a source picture's size differs from the frames");
                const double p = psnr(picture, *source);
                psnr_sum += p;
                ++psnr_count;
                std::printf(", psnr %.2f dB", p);
            }
        }
        std::printf("\n");
        return 0;
    });
    if (result != 0) return result;
    std::printf("%zu frames (%zu absolute, %zu replace, %zu xor), %zu bytes, %.0f bytes a frame",
                frames.size(), counts[0], counts[1], counts[2], bytes,
                frames.empty() ? 0.0 : static_cast<double>(bytes) / static_cast<double>(frames.size()));
    if (psnr_count > 0) std::printf(", mean psnr %.2f dB", psnr_sum / psnr_count);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Arguments a;
    std::string error;
    if (!parseArguments(argc, argv, &a, &error)) {
        if (!error.empty()) std::fprintf(stderr, "zrctool: %s\n", error.c_str());
        return usage();
    }
    if (a.command == "encode") return encode(a);
    if (a.command == "decode") return decode(a);
    if (a.command == "dump") return dump(a);
    if (a.command == "stats") return stats(a);
    return usage();
}
