#include "platform/media/VideoWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/StaleTempFiles.h"
#include "platform/media/FFmpegLibraries.h"

namespace tarnel {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

const char* muxerName(VideoContainer container) {
    switch (container) {
        case VideoContainer::Mp4: return "mp4";
        case VideoContainer::WebM: return "webm";
        case VideoContainer::Apng: return "apng";
    }
    return "";
}

const char* codecLabel(VideoContainer container) {
    switch (container) {
        case VideoContainer::Mp4: return "H.264";
        case VideoContainer::WebM: return "VP9";
        case VideoContainer::Apng: return "APNG";
    }
    return "";
}

std::string encoderOf(const VideoOptions& options) {
    return options.encoder.empty() ? VideoEncoderName(options.container) : options.encoder;
}

}  // namespace

std::optional<VideoContainer> VideoContainerFor(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".mp4") return VideoContainer::Mp4;
    if (ext == ".webm") return VideoContainer::WebM;
    if (ext == ".apng" || ext == ".png") return VideoContainer::Apng;
    return std::nullopt;
}

const char* VideoContainerName(VideoContainer container) {
    switch (container) {
        case VideoContainer::Mp4: return "MP4";
        case VideoContainer::WebM: return "WebM";
        case VideoContainer::Apng: return "APNG";
    }
    return "";
}

const char* VideoEncoderName(VideoContainer container) {
    switch (container) {
        case VideoContainer::Mp4: return "libx264";
        case VideoContainer::WebM: return "libvpx-vp9";
        case VideoContainer::Apng: return "apng";
    }
    return "";
}

int DefaultVideoCrf(VideoContainer container) {
    return container == VideoContainer::Mp4 ? 23 : container == VideoContainer::WebM ? 32 : 0;
}

int MaxVideoCrf(VideoContainer container) {
    return container == VideoContainer::Mp4 ? 51 : container == VideoContainer::WebM ? 63 : 0;
}

bool VideoEncoderAvailable(const VideoOptions& options, std::string* why) {
    if (!LoadFFmpeg(why)) return false;
    const std::string name = encoderOf(options);
    if (ff().avcodec_find_encoder_by_name(name.c_str())) return true;
    if (why)
        *why = std::string("this FFmpeg has no ") + codecLabel(options.container) + " encoder (" + name + ") for " +
               VideoContainerName(options.container);
    return false;
}

struct VideoWriter::Impl {
    std::string error;
    std::string target;  // where Commit puts the file (a symbolic link resolved)
    LockedTempFile temp;
    bool keepMode = false;
    mode_t mode = 0;
    VideoOptions options;
    int codedWidth = 0, codedHeight = 0;
    // The size frames are converted at: even, the last column and row
    // repeated. FFmpeg's converter smears the last column of an odd width.
    int evenWidth = 0, evenHeight = 0;
    int frames = 0;
    int encoded = 0;
    std::function<void(int)> encodedCallback;
    bool broken = false;  // a write failed part-way: the file must not be committed
    bool headerWritten = false;

    AVCodecContext* encoder = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    int scalerBpp = 0;
    AVFormatContext* muxer = nullptr;
    AVStream* stream = nullptr;
    std::vector<uint8_t> padded;  // an odd-sized frame with its last column and row repeated

    bool fail(const std::string& text) {
        error = text;
        return false;
    }
    bool failAv(const std::string& what, int code) { return fail(what + ": " + FFmpegError(code)); }
    bool failErrno(const std::string& what, int code) { return fail(what + ": " + std::strerror(code)); }

    void freeCodec() {
        // Nothing to free unless FFmpeg made it (and so was loaded).
        if (scaler) ff().sws_freeContext(scaler);
        scaler = nullptr;
        scalerBpp = 0;
        if (frame) ff().av_frame_free(&frame);
        if (packet) ff().av_packet_free(&packet);
        if (encoder) ff().avcodec_free_context(&encoder);
        if (muxer) {
            if (muxer->pb) ff().avio_closep(&muxer->pb);
            ff().avformat_free_context(muxer);
            muxer = nullptr;
        }
        stream = nullptr;
        headerWritten = false;
        std::vector<uint8_t>().swap(padded);
    }

    bool reserveTemp(const std::string& path);
    bool openEncoder();
    bool openMuxer();
    bool drain();
    bool prepareFrame();
    bool convert(const Bitmap& picture);
};

