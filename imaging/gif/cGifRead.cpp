// Reading a GIF file into the container. The parser mirrors the writer: one
// function per section, each checking the bytes that remain before it reads.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "imaging/gif/cGif.h"
#include "imaging/gif/mGIFLZWDec.h"
#include "platform/FileRead.h"
#include "platform/LittleEndian.h"

namespace tarnel {

namespace {

constexpr size_t kMaxCount = 32767;  // frames and comments are counted in 16 bits
// A 12-bit LZW code spells at most 4097 pixels, so a byte of image data
// yields at most 2731. A frame larger than its data could fill is refused,
// unless it is small enough to cost little anyway (a frame cut short keeps
// the pixels it has, the rest stays index 0).
constexpr int64_t kLzwPixelsPerByte = 2731;
constexpr int64_t kSmallFramePixels = int64_t(1) << 20;

}  // namespace

class cGif::StreamReader {
public:
    StreamReader(const uint8_t* data, size_t size, LoadBudget& budget, bool firstImageOnly)
        : budget(budget), firstImageOnly(firstImageOnly), data_(data), size_(data ? size : 0) {}

    // Records why the load fails (the first reason given) and gives false.
    bool fail(const char* why) {
        if (!error) error = why;
        return false;
    }
    bool ended() { return fail("the data ends early"); }

