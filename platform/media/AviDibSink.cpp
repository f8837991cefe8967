// Uncompressed DIB frames in a RIFF AVI file, laid out as the AVI file
// library writes them:
//
//   RIFF 'AVI '
//     LIST 'hdrl'
//       avih            main header
//       LIST 'strl'
//         strh          stream header
//         strf          BITMAPINFOHEADER (+ colour table)
//     LIST 'movi'
//       00db ...        one chunk per frame, the pixel block as given
//     idx1              every chunk, offsets from the 'movi' fourcc
//
// The headers are written first with zero counts and rewritten in place by
// finish(), when the frame count and sizes are known.
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/media/AviSink.h"

namespace tarnel {

namespace {

constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr size_t kAvihSize = 56, kStrhSize = 56, kIndexEntrySize = 16;

uint32_t fourcc(const char (&s)[5]) { return mmioStringToFOURCC(s); }

class Bytes {
public:
    void u16(uint32_t v) {
        b_.push_back(uint8_t(v));
        b_.push_back(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) b_.push_back(uint8_t(v >> (8 * i)));
    }
    void raw(const uint8_t* p, size_t n) { b_.insert(b_.end(), p, p + n); }
    void chunkHeader(const char (&id)[5], size_t size) {
        u32(fourcc(id));
        u32(uint32_t(size));
    }
    void listHeader(const char (&type)[5], size_t size) {
        chunkHeader("LIST", size);
        u32(fourcc(type));
    }
    const std::vector<uint8_t>& bytes() const { return b_; }

private:
    std::vector<uint8_t> b_;
};

struct IndexEntry {
    uint32_t flags;
    uint32_t offset;  // from the 'movi' fourcc
    uint32_t size;
};

class DibSink : public AviSink {
public:
    bool begin(int fd, const AVISTREAMINFO& header, const AviFrameFormat& format, std::string& error) override {
        if (format.compression != 0) {
            error = "uncompressed frames need a BI_RGB format";
            return false;
        }
        fd_ = fd;
        header_ = header;
        format_ = format;
        strfSize_ = format.block.size();
        const std::vector<uint8_t> head = headers();
        moviFourcc_ = head.size() - 4;
        position_ = head.size();
        if (!WriteAll(fd_, head.data(), head.size())) return fail(error, "cannot write the AVI headers");
        return true;
    }

    bool write(int32_t sample, const uint8_t* data, uint32_t flags, std::string& error) override {
        if (sample < 0 || uint32_t(sample) < index_.size()) {
            error = "frame " + std::to_string(sample) + " is written out of order";
            return false;
        }
        // Samples skipped over become empty chunks: frames the player repeats.
        while (index_.size() < uint32_t(sample))
            if (!writeChunk(nullptr, 0, 0, error)) return false;
        return writeChunk(data, format_.imageSize, flags & AVIIF_KEYFRAME, error);
    }

    bool finish(std::string& error) override {
        Bytes idx;
        idx.chunkHeader("idx1", index_.size() * kIndexEntrySize);
        for (const IndexEntry& e : index_) {
            idx.u32(fourcc("00db"));
            idx.u32(e.flags);
            idx.u32(e.offset);
            idx.u32(e.size);
        }
        if (!WriteAll(fd_, idx.bytes().data(), idx.bytes().size())) return fail(error, "cannot write the AVI index");
        fileSize_ = position_ + idx.bytes().size();
        const std::vector<uint8_t> head = headers();
        if (!PWriteAll(fd_, head.data(), head.size(), 0)) return fail(error, "cannot write the AVI headers");
        return true;
    }

private:
    bool fail(std::string& error, const char* what) {
        error = std::string(what) + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }

    bool writeChunk(const uint8_t* data, size_t size, uint32_t flags, std::string& error) {
        const size_t padded = size + (size & 1);
        const uint64_t indexAfter = 8 + (index_.size() + 1) * kIndexEntrySize;
        if (position_ + 8 + padded + indexAfter > kMaxAviFileBytes) {
            error = "the AVI file would grow beyond 1 GB";
            return false;
        }
        uint8_t head[8];
        const uint32_t id = fourcc("00db");
        std::memcpy(head, &id, 4);  // RIFF is little-endian, as is every machine we build for
        const uint32_t size32 = uint32_t(size);
        std::memcpy(head + 4, &size32, 4);
        static const uint8_t pad = 0;
        iovec parts[3] = {{head, 8}, {const_cast<uint8_t*>(data), size}, {const_cast<uint8_t*>(&pad), padded - size}};
        if (!writeVector(parts, 3, 8 + padded)) return fail(error, "cannot write a frame");
        index_.push_back({flags, uint32_t(position_ - moviFourcc_), size32});
        position_ += 8 + padded;
        maxChunk_ = std::max<size_t>(maxChunk_, size);
        return true;
    }