bool VideoWriter::Impl::reserveTemp(const std::string& path) {
    if (std::error_code ec = ResolveWriteTarget(path, target)) return fail(path + ": " + ec.message());
    if (fs::path(target).filename().empty()) return fail(path + ": not a file name");
    struct stat existing {};
    keepMode = ::stat(target.c_str(), &existing) == 0;
    mode = existing.st_mode & 07777;

    const fs::path t(target);
    const fs::path folder = t.parent_path().empty() ? fs::path(".") : t.parent_path();
    // Held open and locked until Commit or Release; FFmpeg writes it by name.
    // Built by appending: GCC 12 warns wrongly about "." + name.
    std::string stem(1, '.');
    stem += t.filename().string();
    if (std::error_code ec = temp.create(folder.string(), stem, "", O_WRONLY))
        return failErrno(path, ec.value());
    // The replacement keeps the permissions of the file it replaces.
    if (keepMode) ::fchmod(temp.fd(), mode);
    return true;
}

bool VideoWriter::Impl::openEncoder() {
    const std::string name = encoderOf(options);
    const AVCodec* codec = ff().avcodec_find_encoder_by_name(name.c_str());
    if (!codec) {
        std::string why;
        VideoEncoderAvailable(options, &why);
        return fail(why);
    }
    encoder = ff().avcodec_alloc_context3(codec);
    frame = ff().av_frame_alloc();
    packet = ff().av_packet_alloc();
    if (!encoder || !frame || !packet) return failAv("cannot start the encoder", AVERROR(ENOMEM));

    const bool apng = options.container == VideoContainer::Apng;
    encoder->width = codedWidth;
    encoder->height = codedHeight;
    encoder->pix_fmt = apng ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUV420P;
    encoder->time_base = AVRational{1, options.framesPerSecond};
    encoder->framerate = AVRational{options.framesPerSecond, 1};
    encoder->sample_aspect_ratio = AVRational{1, 1};
    // A key frame at least every five seconds, so a player can seek.
    encoder->gop_size = std::max(1, options.framesPerSecond * 5);
    encoder->bit_rate = 0;   // quality alone decides
    encoder->thread_count = 0;  // as many as the machine has
    if (!apng) {
        encoder->color_range = AVCOL_RANGE_MPEG;
        encoder->colorspace = AVCOL_SPC_BT709;
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
    }
    if (options.container == VideoContainer::Mp4) {
        // MP4 keeps the encoder's parameter sets in the sample description.
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int crf = options.crf < 0 ? DefaultVideoCrf(options.container) : options.crf;
    if (codec->id == AV_CODEC_ID_H264) {
        ff().av_opt_set_double(encoder->priv_data, "crf", crf, 0);
    } else if (codec->id == AV_CODEC_ID_VP9) {
        ff().av_opt_set_int(encoder->priv_data, "crf", crf, 0);
        // Single pass at a speed that suits a desktop export; rows in parallel.
        ff().av_opt_set(encoder->priv_data, "deadline", "good", 0);
        ff().av_opt_set_int(encoder->priv_data, "cpu-used", 4, 0);
        ff().av_opt_set_int(encoder->priv_data, "row-mt", 1, 0);
    } else if (codec->id == AV_CODEC_ID_APNG) {
        // Morph frames are photographs: unfiltered rows (FFmpeg's default)
        // compress worst, the average filter about as well as choosing per
        // row and sooner (photo morphs: 0.5-0.7 of the unfiltered size).
        ff().av_opt_set(encoder->priv_data, "pred", "avg", 0);
    }
    int rc = ff().avcodec_open2(encoder, codec, nullptr);
    if (rc < 0) return failAv(std::string("cannot open the ") + codec->name + " encoder", rc);

    return prepareFrame();
}

bool VideoWriter::Impl::prepareFrame() {
    // A frame the encoder still holds is left to it; a new one is made.
    if (frame->buf[0] && ff().av_frame_is_writable(frame)) return true;
    ff().av_frame_unref(frame);
    frame->format = options.container == VideoContainer::Apng ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUV420P;
    frame->width = evenWidth;
    frame->height = evenHeight;
    const int rc = ff().av_frame_get_buffer(frame, 0);
    if (rc < 0) return failAv("cannot allocate a frame", rc);
    // The encoder takes the odd size from buffers of the even one.
    frame->width = codedWidth;
    frame->height = codedHeight;
    return true;
}

bool VideoWriter::Impl::openMuxer() {
    // FFmpeg's own file I/O: the MP4 muxer reopens the file by name to move
    // its index to the front.
    const std::string url = "file:" + temp.path();
    int rc = ff().avformat_alloc_output_context2(&muxer, nullptr, muxerName(options.container), url.c_str());
    if (rc < 0 || !muxer) return failAv("cannot start the muxer", rc < 0 ? rc : AVERROR(ENOMEM));
    stream = ff().avformat_new_stream(muxer, nullptr);
    if (!stream) return failAv("cannot create the video stream", AVERROR(ENOMEM));
    rc = ff().avcodec_parameters_from_context(stream->codecpar, encoder);
    if (rc < 0) return failAv("cannot create the video stream", rc);
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;
    stream->r_frame_rate = encoder->framerate;
    rc = ff().avio_open(&muxer->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) return failAv(target, rc);
    AVDictionary* settings = nullptr;
    if (options.container == VideoContainer::Mp4) ff().av_dict_set(&settings, "movflags", "+faststart", 0);
    if (options.container == VideoContainer::Apng) ff().av_dict_set_int(&settings, "plays", options.loops, 0);
    rc = ff().avformat_write_header(muxer, &settings);
    ff().av_dict_free(&settings);
    if (rc < 0) return failAv("cannot write the file headers", rc);
    headerWritten = true;
    return true;
}

bool VideoWriter::Impl::drain() {
    for (;;) {
        int rc = ff().avcodec_receive_packet(encoder, packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return failAv("cannot encode a frame", rc);
        // Every frame lasts one frame interval, the last one included.
        if (packet->duration <= 0) packet->duration = 1;
        ff().av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        rc = ff().av_interleaved_write_frame(muxer, packet);
        ff().av_packet_unref(packet);
        if (rc < 0) return failAv("cannot write a frame", rc);
        ++encoded;
        if (encodedCallback) encodedCallback(encoded);
    }
}

bool VideoWriter::Impl::convert(const Bitmap& picture) {
    const int bpp = picture.bpp();
    const int bytes = bpp / 8;
    if (options.container == VideoContainer::Apng) {
        // Lossless: the bytes reordered, no converter in between.
        if (!prepareFrame()) return false;
        for (int y = 0; y < picture.height(); ++y) {
            const uint8_t* from = picture.scanline(y);
            uint8_t* to = frame->data[0] + size_t(y) * size_t(frame->linesize[0]);
            for (int x = 0; x < picture.width(); ++x, from += bytes, to += 3) {
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
        }
        return true;
    }
    if (!scaler || scalerBpp != bpp) {
        ff().sws_freeContext(scaler);
        const AVPixelFormat input = bpp == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGR0;
        scaler = ff().sws_getContext(evenWidth, evenHeight, input, evenWidth, evenHeight, AV_PIX_FMT_YUV420P,
                                SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        if (!scaler) return failAv("cannot convert frames for the encoder", AVERROR(EINVAL));
        // Full-range RGB in, BT.709 video range out, as the stream is tagged.
        const int* rgb = ff().sws_getCoefficients(SWS_CS_DEFAULT);
        ff().sws_setColorspaceDetails(scaler, rgb, 1, ff().sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
        scalerBpp = bpp;
    }
    const uint8_t* top = picture.scanline(0);
    int stride = picture.height() > 1 ? int(picture.scanline(1) - picture.scanline(0)) : picture.stride();
    if (evenWidth != picture.width() || evenHeight != picture.height()) {
        // The last column and row repeated to the even size.
        const size_t row = size_t(evenWidth) * size_t(bytes);
        padded.resize(row * size_t(evenHeight));
        for (int y = 0; y < evenHeight; ++y) {
            const uint8_t* from = picture.scanline(std::min(y, picture.height() - 1));
            uint8_t* to = padded.data() + row * size_t(y);
            std::memcpy(to, from, size_t(picture.width()) * size_t(bytes));
            for (int x = picture.width(); x < evenWidth; ++x)
                std::memcpy(to + size_t(x) * size_t(bytes), from + size_t(picture.width() - 1) * size_t(bytes),
                            size_t(bytes));
        }
        top = padded.data();
        stride = int(row);
    }
    if (!prepareFrame()) return false;
    const uint8_t* planes[4] = {top, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    const int rc = ff().sws_scale(scaler, planes, strides, 0, evenHeight, frame->data, frame->linesize);
    if (rc <= 0) return failAv("cannot convert a frame", rc < 0 ? rc : AVERROR(EINVAL));
    return true;
}

VideoWriter::VideoWriter() : impl_(std::make_unique<Impl>()) {}

VideoWriter::~VideoWriter() { Release(); }

const std::string& VideoWriter::LastError() const { return impl_->error; }
int VideoWriter::codedWidth() const { return impl_->codedWidth; }
int VideoWriter::codedHeight() const { return impl_->codedHeight; }
int VideoWriter::framesWritten() const { return impl_->frames; }
int VideoWriter::framesEncoded() const { return impl_->encoded; }
void VideoWriter::onEncoded(std::function<void(int)> callback) { impl_->encodedCallback = std::move(callback); }

bool VideoWriter::Open(const std::string& path, const VideoOptions& options) {
    Release();
    Impl& m = *impl_;
    m.error.clear();
    if (!Bitmap::sizeAllowed(options.width, options.height))
        return m.fail("the frame size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
                      " is out of range");
    if (options.framesPerSecond < kMinVideoFrameRate || options.framesPerSecond > kMaxVideoFrameRate)
        return m.fail("the frame rate must be " + std::to_string(kMinVideoFrameRate) + " to " +
                      std::to_string(kMaxVideoFrameRate));
    if (options.crf > MaxVideoCrf(options.container))
        return m.fail(std::string("the quality factor must be 0 to ") + std::to_string(MaxVideoCrf(options.container)) +
                      " for " + VideoContainerName(options.container));
    m.options = options;
    if (options.loops < 0 || options.loops > 65535) return m.fail("the loop count must be 0 to 65535");
    if (std::string why; !LoadFFmpeg(&why)) return m.fail(why);
    const bool even = options.container == VideoContainer::Mp4;
    m.evenWidth = (options.width + 1) & ~1;
    m.evenHeight = (options.height + 1) & ~1;
    m.codedWidth = even ? m.evenWidth : options.width;
    m.codedHeight = even ? m.evenHeight : options.height;
    // The encoder first: a missing one leaves no file behind to clean up.
    if (!m.openEncoder() || !m.reserveTemp(path) || !m.openMuxer()) {
        const std::string why = m.error;
        Release();
        m.error = why;
        return false;
    }
    return true;
}

bool VideoWriter::Write(const Bitmap& picture) {
    Impl& m = *impl_;
    if (!m.headerWritten) return m.fail("no video file is open");
    if (m.broken) return m.fail("an earlier frame could not be written");
    if (picture.bpp() != 24 && picture.bpp() != 32) return m.fail("frames must be 24 or 32 bits per pixel");
    if (picture.width() != m.options.width || picture.height() != m.options.height)
        return m.fail("a frame of " + std::to_string(picture.width()) + "x" + std::to_string(picture.height()) +
                      " in a video of " + std::to_string(m.options.width) + "x" + std::to_string(m.options.height));
    if (!m.convert(picture)) return false;
    m.frame->pts = m.frames;
    int rc = ff().avcodec_send_frame(m.encoder, m.frame);
    if (rc < 0 || !m.drain()) {
        m.broken = true;
        return rc < 0 ? m.failAv("cannot encode a frame", rc) : false;
    }
    ++m.frames;
    return true;
}

bool VideoWriter::Commit() {
    Impl& m = *impl_;
    if (!m.headerWritten) return m.fail("no video file is open");
    if (m.broken) return m.fail("an earlier frame could not be written");
    if (m.frames == 0) return m.fail("a video needs at least one frame");
    int rc = ff().avcodec_send_frame(m.encoder, nullptr);
    if (rc < 0 && rc != AVERROR_EOF) return m.failAv("cannot finish the encoder", rc);
    if (!m.drain()) {
        m.broken = true;
        return false;
    }
    rc = ff().av_write_trailer(m.muxer);
    m.broken = true;  // whatever follows, the muxer is done with
    if (rc < 0) return m.failAv("cannot finish the file", rc);
    rc = ff().avio_closep(&m.muxer->pb);
    if (rc < 0) return m.failAv(m.target, rc);
    // The data reach the disk before the name does.
    const int fd = ::open(m.temp.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return m.failErrno(m.target, errno);
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (!synced) return m.failErrno(m.target, syncError);
    if (::rename(m.temp.path().c_str(), m.target.c_str()) != 0) return m.failErrno(m.target, errno);
    m.temp.release();
    const std::string folder = fs::path(m.target).parent_path().string();
    if (std::error_code ec = SyncFolder(folder)) return m.fail((folder.empty() ? "." : folder) + ": " + ec.message());
    return true;
}

void VideoWriter::Release() {
    Impl& m = *impl_;
    m.freeCodec();
    m.temp.remove();
    m.broken = false;
    m.frames = 0;
    m.encoded = 0;
}

}  // namespace tarnel
