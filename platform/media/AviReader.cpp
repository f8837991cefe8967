// The video stream of an AVI file through FFmpeg. The bytes always come
// through our own I/O callbacks (a file descriptor or memory), so a path is
// never read as a URL or protocol, and the demuxer may not open any other
// file or resource that the data names.
#include "platform/media/AviReader.h"
#include "platform/media/FFmpegLibraries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}


namespace tarnel {

namespace {

// Frames beyond this many pixels are refused: a decoded frame, its 32-bpp
// copy and the caller's work surfaces come to about 10 bytes a pixel.
constexpr int64_t kMaxVideoPixels = int64_t(1) << 26;
constexpr int kIoBufferSize = 32 * 1024;

// How many pixels a frame may have for the coded bytes behind it, as the
// picture loaders count: a run-length pair paints at most 255 pixels, a JPEG
// byte at most 1024 (arithmetic coding; Huffman stops at 512), and raw frames
// carry every byte. Codecs that repeat what earlier frames painted (run
// lengths with skips, inter-coded video) are counted over every byte of the
// stream so far; others over the frame's own packet.
constexpr int64_t kRunLengthPixelsPerPair = 255;
constexpr int64_t kDensePixelsPerByte = 1024;

enum class Coding { RunLength, Jpeg, Raw, Other };

Coding codingOf(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_MSRLE:
        case AV_CODEC_ID_QTRLE:
            return Coding::RunLength;
        case AV_CODEC_ID_MJPEG:
        case AV_CODEC_ID_MJPEGB:
        case AV_CODEC_ID_AMV:
            return Coding::Jpeg;
        case AV_CODEC_ID_RAWVIDEO:
            return Coding::Raw;
        default:
            return Coding::Other;
    }
}

// The most pixels `bytes` of coded data may yield beyond the floor.
int64_t pixelsFor(Coding coding, int64_t bytes, int64_t floorPixels) {
    bytes = std::clamp<int64_t>(bytes, 0, int64_t(1) << 40);
    if (coding == Coding::RunLength) return floorPixels + bytes / 2 * kRunLengthPixelsPerPair;
    return floorPixels + bytes * kDensePixelsPerByte;
}

// Bytes a raw frame of that size holds at least (rows unpadded).
int64_t rawFrameBytes(int64_t width, int64_t height, int bitsPerPixel) {
    return (width * std::max(bitsPerPixel, 1) + 7) / 8 * height;
}

std::string sizeText(int64_t width, int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// Demuxers that would follow a reference to another file or URL get nothing.
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

}  // namespace

struct AviReader::Impl {
    // The bytes: a regular file or a caller's buffer.
    int fd = -1;
    const uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t position = 0;

    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    AVCodecContext* decoder = nullptr;
    SwsContext* scaler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* converted = nullptr;  // 32 bpp with padded rows: the converter writes past a row's end
    int stream = -1;

    int64_t pixelFloor = 0;
    Coding coding = Coding::Other;
    int rawBits = 0;           // bits a pixel of raw frames
    int64_t codedBytes = 0;    // of the stream's packets sent to the decoder since opening
    int64_t probePixels = 0;   // the most a decoder may allocate while the streams are probed
    int32_t length = 0;
    int width = 0, height = 0;
    AVRational rate{0, 1};  // frames per second
    int32_t next = 0;        // number of the next frame the decoder gives
    bool flushing = false;   // the demuxer has ended; the decoder is being drained
    bool ended = false;      // no more frames will come

    ~Impl() {
        closeStreams();
        if (fd >= 0) ::close(fd);
    }