    bool writeVector(iovec* parts, int count, size_t total) {
        size_t done = 0;
        while (done < total) {
            ssize_t n = ::writev(fd_, parts, count);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                return false;
            }
            done += size_t(n);
            size_t left = size_t(n);
            while (count > 0 && left >= parts->iov_len) {
                left -= parts->iov_len;
                ++parts;
                --count;
            }
            if (count > 0) {
                parts->iov_base = static_cast<uint8_t*>(parts->iov_base) + left;
                parts->iov_len -= left;
            }
        }
        return true;
    }

    // hdrl and the start of movi, with the counts known so far.
    std::vector<uint8_t> headers() const {
        const uint32_t frames = uint32_t(index_.size());
        const uint32_t suggested =
            header_.dwSuggestedBufferSize ? header_.dwSuggestedBufferSize : uint32_t(std::max(maxChunk_, format_.imageSize));
        const size_t strfPadded = strfSize_ + (strfSize_ & 1);
        const size_t strlSize = 4 + 8 + kStrhSize + 8 + strfPadded;
        const size_t hdrlSize = 4 + 8 + kAvihSize + 8 + strlSize;
        const uint64_t moviSize = position_ ? (position_ - moviFourcc_) : 4;

        Bytes b;
        b.chunkHeader("RIFF", fileSize_ ? fileSize_ - 8 : 0);
        b.u32(fourcc("AVI "));
        b.listHeader("hdrl", hdrlSize);

        b.chunkHeader("avih", kAvihSize);
        const double secondsPerFrame = double(header_.dwScale) / double(header_.dwRate);
        b.u32(uint32_t(std::min(std::llround(secondsPerFrame * 1e6), (long long)UINT32_MAX)));  // dwMicroSecPerFrame
        b.u32(uint32_t(std::min(std::ceil(double(maxChunk_) / secondsPerFrame), double(UINT32_MAX))));  // dwMaxBytesPerSec
        b.u32(0);              // dwPaddingGranularity
        b.u32(AVIF_HASINDEX);  // dwFlags
        b.u32(frames);         // dwTotalFrames
        b.u32(0);              // dwInitialFrames
        b.u32(1);              // dwStreams
        b.u32(suggested);      // dwSuggestedBufferSize
        b.u32(uint32_t(format_.width));
        b.u32(uint32_t(std::abs(format_.height)));
        for (int i = 0; i < 4; ++i) b.u32(0);  // dwReserved

        b.listHeader("strl", strlSize);
        b.chunkHeader("strh", kStrhSize);
        b.u32(header_.fccType);
        b.u32(header_.fccHandler ? header_.fccHandler : fourcc("DIB "));
        b.u32(header_.dwFlags);
        b.u16(header_.wPriority);
        b.u16(header_.wLanguage);
        b.u32(header_.dwInitialFrames);
        b.u32(header_.dwScale);
        b.u32(header_.dwRate);
        b.u32(header_.dwStart);
        b.u32(frames);  // dwLength
        b.u32(suggested);
        b.u32(header_.dwQuality);
        b.u32(header_.dwSampleSize);
        b.u16(uint32_t(header_.rcFrame.left));
        b.u16(uint32_t(header_.rcFrame.top));
        b.u16(uint32_t(header_.rcFrame.right));
        b.u16(uint32_t(header_.rcFrame.bottom));

        b.chunkHeader("strf", strfSize_);
        b.raw(format_.block.data(), format_.block.size());
        if (strfSize_ & 1) b.raw(reinterpret_cast<const uint8_t*>("\0"), 1);

        b.listHeader("movi", size_t(moviSize));
        return b.bytes();
    }

    int fd_ = -1;
    AVISTREAMINFO header_;
    AviFrameFormat format_;
    size_t strfSize_ = 0;
    uint64_t moviFourcc_ = 0;  // file offset of the 'movi' fourcc
    uint64_t position_ = 0;    // end of what was written
    uint64_t fileSize_ = 0;    // known once the index is written
    size_t maxChunk_ = 0;
    std::vector<IndexEntry> index_;
};

}  // namespace

std::unique_ptr<AviSink> MakeDibSink() { return std::make_unique<DibSink>(); }

}  // namespace tarnel
