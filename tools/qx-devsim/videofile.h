// Pictures from the video stream of a file (any container and codec libavformat and libavcodec read),
// from the start again at its end.
#pragma once

#include <string>

#include "tools/qx-devsim/picturesource.h"
#include "tools/qx-devsim/scaler.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

class VideoFile : public PictureSource {
public:
    VideoFile(int32_t width, int32_t height) : scaler_(width, height) {}
    ~VideoFile() override;
    VideoFile(const VideoFile&) = delete;
    VideoFile& operator=(const VideoFile&) = delete;

    bool open(const std::string& path, std::string* error);
    bool next(uint8_t* rgba) override;

private:
    // The next decoded frame into frame_; false at the end of the file or on an error.
    bool decodeOne();
    void close();

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::string path_;
    int stream_ = -1;
    bool draining_ = false;
    Scaler scaler_;
};