    static int readPacket(void* opaque, uint8_t* buffer, int wanted) {
        auto* self = static_cast<Impl*>(opaque);
        if (wanted <= 0) return 0;
        if (self->fd >= 0) {
            ssize_t got;
            do {
                got = ::read(self->fd, buffer, size_t(wanted));
            } while (got < 0 && errno == EINTR);
            if (got < 0) return AVERROR(EIO);
            return got == 0 ? AVERROR_EOF : int(got);
        }
        if (self->position >= self->size) return AVERROR_EOF;
        int64_t count = std::min<int64_t>(wanted, self->size - self->position);
        std::memcpy(buffer, self->data + self->position, size_t(count));
        self->position += count;
        return int(count);
    }

    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<Impl*>(opaque);
        whence &= ~AVSEEK_FORCE;
        if (whence == AVSEEK_SIZE) return self->size;
        int64_t base = 0;
        if (whence == SEEK_CUR) base = self->fd >= 0 ? int64_t(::lseek(self->fd, 0, SEEK_CUR)) : self->position;
        else if (whence == SEEK_END) base = self->size;
        else if (whence != SEEK_SET) return AVERROR(EINVAL);
        if (base < 0 || (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)) return AVERROR(EINVAL);
        int64_t target = base + offset;
        if (target < 0) return AVERROR(EINVAL);
        if (self->fd >= 0) {
            off_t at = ::lseek(self->fd, off_t(target), SEEK_SET);
            return at < 0 ? AVERROR(EIO) : int64_t(at);
        }
        self->position = target;  // past the end reads as the end
        return target;
    }

    void closeStreams() {
        ff().sws_freeContext(scaler);
        scaler = nullptr;
        ff().av_frame_free(&frame);
        ff().av_frame_free(&converted);
        ff().av_packet_free(&packet);
        ff().avcodec_free_context(&decoder);
        ff().avformat_close_input(&format);
        if (io) {
            ff().av_freep(&io->buffer);
            ff().avio_context_free(&io);
        }
        stream = -1;
        next = 0;
        codedBytes = 0;
        flushing = ended = false;
    }

    // Whether the bytes open as a RIFF AVI file. FFmpeg then gets its AVI
    // reader straight away instead of asking every reader it has; it would
    // choose the same one, so only the time spent choosing changes.
    bool startsAsAvi() const {
        uint8_t head[12];
        if (fd >= 0) {
            ssize_t got;
            do {
                got = ::pread(fd, head, sizeof head, 0);
            } while (got < 0 && errno == EINTR);
            if (got != ssize_t(sizeof head)) return false;
        } else {
            if (size < int64_t(sizeof head)) return false;
            std::memcpy(head, data, sizeof head);
        }
        return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
    }

    bool rewindSource() {
        if (fd >= 0) return ::lseek(fd, 0, SEEK_SET) == 0;
        position = 0;
        return true;
    }

    // Demuxer and decoder from the start of the bytes. The first opening
    // also sets the stream's size, rate and length; a re-opening for going
    // back keeps them.
    bool openStreams(std::string* error, bool first);
    bool claimedSizeUsable(std::string* error);
    // A frame far larger than the stream says is refused before the decoder
    // allocates it.
    int64_t decoderPixels() const {
        return std::min<int64_t>(kMaxVideoPixels, std::max<int64_t>(int64_t(width) * height * 4, 1 << 16));
    }
    bool packetBacksFrame(std::string* error);
    bool pickRate(const AVStream* st);
    int32_t countPackets();
    bool decodeNext(std::string* error);
    bool convert(Bitmap& out, std::string* error);
};

bool AviReader::Impl::pickRate(const AVStream* st) {
    auto usable = [](AVRational r) {
        // Between one frame an hour and a hundred thousand frames a second.
        return r.num > 0 && r.den > 0 && av_q2d(r) >= 1.0 / 3600 && av_q2d(r) <= 100000;
    };
    const bool avi = std::strcmp(format->iformat->name, "avi") == 0;
    // An AVI stream's time base is its scale / rate, one tick a frame.
    AVRational fromTimeBase = av_inv_q(st->time_base);
    if (avi && usable(fromTimeBase)) rate = fromTimeBase;
    else if (usable(st->avg_frame_rate)) rate = st->avg_frame_rate;
    else if (usable(st->r_frame_rate)) rate = st->r_frame_rate;
    else return false;
    return true;
}

// Packets of the stream, when the container says nothing of its length.
int32_t AviReader::Impl::countPackets() {
    int64_t count = 0;
    while (ff().av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) ++count;
        ff().av_packet_unref(packet);
    }
    return int32_t(std::min<int64_t>(count, std::numeric_limits<int32_t>::max()));
}