    bool byte(uint8_t& v) {
        if (size_ - pos_ < 1) return ended();
        v = data_[pos_++];
        return true;
    }
    bool word(uint16_t& v) {
        if (size_ - pos_ < 2) return ended();
        v = Le16(data_ + pos_);
        pos_ += 2;
        return true;
    }
    // A 16-bit field held in a signed 16-bit item: 32768 and above do not fit.
    bool signedWord(int16_t& v) {
        uint16_t u;
        if (!word(u)) return false;
        if (u > 32767) return fail("a size or position above 32767");
        v = int16_t(u);
        return true;
    }
    bool bytes(uint8_t* dst, size_t n) {
        if (size_ - pos_ < n) return ended();
        std::memcpy(dst, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    bool skip(size_t n) {
        if (size_ - pos_ < n) return ended();
        pos_ += n;
        return true;
    }
    // Colour table of `entries` RGB triplets into RGBQUAD entries.
    bool colourTable(uint8_t* palette, int entries) {
        if (size_ - pos_ < size_t(entries) * 3) return ended();
        for (int i = 0; i < entries; ++i, pos_ += 3) {
            palette[4 * i + 0] = data_[pos_ + 2];  // blue
            palette[4 * i + 1] = data_[pos_ + 1];  // green
            palette[4 * i + 2] = data_[pos_];      // red
            palette[4 * i + 3] = 0;
        }
        return true;
    }
    // Data sub-blocks up to and including the terminator, contents appended.
    bool subBlocks(std::vector<uint8_t>& out) {
        for (;;) {
            uint8_t n;
            if (!byte(n)) return false;
            if (n == 0) return true;
            if (size_ - pos_ < n) return ended();
            out.insert(out.end(), data_ + pos_, data_ + pos_ + n);
            pos_ += n;
        }
    }

    int controlsRead = 0;  // graphic control extensions met so far
    // Kept from image to image: a file of many small images would otherwise
    // allocate a string table and a data buffer for each.
    GifLzwDecoder lzw;
    std::vector<uint8_t> imageData;
    LoadBudget& budget;
    const bool firstImageOnly;
    const char* error = nullptr;

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

bool cGif::LoadFromFile(const std::string& Filename) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadFileBytes(Filename, kMaxPictureFile, bytes, &error)) {
        Destroy();
        // The reader names the file; the caller knows it already.
        const std::string named = Filename + ": ";
        loadError_ = error.compare(0, named.size(), named) == 0 ? error.substr(named.size()) : error;
        return false;
    }
    return LoadFromStream(bytes);
}

bool cGif::LoadFromStream(const uint8_t* Stream, size_t Size) {
    LoadBudget budget = LoadBudget::ForInput(Size);
    return load(Stream, Size, budget, false);
}

bool cGif::LoadFirstImage(const uint8_t* Stream, size_t Size, LoadBudget& Budget) {
    return load(Stream, Size, Budget, true);
}

bool cGif::load(const uint8_t* Stream, size_t Size, LoadBudget& budget, bool firstImageOnly) {
    Destroy();
    loadError_.clear();
    bool ok = false;
    std::string error;
    try {
        StreamReader in(Stream, Size, budget, firstImageOnly);
        ok = parse(in);
        if (!ok) error = in.error ? in.error : "not a GIF file";
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception&) {
        error = "a frame the surfaces cannot hold";
    }
    if (!ok) {
        Destroy();
        loadError_ = error;
    }
    return ok;
}

bool cGif::parse(StreamReader& in) {
    if (!readHeader(in) || !readScreenDescriptor(in)) return false;
    for (;;) {
        uint8_t introducer;
        if (!in.byte(introducer)) return in.fail("the data ends before the trailer");
        switch (introducer) {
            case 0x21:
                if (!readExtension(in)) return false;
                break;
            case 0x2C:
                if (!readImage(in)) return false;
                if (in.firstImageOnly) {
                    controls_.resize(1);
                    return true;
                }
                break;
            case 0x3B:
                // Records of extensions that no image took are not kept.
                controls_.resize(frames_.empty() ? 1 : frames_.size());
                return true;
            default:
                break;  // anything else is skipped byte by byte
        }
    }
}

bool cGif::readHeader(StreamReader& in) {
    uint8_t header[6];
    if (!in.bytes(header, 6)) return false;
    signature_.assign(reinterpret_cast<const char*>(header), 3);
    version_.assign(reinterpret_cast<const char*>(header) + 3, 3);
    if (signature_ == "GIF" && (version_ == "89a" || version_ == "87a")) return true;
    return in.fail("not a GIF file");
}

bool cGif::readScreenDescriptor(StreamReader& in) {
    if (!in.signedWord(screenWidth_)) return false;   // logical screen width
    if (!in.signedWord(screenHeight_)) return false;  // logical screen height
    if (!in.byte(screenFlags_)) return false;         // packed fields
    if (!in.byte(background_)) return false;          // background colour index
    if (!in.byte(aspect_)) return false;              // pixel aspect ratio
    if (screenFlags_ & 0x80) {
        globalExists_ = true;
        globalSorted_ = (screenFlags_ & 0x08) != 0;
        globalEntries_ = int16_t(2 << (screenFlags_ & 7));
        if (!in.colourTable(globalPalette_.data(), globalEntries_)) return false;
    }
    return true;
}

bool cGif::readExtension(StreamReader& in) {
    uint8_t label;
    if (!in.byte(label)) return false;
    switch (label) {
        case 0xF9: return readControlExtension(in);
        case 0xFE: return readCommentExtension(in);
        case 0xFF: return readApplicationExtension(in);
        default: return true;  // not parsed: its bytes are scanned like unknown ones
    }
}

bool cGif::readControlExtension(StreamReader& in) {
    ControlRecord c;
    uint8_t packed, index;
    if (!in.skip(1)) return false;  // block size, taken as 4
    if (!in.byte(packed)) return false;
    if (!in.signedWord(c.FrameDelay)) return false;
    if (!in.byte(index)) return false;
    if (!in.skip(1)) return false;  // block terminator
    c.FrameDisposalMethod = uint8_t((packed & 0x1C) / 4);
    c.FrameUserInput = (packed & 0x02) != 0;
    c.FrameUseTransparentColor = (packed & 0x01) != 0;
    if (c.FrameUseTransparentColor) c.FrameTransparentColorIndex = index;
    // The n-th extension becomes record n; record 1 exists from the start.
    ++in.controlsRead;
    if (size_t(in.controlsRead) > controls_.size()) controls_.push_back(c);
    else controls_[size_t(in.controlsRead) - 1] = c;
    return true;
}

bool cGif::readCommentExtension(StreamReader& in) {
    std::vector<uint8_t> data;
    if (!in.subBlocks(data)) return false;
    if (comments_.size() >= kMaxCount) return in.fail("more than 32767 comments");
    comments_.emplace_back(data.begin(), data.end());
    return true;
}

bool cGif::readApplicationExtension(StreamReader& in) {
    uint8_t block[12];  // block size, identifier (8), authentication code (3)
    std::vector<uint8_t> data;
    if (!in.bytes(block, 12)) return false;
    if (!in.subBlocks(data)) return false;
    if (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0) {
        // data[0] is the sub-block id (1), then the loop count.
        if (data.size() < 3) return in.fail("a looping extension without its count");
        unsigned loops = Le16(data.data() + 1);
        if (loops > 32767) return in.fail("loop count above 32767");
        loops_ = int16_t(loops);
    }
    return true;
}

bool cGif::readImage(StreamReader& in) {
    auto f = std::make_unique<FrameRecord>();
    int16_t width, height;
    uint8_t packed, codeSize;
    if (!in.signedWord(f->FrameLeft)) return false;  // image left position
    if (!in.signedWord(f->FrameTop)) return false;   // image top position
    if (!in.signedWord(width)) return false;         // image width
    if (!in.signedWord(height)) return false;        // image height
    if (!in.byte(packed)) return false;              // packed fields
    f->FrameInterlaced = (packed & 0x40) != 0;
    if (packed & 0x80) {
        f->LocalPaletteUsed = true;
        f->LocalPaletteSorted = (packed & 0x20) != 0;
        f->LocalPaletteEntries = int16_t(2 << (packed & 7));
        if (!in.colourTable(f->Palette.data(), f->LocalPaletteEntries)) return false;
    } else {
        f->Palette = globalPalette_;
        f->LocalPaletteSorted = globalSorted_;
        f->LocalPaletteEntries = globalEntries_;
    }

    if (frames_.size() >= kMaxCount) return in.fail("more than 32767 images");

    std::vector<uint8_t>& data = in.imageData;
    data.clear();
    if (!in.byte(codeSize)) return false;  // LZW minimum code size
    if (!in.subBlocks(data)) return false;

    // Image n takes the n-th graphic control extension of the file.
    const size_t n = frames_.size() + 1;
    if (n > controls_.size()) return in.fail("an image after the first without its graphic control extension");

    // Only now that its data is known does the frame get its surfaces.
    const int64_t pixels = int64_t(width) * height;
    if (pixels > kSmallFramePixels && pixels > kLzwPixelsPerByte * (int64_t(data.size()) + 2))
        return in.fail("an image larger than its data can fill");
    if (!in.budget.Reserve(SurfaceBytes(width, height, 8) + SurfaceBytes(width, height, 1)))
        return in.fail("the images need more memory than allowed");
    if (!f->XOR.Create(width, height, 8) || !f->AND.Create(width, height, 1)) return in.fail("an image of no size");
    const ControlRecord& c = controls_[n - 1];
    std::vector<uint8_t> palette(f->Palette.begin(), f->Palette.end());
    if (c.FrameUseTransparentColor) {
        size_t at = size_t(c.FrameTransparentColorIndex) * 4;
        palette[at] = palette[at + 1] = palette[at + 2] = 0;
    }
    f->XOR.SetPalette(palette);
    f->AND.SetPalette({0, 0, 0, 0, 255, 255, 255, 0});
    in.lzw.DecompressFrame(f->XOR, f->FrameInterlaced, codeSize, data.data(), data.size());
    if (f->FrameInterlaced && (height == 3 || height == 4)) {
        // The codec keeps such short frames in row order, but the file holds
        // their rows as 0, 2, 1, 3 like any interlaced image.
        uint8_t* row1 = f->XOR.bitmap()->scanline(1);
        uint8_t* row2 = f->XOR.bitmap()->scanline(2);
        std::swap_ranges(row1, row1 + width, row2);
    }
    if (c.FrameUseTransparentColor) applyMask(*f, c, c.FrameTransparentColorIndex);
    frames_.push_back(std::move(f));
    return true;
}

}  // namespace tarnel
