#include "platform/media/AviWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/LittleEndian.h"
#include "platform/StaleTempFiles.h"
#include "platform/media/AviSink.h"
#include "platform/media/FFmpegLibraries.h"

namespace tarnel {

namespace fs = std::filesystem;

uint32_t mmioStringToFOURCC(const char* text) {
    // The first four characters; a shorter text is padded with spaces.
    uint32_t code = 0;
    bool ended = text == nullptr;
    for (int i = 0; i < 4; ++i) {
        if (!ended && text[i] == '\0') ended = true;
        const uint8_t c = ended ? uint8_t(' ') : uint8_t(text[i]);
        code |= uint32_t(c) << (8 * i);
    }
    return code;
}

const AVCodec* FindAviEncoder(AviCodec codec) {
    // Without FFmpeg only uncompressed AVI files can be written.
    if (!LoadFFmpeg()) return nullptr;
    switch (codec) {
        case AviCodec::Raw: return nullptr;
        case AviCodec::MJpeg: return ff().avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        case AviCodec::FFV1: return ff().avcodec_find_encoder(AV_CODEC_ID_FFV1);
        case AviCodec::Mpeg4: return ff().avcodec_find_encoder_by_name("mpeg4");
        case AviCodec::H264:
            // The software encoder when present: hardware ones fail to open on most machines.
            if (const AVCodec* x264 = ff().avcodec_find_encoder_by_name("libx264")) return x264;
            return ff().avcodec_find_encoder(AV_CODEC_ID_H264);
    }
    return nullptr;
}

std::vector<AviCodecInfo> AvailableAviCodecs() {
    std::vector<AviCodecInfo> list;
    list.push_back({AviCodec::Raw, "raw", "ﾌﾙ ﾌﾚｰﾑ (非圧縮)", false, false, false});
    const AviCodecInfo candidates[] = {
        {AviCodec::MJpeg, "mjpeg", "Motion JPEG", true, false, true},
        {AviCodec::FFV1, "ffv1", "FFV1 (ﾛｽﾚｽ)", false, true, false},
        {AviCodec::Mpeg4, "mpeg4", "MPEG-4 Part 2", true, true, true},
        {AviCodec::H264, "h264", "H.264", true, true, true},
    };
    for (const AviCodecInfo& c : candidates)
        if (FindAviEncoder(c.codec)) list.push_back(c);
    return list;
}

bool FindAviCodec(const std::string& key, AviCodecInfo* info) {
    for (const AviCodecInfo& c : AvailableAviCodecs()) {
        if (c.key != key) continue;
        if (info) *info = c;
        return true;
    }
    return false;
}

bool WriteAll(int fd, const void* data, size_t size) {
    auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool PWriteAll(int fd, const void* data, size_t size, uint64_t offset) {
    auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

bool AviFrameFormat::parse(const uint8_t* data, size_t size, std::string& error) {
    if (!data || size < 40 || Le32(data) < 40 || Le32(data) > size) {
        error = "the frame format is not a bitmap info header";
        return false;
    }
    width = int32_t(Le32(data + 4));
    height = int32_t(Le32(data + 8));
    bitCount = Le16(data + 14);
    compression = Le32(data + 16);
    if (width <= 0 || height == 0 || height == INT32_MIN || width > 32767 || std::abs(height) > 32767) {
        error = "the frame size is out of range";
        return false;
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) {
        error = "unsupported bits per pixel: " + std::to_string(bitCount);
        return false;
    }
    imageSize = size_t(((int64_t(width) * bitCount + 31) / 32) * 4) * size_t(std::abs(height));
    if (imageSize >= kMaxAviFileBytes) {
        error = "the frames are too large for an AVI file";
        return false;
    }
    block.assign(data, data + size);
    return true;
}

struct AviWriter::Impl {
    std::string error;
    std::string target;  // where Commit puts the file (a symbolic link resolved)
    LockedTempFile temp;
    int fd = -1;
    bool streamMade = false;
    bool compressed = false;
    AVISTREAMINFO header;
    AviCompressOptions options;
    std::unique_ptr<AviSink> sink;
    size_t frameBytes = 0;
    int32_t nextSample = 0;
    bool broken = false;  // a write failed part-way: the file must not be committed

    bool fail(const std::string& text) {
        error = text;
        return false;
    }
    bool failErrno(const std::string& text, int code) { return fail(text + ": " + std::strerror(code)); }
};

AviWriter::AviWriter() : impl_(std::make_unique<Impl>()) {}

AviWriter::~AviWriter() { Release(); }

const std::string& AviWriter::LastError() const { return impl_->error; }

bool AviWriter::FileOpen(const std::string& path, uint32_t mode) {
    Release();
    Impl& m = *impl_;
    m.error.clear();
    if (!(mode & OF_CREATE)) return m.fail("only new AVI files can be written");
    // Through symbolic links to their target; anything but a regular file is refused.
    std::string target;
    if (std::error_code ec = ResolveWriteTarget(path, target)) return m.fail(path + ": " + ec.message());
    if (fs::path(target).filename().empty()) return m.fail(path + ": not a file name");

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;

    const fs::path t(target);
    const fs::path folder = t.parent_path().empty() ? fs::path(".") : t.parent_path();
    LockedTempFile temp;
    // Built by appending: GCC 12 warns wrongly about "." + name.
    std::string stem(1, '.');
    stem += t.filename().string();
    if (std::error_code ec = temp.create(folder.string(), stem, "", O_RDWR))
        return m.failErrno(path, ec.value());
    // The writing descriptor is closed before the rename and its close
    // checked; the lock stays with `temp` until the file is in place.
    const int fd = ::fcntl(temp.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return m.failErrno(path, errno);
    // The replacement keeps the permissions of the file it replaces.
    if (exists) ::fchmod(fd, existing.st_mode & 07777);
    m.fd = fd;
    m.temp = std::move(temp);
    m.target = target;
    return true;
}

bool AviWriter::CreateStream(const AVISTREAMINFO& header) {
    Impl& m = *impl_;
    if (m.fd < 0) return m.fail("no AVI file is open");
    if (m.streamMade) return m.fail("the AVI file already has its video stream");
    if (header.fccType != mmioStringToFOURCC("vids")) return m.fail("only video streams can be written");
    if (header.dwScale == 0 || header.dwRate == 0 || header.dwScale > INT32_MAX || header.dwRate > INT32_MAX)
        return m.fail("the stream needs a frame rate");
    m.header = header;
    m.streamMade = true;
    return true;
}

bool AviWriter::MakeCompressedStream(const AviCompressOptions& options) {
    Impl& m = *impl_;
    if (!m.streamMade) return m.fail("no video stream to compress");
    if (m.sink) return m.fail("the stream is already being written");
    if (options.codec != AviCodec::Raw && !FindAviEncoder(options.codec))
        return m.fail("this compressor is not available");
    m.options = options;
    m.compressed = true;
    return true;
}

bool AviWriter::SetFormat(const uint8_t* bitmapInfo, size_t size) {
    Impl& m = *impl_;
    if (!m.streamMade) return m.fail("no video stream");
    if (m.sink) return m.fail("the stream format is already set");
    AviFrameFormat format;
    if (!format.parse(bitmapInfo, size, m.error)) return false;
    const bool raw = !m.compressed || m.options.codec == AviCodec::Raw;
    std::unique_ptr<AviSink> sink = raw ? MakeDibSink() : MakeEncoderSink(m.options);
    if (!sink->begin(m.fd, m.header, format, m.error)) return false;
    m.sink = std::move(sink);
    m.frameBytes = format.imageSize;
    return true;
}

bool AviWriter::Write(int32_t sample, const uint8_t* data, size_t size, uint32_t flags) {
    Impl& m = *impl_;
    if (!m.sink) return m.fail("the stream has no format");
    if (m.broken) return m.fail("an earlier frame could not be written");
    if (!data || size != m.frameBytes)
        return m.fail("a frame of " + std::to_string(size) + " bytes where the format needs " +
                      std::to_string(m.frameBytes));
    if (sample < m.nextSample) return m.fail("frame " + std::to_string(sample) + " is written out of order");
    if (!m.sink->write(sample, data, flags, m.error)) {
        m.broken = true;  // part of it may be in the file
        return false;
    }
    m.nextSample = sample + 1;
    return true;
}

bool AviWriter::Commit() {
    Impl& m = *impl_;
    if (m.fd < 0) return m.fail("no AVI file is open");
    if (!m.sink) return m.fail("the stream has no format");
    if (m.broken) return m.fail("an earlier frame could not be written");
    if (!m.sink->finish(m.error)) return false;
    if (::fsync(m.fd) != 0) return m.failErrno(m.target, errno);
    const int closed = ::close(m.fd);
    m.fd = -1;
    if (closed != 0) return m.failErrno(m.target, errno);
    if (::rename(m.temp.path().c_str(), m.target.c_str()) != 0) return m.failErrno(m.target, errno);
    m.temp.release();
    m.sink.reset();
    // The rename itself must reach the disk.
    const std::string folder = fs::path(m.target).parent_path().string();
    if (std::error_code ec = SyncFolder(folder)) return m.fail((folder.empty() ? "." : folder) + ": " + ec.message());
    m.streamMade = m.compressed = false;
    return true;
}

void AviWriter::Release() {
    Impl& m = *impl_;
    m.sink.reset();
    if (m.fd >= 0) ::close(m.fd);
    m.fd = -1;
    m.temp.remove();
    m.streamMade = m.compressed = m.broken = false;
    m.frameBytes = 0;
    m.nextSample = 0;
}

}  // namespace tarnel