bool AviReader::Impl::openStreams(std::string* error, bool first) {
    closeStreams();
    if (!rewindSource()) return setError(error, "cannot read the file"), false;
    auto* buffer = static_cast<uint8_t*>(ff().av_malloc(kIoBufferSize));
    if (!buffer) return setError(error, "out of memory"), false;
    io = ff().avio_alloc_context(buffer, kIoBufferSize, 0, this, &Impl::readPacket, nullptr, &Impl::seek);
    if (!io) {
        ff().av_free(buffer);
        return setError(error, "out of memory"), false;
    }
    format = ff().avformat_alloc_context();
    if (!format) return setError(error, "out of memory"), false;
    format->pb = io;
    format->io_open = refuseNestedOpen;
    const AVInputFormat* known = startsAsAvi() ? ff().av_find_input_format("avi") : nullptr;
    if (ff().avformat_open_input(&format, nullptr, known, nullptr) < 0) {
        format = nullptr;  // freed by the failed open
        return setError(error, "not a video file FFmpeg can read"), false;
    }
    // The size the headers claim is judged before any frame is decoded, and
    // the decoders that look at the first frames may not allocate more.
    if (first && !claimedSizeUsable(error)) return false;
    std::vector<AVDictionary*> probeOptions(format->nb_streams, nullptr);
    const std::string probeLimit = std::to_string(std::max<int64_t>(probePixels, 1 << 16));
    for (AVDictionary*& options : probeOptions) ff().av_dict_set(&options, "max_pixels", probeLimit.c_str(), 0);
    const int probed = ff().avformat_find_stream_info(format, probeOptions.data());
    for (AVDictionary*& options : probeOptions) ff().av_dict_free(&options);
    if (probed < 0) return setError(error, "cannot read the stream information"), false;

    for (unsigned i = 0; i < format->nb_streams; ++i) {
        AVStream* st = format->streams[i];
        const bool video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
        if (stream < 0 && video) stream = int(i);
        else st->discard = AVDISCARD_ALL;
    }
    if (stream < 0) return setError(error, "the file has no video stream"), false;
    AVStream* st = format->streams[stream];
    const AVCodecParameters* par = st->codecpar;

    if (first) {
        if (!Bitmap::sizeAllowed(par->width, par->height) || int64_t(par->width) * par->height > kMaxVideoPixels)
            return setError(error, "the video frame size " + sizeText(par->width, par->height) + " is not supported"),
                   false;
        width = par->width;
        height = par->height;
        if (!pickRate(st)) return setError(error, "the video stream has no usable frame rate"), false;
    }

    const AVCodec* codec = ff().avcodec_find_decoder(par->codec_id);
    if (!codec) return setError(error, "no decoder for the video stream"), false;
    decoder = ff().avcodec_alloc_context3(codec);
    packet = ff().av_packet_alloc();
    frame = ff().av_frame_alloc();
    if (!decoder || !packet || !frame) return setError(error, "out of memory"), false;
    if (ff().avcodec_parameters_to_context(decoder, par) < 0) return setError(error, "bad stream parameters"), false;
    decoder->thread_count = 1;
    decoder->max_pixels = decoderPixels();
    if (ff().avcodec_open2(decoder, codec, nullptr) < 0) return setError(error, "cannot open the video decoder"), false;

    if (first) {
        const bool avi = std::strcmp(format->iformat->name, "avi") == 0;
        const int64_t claimed = st->nb_frames;
        // An AVI index that backs the header's count is believed. Otherwise
        // (no index, only the frames read so far, or a header that claims
        // more than the index holds) the frames are counted in the file.
        if (claimed > 0 && (!avi || ff().avformat_index_get_entries_count(st) >= claimed)) {
            length = int32_t(std::min<int64_t>(claimed, std::numeric_limits<int32_t>::max()));
        } else {
            int32_t counted = countPackets();
            length = claimed > 0 ? int32_t(std::min<int64_t>(claimed, counted)) : counted;
            return openStreams(error, false);
        }
    }
    return true;
}

