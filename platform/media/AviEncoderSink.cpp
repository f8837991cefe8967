// Compressed AVI streams through FFmpeg: the frames (bottom-up or top-down
// BGR DIB rows) are converted with libswscale to the encoder's pixel format,
// encoded, and muxed by FFmpeg's AVI muxer into the file descriptor that
// AviWriter owns, through our own I/O callbacks.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/media/AviSink.h"
#include "platform/media/FFmpegLibraries.h"

namespace tarnel {

const AVCodec* FindAviEncoder(AviCodec codec);  // AviWriter.cpp

namespace {

// Quality 1..100 onto a scale where `worst` is quality 1 and `best` quality 100.
int qualityScale(int quality, int worst, int best) {
    const int q = std::clamp(quality, 1, 100);
    return int(std::lround(worst + double(best - worst) * (q - 1) / 99.0));
}

AVPixelFormat preferredFormat(AviCodec codec) {
    switch (codec) {
        case AviCodec::MJpeg: return AV_PIX_FMT_YUVJ420P;
        case AviCodec::FFV1: return AV_PIX_FMT_BGR0;  // lossless for BGR frames
        default: return AV_PIX_FMT_YUV420P;
    }
}

AVPixelFormat chooseFormat(const AVCodec* encoder, AviCodec codec) {
    const AVPixelFormat wanted = preferredFormat(codec);
    if (!encoder->pix_fmts) return wanted;
    for (const AVPixelFormat* f = encoder->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == wanted) return wanted;
    return encoder->pix_fmts[0];
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int writePacket(void* opaque, const uint8_t* buf, int size) {
#else
int writePacket(void* opaque, uint8_t* buf, int size) {
#endif
    const int fd = *static_cast<int*>(opaque);
    return WriteAll(fd, buf, size_t(size)) ? size : AVERROR(errno ? errno : EIO);
}

int64_t seekFile(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

class EncoderSink : public AviSink {
public:
    explicit EncoderSink(const AviCompressOptions& options) : options_(options) {}
    ~EncoderSink() override {
        // Nothing to free unless FFmpeg made it (and so was loaded).
        if (scaler_) ff().sws_freeContext(scaler_);
        if (frame_) ff().av_frame_free(&frame_);
        if (packet_) ff().av_packet_free(&packet_);
        if (encoder_) ff().avcodec_free_context(&encoder_);
        if (muxer_) ff().avformat_free_context(muxer_);
        if (io_) {
            ff().av_freep(&io_->buffer);
            ff().avio_context_free(&io_);
        }
    }

    bool begin(int fd, const AVISTREAMINFO& header, const AviFrameFormat& format, std::string& error) override {
        fd_ = fd;
        format_ = format;
        if (format.compression != 0 || (format.bitCount != 24 && format.bitCount != 32)) {
            error = "compressors take 24- or 32-bpp uncompressed frames";
            return false;
        }
        const AVCodec* codec = FindAviEncoder(options_.codec);
        if (!codec) {
            error = "this compressor is not available";
            return false;
        }
        // Checked here: x264 reports odd sizes only after it has leaked its settings.
        if (options_.codec == AviCodec::H264 && ((format.width | std::abs(format.height)) & 1)) {
            error = "H.264 needs an even width and height";
            return false;
        }
        encoder_ = ff().avcodec_alloc_context3(codec);
        frame_ = ff().av_frame_alloc();
        packet_ = ff().av_packet_alloc();
        if (!encoder_ || !frame_ || !packet_) return fail(error, "cannot start the compressor", AVERROR(ENOMEM));

        const int width = format.width, height = std::abs(format.height);
        encoder_->width = width;
        encoder_->height = height;
        encoder_->pix_fmt = chooseFormat(codec, options_.codec);
        encoder_->time_base = AVRational{int(header.dwScale), int(header.dwRate)};
        encoder_->framerate = AVRational{int(header.dwRate), int(header.dwScale)};
        encoder_->gop_size = std::max(1, options_.keyFrameEvery);
        encoder_->max_b_frames = 0;  // AVI has no reordering
        configureQuality(codec);

        int rc = ff().avcodec_open2(encoder_, codec, nullptr);
        if (rc < 0) return fail(error, "cannot open the compressor", rc);

        frame_->format = encoder_->pix_fmt;
        frame_->width = width;
        frame_->height = height;
        rc = ff().av_frame_get_buffer(frame_, 0);
        if (rc < 0) return fail(error, "cannot allocate a frame", rc);
        const AVPixelFormat input = format.bitCount == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGR0;
        scaler_ = ff().sws_getContext(width, height, input, width, height, encoder_->pix_fmt,
                                 SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
        if (!scaler_) return fail(error, "cannot convert frames for this compressor", AVERROR(EINVAL));
        stride_ = size_t(((int64_t(width) * format.bitCount + 31) / 32) * 4);

        rc = ff().avformat_alloc_output_context2(&muxer_, nullptr, "avi", nullptr);
        if (rc < 0 || !muxer_) return fail(error, "cannot start the AVI muxer", rc < 0 ? rc : AVERROR(ENOMEM));
        constexpr int kBuffer = 1 << 16;
        auto* buffer = static_cast<uint8_t*>(ff().av_malloc(kBuffer));
        if (!buffer) return fail(error, "cannot start the AVI muxer", AVERROR(ENOMEM));
        io_ = ff().avio_alloc_context(buffer, kBuffer, 1, &fd_, nullptr, writePacket, seekFile);
        if (!io_) {
            ff().av_free(buffer);
            return fail(error, "cannot start the AVI muxer", AVERROR(ENOMEM));
        }
        muxer_->pb = io_;
        muxer_->flags |= AVFMT_FLAG_CUSTOM_IO;
        stream_ = ff().avformat_new_stream(muxer_, nullptr);
        if (!stream_) return fail(error, "cannot create the video stream", AVERROR(ENOMEM));
        rc = ff().avcodec_parameters_from_context(stream_->codecpar, encoder_);
        if (rc < 0) return fail(error, "cannot create the video stream", rc);
        stream_->time_base = encoder_->time_base;
        stream_->avg_frame_rate = encoder_->framerate;
        rc = ff().avformat_write_header(muxer_, nullptr);
        if (rc < 0) return fail(error, "cannot write the AVI headers", rc);
        return true;
    }

    bool write(int32_t sample, const uint8_t* data, uint32_t, std::string& error) override {
        if (sample < next_) {
            error = "frame " + std::to_string(sample) + " is written out of order";
            return false;
        }
        int rc = ff().av_frame_make_writable(frame_);
        if (rc < 0) return fail(error, "cannot prepare a frame", rc);
        // A positive height stores the bottom row first: start at the last
        // stored row and step backwards to read top-down.
        const uint8_t* top = data;
        int stride = int(stride_);
        if (format_.height > 0) {
            top = data + stride_ * size_t(format_.height - 1);
            stride = -stride;
        }
        const uint8_t* planes[4] = {top, nullptr, nullptr, nullptr};
        const int strides[4] = {stride, 0, 0, 0};
        ff().sws_scale(scaler_, planes, strides, 0, encoder_->height, frame_->data, frame_->linesize);
        frame_->pts = sample;
        // Key frames follow the chosen interval, as with any compressor.
        frame_->pict_type = AV_PICTURE_TYPE_NONE;
        next_ = sample + 1;
        rc = ff().avcodec_send_frame(encoder_, frame_);
        if (rc < 0) return fail(error, "cannot compress a frame", rc);
        return drain(error);
    }

    bool finish(std::string& error) override {
        int rc = ff().avcodec_send_frame(encoder_, nullptr);
        if (rc < 0 && rc != AVERROR_EOF) return fail(error, "cannot finish the compressor", rc);
        if (!drain(error)) return false;
        rc = ff().av_write_trailer(muxer_);
        if (rc < 0) return fail(error, "cannot write the AVI index", rc);
        ff().avio_flush(io_);
        if (io_->error < 0) return fail(error, "cannot write the AVI file", io_->error);
        return true;
    }

private:
    void configureQuality(const AVCodec* codec) {
        const bool dataRate = options_.dataRateKBps > 0;
        switch (options_.codec) {
            case AviCodec::MJpeg:
            case AviCodec::Mpeg4:
                if (dataRate) {
                    encoder_->bit_rate = int64_t(options_.dataRateKBps) * 1024 * 8;
                } else {
                    encoder_->flags |= AV_CODEC_FLAG_QSCALE;
                    encoder_->global_quality = FF_QP2LAMBDA * qualityScale(options_.quality, 31, 1);
                }
                break;
            case AviCodec::H264:
                // Key frames exactly at the chosen interval, as the dialog promises.
                if (std::strcmp(codec->name, "libx264") == 0)
                    ff().av_opt_set(encoder_->priv_data, "x264-params", "scenecut=0", 0);
                if (dataRate) {
                    encoder_->bit_rate = int64_t(options_.dataRateKBps) * 1024 * 8;
                } else if (std::strcmp(codec->name, "libx264") == 0) {
                    ff().av_opt_set_int(encoder_->priv_data, "crf", qualityScale(options_.quality, 45, 12), 0);
                }
                break;
            case AviCodec::FFV1:
            case AviCodec::Raw: break;
        }
    }

    bool drain(std::string& error) {
        for (;;) {
            int rc = ff().avcodec_receive_packet(encoder_, packet_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return fail(error, "cannot compress a frame", rc);
            ff().av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            rc = ff().av_interleaved_write_frame(muxer_, packet_);
            ff().av_packet_unref(packet_);
            if (rc < 0) return fail(error, "cannot write a frame", rc);
        }
    }

    bool fail(std::string& error, const char* what, int code) {
        error = std::string(what) + ": " + FFmpegError(code);
        return false;
    }

    AviCompressOptions options_;
    AviFrameFormat format_;
    int fd_ = -1;
    size_t stride_ = 0;
    int32_t next_ = 0;
    AVCodecContext* encoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    AVFormatContext* muxer_ = nullptr;
    AVIOContext* io_ = nullptr;
    AVStream* stream_ = nullptr;
};

}  // namespace

std::unique_ptr<AviSink> MakeEncoderSink(const AviCompressOptions& options) {
    return std::make_unique<EncoderSink>(options);
}

}  // namespace tarnel