// The first video stream's size as the headers give it: positive, within the
// surface limits, and not more than the whole file could code.
bool AviReader::Impl::claimedSizeUsable(std::string* error) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* st = format->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        const AVCodecParameters* par = st->codecpar;
        const int64_t w = par->width, h = par->height;
        const std::string claim = "the video frame size " + sizeText(w, h);
        coding = codingOf(par->codec_id);
        rawBits = par->bits_per_coded_sample;
        // Some containers leave the size to the decoder; it is judged again then.
        if (w == 0 && h == 0) {
            probePixels = std::min(kMaxVideoPixels, pixelsFor(coding, size, pixelFloor));
            return true;
        }
        if (w <= 0 || h <= 0) return setError(error, claim + " is invalid: width and height must be positive"), false;
        if (!Bitmap::sizeAllowed(w, h) || w * h > kMaxVideoPixels)
            return setError(error, claim + " is too large: a frame may have at most " +
                                       std::to_string(kMaxSurfaceSide) + " pixels a side and " +
                                       std::to_string(std::min<int64_t>(kMaxVideoPixels, kMaxSurfacePixels)) +
                                       " pixels"),
                   false;
        const bool backed = coding == Coding::Raw ? rawFrameBytes(w, h, rawBits) <= size
                                                  : w * h <= pixelsFor(coding, size, pixelFloor);
        if (!backed)
            return setError(error, claim + " is implausible for a file of " + std::to_string(size) + " bytes"), false;
        probePixels = std::min<int64_t>(kMaxVideoPixels, std::max<int64_t>(w * h * 4, 1 << 16));
        return true;
    }
    return true;
}

// Whether the packet in `packet` may yield a frame of the stream's size, and
// the decoder held to what it may yield.
bool AviReader::Impl::packetBacksFrame(std::string* error) {
    codedBytes += packet->size;
    const int64_t pixels = int64_t(width) * height;
    const bool whole = coding == Coding::Raw || coding == Coding::Jpeg;  // every frame stands alone
    const int64_t behind = whole ? packet->size : codedBytes;
    const bool backed = coding == Coding::Raw ? rawFrameBytes(width, height, rawBits) <= behind
                                              : pixels <= pixelsFor(coding, behind, pixelFloor);
    if (!backed)
        return setError(error, "frame " + std::to_string(next + 1) + " of " + sizeText(width, height) +
                                   " pixels is implausible for the " + std::to_string(behind) +
                                   " bytes coded for it"),
               false;
    if (coding != Coding::Raw)
        decoder->max_pixels = std::min(decoderPixels(), std::max(pixels, pixelsFor(coding, behind, pixelFloor)));
    return true;
}

// Decodes until the decoder gives one more frame (into `frame`).
bool AviReader::Impl::decodeNext(std::string* error) {
    ff().av_frame_unref(frame);
    while (!ended) {
        int r = ff().avcodec_receive_frame(decoder, frame);
        if (r == 0) {
            ++next;
            return true;
        }
        if (r == AVERROR_EOF) break;
        if (r != AVERROR(EAGAIN)) return setError(error, "a frame cannot be decoded"), false;
        if (flushing) break;
        r = ff().av_read_frame(format, packet);
        if (r < 0) {
            flushing = true;
            ff().avcodec_send_packet(decoder, nullptr);
            continue;
        }
        if (packet->stream_index != stream) {
            ff().av_packet_unref(packet);
            continue;
        }
        if (!packetBacksFrame(error)) {
            ff().av_packet_unref(packet);
            return false;
        }
        r = ff().avcodec_send_packet(decoder, packet);
        ff().av_packet_unref(packet);
        if (r < 0 && r != AVERROR(EAGAIN)) return setError(error, "a frame cannot be decoded"), false;
    }
    ended = true;
    return setError(error, "the video has no more frames"), false;
}

bool AviReader::Impl::convert(Bitmap& out, std::string* error) {
    if (frame->width <= 0 || frame->height <= 0 || int64_t(frame->width) * frame->height > kMaxVideoPixels)
        return setError(error, "bad frame size"), false;
    // A frame of another size than the stream's is fitted to the stream's.
    scaler = ff().sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format), width, height,
                                  AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) return setError(error, "unsupported pixel format"), false;
    if (out.width() != width || out.height() != height || out.bpp() != 32 || !out.topDown()) {
        if (!out.create(width, height, 32, true)) return setError(error, "out of memory"), false;
    }
    // Rows of whole 32-pixel blocks take the converter's widest stores
    // without running past them: convert straight into the bitmap.
    if (width % 32 == 0 && frame->width == width && frame->height == height) {
        uint8_t* planes[4] = {out.scanline(0), nullptr, nullptr, nullptr};
        int strides[4] = {out.stride(), 0, 0, 0};
        if (ff().sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
            return setError(error, "cannot convert the frame"), false;
        return true;
    }
    if (!converted) {
        converted = ff().av_frame_alloc();
        if (!converted) return setError(error, "out of memory"), false;
        converted->width = width;
        converted->height = height;
        converted->format = AV_PIX_FMT_BGR0;
        if (ff().av_frame_get_buffer(converted, 64) < 0) {
            ff().av_frame_free(&converted);
            return setError(error, "out of memory"), false;
        }
    }
    if (ff().sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, converted->data, converted->linesize) <= 0)
        return setError(error, "cannot convert the frame"), false;
    for (int y = 0; y < height; ++y)
        std::memcpy(out.scanline(y), converted->data[0] + ptrdiff_t(y) * converted->linesize[0], size_t(width) * 4);
    return true;
}

AviReader::AviReader(int64_t pixelFloor) : pixelFloor_(std::max<int64_t>(pixelFloor, 0)) {}
AviReader::~AviReader() = default;

bool AviReader::Open(const std::string& path, std::string* error) {
    Close();
    if (!LoadFFmpeg(error)) return false;
    struct stat info {};
    // A FIFO or device would block or never end; only regular files are read.
    if (::stat(path.c_str(), &info) != 0) return setError(error, "cannot find " + path), false;
    if (!S_ISREG(info.st_mode)) return setError(error, path + " is not a regular file"), false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return setError(error, "cannot open " + path + ": " + std::strerror(errno)), false;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return setError(error, path + " is not a regular file"), false;
    }
    auto impl = std::make_unique<Impl>();
    impl->pixelFloor = pixelFloor_;
    impl->fd = fd;
    impl->size = int64_t(info.st_size);
    if (!impl->openStreams(error, true)) return false;
    impl_ = std::move(impl);
    return true;
}

bool AviReader::OpenMemory(const uint8_t* data, size_t size, std::string* error) {
    Close();
    if (!LoadFFmpeg(error)) return false;
    if (!data && size > 0) return setError(error, "no data"), false;
    auto impl = std::make_unique<Impl>();
    impl->pixelFloor = pixelFloor_;
    impl->data = data;
    impl->size = int64_t(size);
    if (!impl->openStreams(error, true)) return false;
    impl_ = std::move(impl);
    return true;
}

void AviReader::Close() { impl_.reset(); }
bool AviReader::IsOpen() const { return impl_ != nullptr; }

int64_t AviReader::Bytes() const { return impl_ ? impl_->size : 0; }
int32_t AviReader::Start() const { return 0; }
int32_t AviReader::Length() const { return impl_ ? impl_->length : 0; }

int64_t AviReader::SampleToTime(int32_t sample) const {
    if (!impl_) return 0;
    // ms = sample * 1000 / rate, rounded to the nearest.
    return ff().av_rescale_rnd(sample, int64_t(1000) * impl_->rate.den, impl_->rate.num, AV_ROUND_NEAR_INF);
}

int AviReader::Width() const { return impl_ ? impl_->width : 0; }
int AviReader::Height() const { return impl_ ? impl_->height : 0; }
double AviReader::FramesPerSecond() const { return impl_ ? av_q2d(impl_->rate) : 0.0; }

bool AviReader::GetFrame(int32_t n, Bitmap& out, std::string* error) {
    if (!impl_) return setError(error, "no video is open"), false;
    if (n < 0 || n >= impl_->length) return setError(error, "no frame " + std::to_string(n)), false;
    // The frame decoded last is still at hand.
    if (n == impl_->next - 1 && impl_->frame && impl_->frame->data[0]) return impl_->convert(out, error);
    // Going back starts the decoder again from the first frame.
    if (n < impl_->next && !impl_->openStreams(error, false)) {
        impl_.reset();
        return false;
    }
    while (impl_->next <= n)
        if (!impl_->decodeNext(error)) return false;
    return impl_->convert(out, error);
}

}  // namespace tarnel
