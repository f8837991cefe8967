// Writing the container as a GIF file. The writer reads like the layout of
// the format: one small function per section, the fields in file order.
#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "imaging/gif/GifComposedScreen.h"
#include "imaging/gif/GifDeltaCoder.h"
#include "imaging/gif/cGif.h"
#include "imaging/gif/mGIFLZWEnc.h"
#include "platform/AtomicFile.h"

namespace tarnel {

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& out, int v) {
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t((v >> 8) & 0xFF));
}

// Smallest n >= 1 with 2^n >= entries: the size field of a colour table.
int tableBits(int entries) {
    int n = 1;
    while ((1 << n) < entries) ++n;
    return n;
}

// Bits needed to hold every pixel value of an 8-bpp image.
int pixelBits(const GcDIB& image) {
    uint8_t highest = 0;
    const Bitmap& b = *image.bitmap();
    for (int y = 0; y < b.height(); ++y) {
        const uint8_t* row = b.scanline(y);
        highest = std::max(highest, *std::max_element(row, row + b.width()));
    }
    int bits = 0;
    while (bits < 8 && (1 << bits) <= highest) ++bits;
    return bits;
}

void writeHeader(Bytes& out, const char* version) {
    out.insert(out.end(), {'G', 'I', 'F'});  // signature
    out.insert(out.end(), version, version + 3);
}

void writeScreenDescriptor(Bytes& out, int16_t width, int16_t height, uint8_t packed, uint8_t background,
                           uint8_t aspect) {
    put16(out, width);           // logical screen width
    put16(out, height);          // logical screen height
    out.push_back(packed);       // global table flag, colour resolution, sort flag, table size
    out.push_back(background);   // background colour index
    out.push_back(aspect);       // pixel aspect ratio
}

// 2^bits RGB triplets from RGBQUAD entries; those from `valid` on are written black.
void writeColourTable(Bytes& out, const uint8_t* palette, int valid, int bits) {
    for (int i = 0; i < (1 << bits); ++i) {
        if (i < valid) {
            const uint8_t* q = palette + 4 * i;
            out.insert(out.end(), {q[2], q[1], q[0]});  // red, green, blue
        } else {
            out.insert(out.end(), {0, 0, 0});
        }
    }
}

void writeLoopExtension(Bytes& out, int16_t loops) {
    out.insert(out.end(), {0x21, 0xFF, 0x0B});  // extension, application label, block size
    const char* id = "NETSCAPE2.0";              // identifier and authentication code
    out.insert(out.end(), id, id + 11);
    out.insert(out.end(), {0x03, 0x01});  // sub-block size, loop sub-block id
    put16(out, loops);                    // loop count, 0 = forever
    out.push_back(0x00);                  // block terminator
}

void writeControlExtension(Bytes& out, bool transparent, bool userInput, uint8_t disposal, int16_t delay,
                           uint8_t transparentIndex) {
    out.insert(out.end(), {0x21, 0xF9, 0x04});  // extension, graphic control label, block size
    out.push_back(uint8_t((transparent ? 0x01 : 0) | (userInput ? 0x02 : 0) | ((disposal & 7) << 2)));
    put16(out, delay);                               // delay in hundredths of a second
    out.push_back(transparent ? transparentIndex : 0);  // transparent colour index
    out.push_back(0x00);                             // block terminator
}

void writeImageDescriptor(Bytes& out, int16_t left, int16_t top, int width, int height, uint8_t packed) {
    out.push_back(0x2C);  // image separator
    put16(out, left);
    put16(out, top);
    put16(out, width);
    put16(out, height);
    out.push_back(packed);  // local table flag, interlace, sort flag, table size
}

void writeImageData(Bytes& out, GifLzwEncoder& encoder, const GcDIB& image, int minCodeSize, bool interlaced) {
    out.push_back(uint8_t(minCodeSize));  // LZW minimum code size
    encoder.CompressFrame(out, image, minCodeSize + 1, interlaced);
    out.push_back(0x00);  // block terminator
}

void writeTrailer(Bytes& out) { out.push_back(0x3B); }

// The colours a frame's indices show: its table as written, 2^bits entries
// with black beyond the `valid` ones.
GifComposedScreen::Colours tableColours(const uint8_t* palette, int valid, int bits) {
    GifComposedScreen::Colours colours;
    colours.fill(GifComposedScreen::kUnknown);
    for (int i = 0; i < (1 << bits); ++i) {
        const uint8_t* q = palette + 4 * i;
        colours[i] = i < valid ? (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0] : 0;
    }
    return colours;
}

GifComposedScreen::Frame placed(const GcDIB& image, int left, int top) {
    const Bitmap& b = *image.bitmap();
    return {b.scanline(0), b.scanline(b.height() > 1 ? 1 : 0) - b.scanline(0), left, top, b.width(), b.height()};
}

// The part of the screen the frames draw on: the union of their rectangles,
// clipped to the screen. Nothing outside it is ever compared, so the screen
// model covers only this box.
struct ScreenBox {
    int left = 0, top = 0, width = 0, height = 0;
};

// A model of the box, or none when the box dwarfs the frames themselves (a
// few pixels far apart on a huge screen would take gigabytes): the frames are
// then coded without looking at what shows beneath them.
template <typename Frames>
std::unique_ptr<GifComposedScreen> screenModel(const Frames& frames, int screenWidth, int screenHeight,
                                               ScreenBox& box) {
    int left = screenWidth, top = screenHeight, right = 0, bottom = 0;
    int64_t framePixels = 0;
    for (const auto& f : frames) {
        const int w = f->XOR.Width(), h = f->XOR.Height();
        framePixels += int64_t(w) * h;
        const int x0 = std::max<int>(f->FrameLeft, 0), y0 = std::max<int>(f->FrameTop, 0);
        const int x1 = std::min(int(f->FrameLeft) + w, screenWidth), y1 = std::min(int(f->FrameTop) + h, screenHeight);
        if (x0 >= x1 || y0 >= y1) continue;
        left = std::min(left, x0), top = std::min(top, y0);
        right = std::max(right, x1), bottom = std::max(bottom, y1);
    }
    if (left >= right || top >= bottom) return nullptr;
    constexpr int64_t kFloorPixels = int64_t(1) << 22;
    if (int64_t(right - left) * (bottom - top) > std::max(4 * framePixels, kFloorPixels)) return nullptr;
    box = ScreenBox{left, top, right - left, bottom - top};
    return std::make_unique<GifComposedScreen>(box.width, box.height);
}

// An index of the table that no pixel uses, or -1.
int unusedIndex(const GcDIB& image, int bits) {
    std::array<bool, 256> used{};
    const Bitmap& b = *image.bitmap();
    for (int y = 0; y < b.height(); ++y) {
        const uint8_t* row = b.scanline(y);
        for (int x = 0; x < b.width(); ++x) used[row[x]] = true;
    }
    for (int i = 0; i < (1 << bits); ++i)
        if (!used[i]) return i;
    return -1;
}

// A copy of the frame with the pixels already on the screen turned into
// `transparent`; empty when no pixel is.
GcDIB withoutUnchanged(const GcDIB& image, const GifComposedScreen& screen, const GifComposedScreen::Frame& at,
                       const GifComposedScreen::Colours& colours, uint8_t transparent) {
    GcDIB copy;
    if (!copy.Create(image.Width(), image.Height(), 8)) return copy;
    const Bitmap& from = *image.bitmap();
    Bitmap& to = *copy.bitmap();
    for (int y = 0; y < from.height(); ++y) std::copy_n(from.scanline(y), from.width(), to.scanline(y));
    GifComposedScreen::Frame target = at;
    target.pixels = to.scanline(0);
    target.stride = to.scanline(to.height() > 1 ? 1 : 0) - to.scanline(0);
    if (screen.ClearUnchanged(to.scanline(0), target, colours, transparent) == 0) copy.Destroy();
    return copy;
}

// A mask of the frame: 1 where the pixel's colour already shows beneath it.
// A copy cleared with an index the frame does not use shows them all; with
// no such index, a copy cleared with 0 misses the pixels that are 0 already
// and one cleared with 1 those that are 1, so both are needed.
GcDIB unchangedMask(const GcDIB& image, const GifComposedScreen& screen, const GifComposedScreen::Frame& at,
                    const GifComposedScreen::Colours& colours, int unused) {
    GcDIB mask;
    const GcDIB first = withoutUnchanged(image, screen, at, colours, uint8_t(unused >= 0 ? unused : 0));
    if (first.empty()) return mask;  // nothing shows already, or no memory
    GcDIB second;
    if (unused < 0) second = withoutUnchanged(image, screen, at, colours, 1);
    const GcDIB& other = unused < 0 ? second : first;
    if (other.empty() || !mask.Create(image.Width(), image.Height(), 8)) return GcDIB();
    for (int y = 0; y < image.Height(); ++y) {
        const uint8_t* p = image.bitmap()->scanline(y);
        const uint8_t* a = first.bitmap()->scanline(y);
        const uint8_t* b = other.bitmap()->scanline(y);
        uint8_t* m = mask.bitmap()->scanline(y);
        for (int x = 0; x < image.Width(); ++x) m[x] = uint8_t((a[x] != p[x]) | (b[x] != p[x]));
    }
    return mask;
}

}  // namespace

bool cGif::Save(const std::string& Filename) const { return Save(Filename, GifSaveOptions()); }

bool cGif::Save(const std::string& Filename, const GifSaveOptions& Options, std::string* error) const {
    Bytes bytes;
    if (!SaveToStream(bytes, Options)) {
        if (error) *error = "the animation cannot be written as a GIF file (no frames, palette or 8-bpp images)";
        return false;
    }
    // An animation is a document the user keeps: it must survive a crash.
    return WriteFileReplacing(Filename, bytes.data(), bytes.size(), error, true);
}

bool cGif::SaveToStream(std::vector<uint8_t>& out) const { return SaveToStream(out, GifSaveOptions()); }

bool cGif::SaveToStream(std::vector<uint8_t>& out, const GifSaveOptions& Options) const {
    out.clear();
    bool ok = false;
    try {
        ok = buildFile(out, Options);
    } catch (const std::exception&) {
        ok = false;  // out of memory
    }
    if (!ok) out.clear();
    return ok;
}

bool cGif::codeSmallestDeltas(std::vector<GifDeltaCoding>& out) const {
    // Which pixels may become transparent depends on the frames before, so
    // that is found in order; the frames are then coded side by side, a few
    // at a time, so that only a few masks are held at once.
    struct Job {
        const GcDIB* plain = nullptr;
        GcDIB unchanged;
        int index = -1;
        bool own = false;
        bool interlaced = false;
    };
    const size_t workers = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 8);
    const size_t batch = 2 * workers;
    std::vector<Job> jobs(std::min(batch, frames_.size()));
    ScreenBox box;
    std::unique_ptr<GifComposedScreen> screen;
    if (frames_.size() > 1) screen = screenModel(frames_, screenWidth_, screenHeight_, box);
    const int n = globalExists_ ? tableBits(std::min<int>(globalEntries_, 256)) : 0;
    out.assign(frames_.size(), GifDeltaCoding{});

    for (size_t first = 0; first < frames_.size(); first += batch) {
        const size_t count = std::min(batch, frames_.size() - first);
        for (size_t k = 0; k < count; ++k) {
            const size_t i = first + k;
            const FrameRecord& f = *frames_[i];
            const ControlRecord& c = controls_[i];
            if (f.XOR.BPP() != 8) return false;
            const int m = f.LocalPaletteUsed ? tableBits(std::min<int>(f.LocalPaletteEntries, 256)) : 0;
            const int sizeBits = f.LocalPaletteUsed ? m : n;
            Job& job = jobs[k];
            job = Job{};
            job.plain = &f.XOR;
            job.own = c.FrameUseTransparentColor;
            job.interlaced = f.FrameInterlaced && f.XOR.Height() > 4;
            if (!screen || sizeBits == 0) continue;
            const GifComposedScreen::Colours colours =
                f.LocalPaletteUsed ? tableColours(f.Palette.data(), 1 << m, m)
                                   : tableColours(globalPalette_.data(), globalEntries_, n);
            const GifComposedScreen::Frame at = placed(f.XOR, f.FrameLeft - box.left, f.FrameTop - box.top);
            // A frame with a transparent index of its own writes what already
            // shows with that index.
            const int unused = unusedIndex(f.XOR, sizeBits);
            job.index = job.own ? c.FrameTransparentColorIndex : unused;
            if (i > 0) job.unchanged = unchangedMask(f.XOR, *screen, at, colours, unused);
            screen->Draw(at, colours, job.own ? c.FrameTransparentColorIndex : -1, c.FrameDisposalMethod);
        }

        std::atomic<size_t> next{0};
        std::atomic<bool> failed{false};
        auto work = [&] {
            try {
                for (size_t k = next++; k < count; k = next++) {
                    const Job& job = jobs[k];
                    GifDeltaCoding& coding = out[first + k];
                    coding = CodeSmallestDelta(*job.plain, job.unchanged.empty() ? nullptr : &job.unchanged,
                                               job.index, job.own, job.interlaced);
                    if (coding.data.empty()) failed = true;
                }
            } catch (const std::exception&) {
                failed = true;  // out of memory
            }
        };
        std::vector<std::thread> threads;
        try {
            threads.reserve(workers - 1);
            for (size_t k = 1; k < workers && k < count; ++k) threads.emplace_back(work);
        } catch (const std::exception&) {
            // No more threads to be had: the ones running and this one do the work.
        }
        work();
        for (std::thread& t : threads) t.join();
        if (failed) return false;
    }
    return true;
}

bool cGif::buildFile(std::vector<uint8_t>& out, const GifSaveOptions& options) const {
    // A container never loaded, cleared or given a frame has nothing to write.
    if (!initialised_) return false;
    const bool version89a = !frames_.empty() || !comments_.empty() || controls_[0].FrameUseTransparentColor;
    int n = 0;
    if (globalExists_) {
        if (globalEntries_ > 256) return false;
        n = tableBits(globalEntries_);
    }
    uint8_t screenPacked = 0;
    if (globalExists_) screenPacked = uint8_t(0x80 + (n - 1) * 16 + (globalSorted_ ? 8 : 0) + (n - 1));

    writeHeader(out, version89a ? "89a" : "87a");
    writeScreenDescriptor(out, screenWidth_, screenHeight_, screenPacked, background_, aspect_);
    if (globalExists_) writeColourTable(out, globalPalette_.data(), globalEntries_, n);
    if (!frames_.empty()) writeLoopExtension(out, loops_);

    std::vector<GifDeltaCoding> deltas;
    if (options.smallestDelta && !codeSmallestDeltas(deltas)) return false;
    ScreenBox box;
    std::unique_ptr<GifComposedScreen> screen;
    if (options.interFrameTransparency && !options.smallestDelta && frames_.size() > 1)
        screen = screenModel(frames_, screenWidth_, screenHeight_, box);

    // One encoder for every frame: its tables are allocated once per file.
    GifLzwEncoder encoder;
    for (size_t i = 0; i < frames_.size(); ++i) {
        const FrameRecord& f = *frames_[i];
        const ControlRecord& c = controls_[i];
        // Only an 8-bpp image can be coded; anything else would leave an
        // image without data.
        if (f.XOR.BPP() != 8) return false;
        int m = 0;
        if (f.LocalPaletteUsed) {
            if (f.LocalPaletteEntries > 256) return false;
            m = tableBits(f.LocalPaletteEntries);
        }
        const int sizeBits = f.LocalPaletteUsed ? m : n;
        // A frame with no colour table at all cannot be described.
        if (sizeBits == 0) return false;

        // The image written: the frame's own, or a copy with what already
        // shows made transparent.
        const GcDIB* image = &f.XOR;
        GcDIB cleared;
        // The codec writes frames of up to 4 rows in row order even when
        // asked to interlace, so only taller frames are marked interlaced.
        const bool interlaced = f.FrameInterlaced && f.XOR.Height() > 4;
        // The image data when it is coded here already, with its code size.
        std::vector<uint8_t> coded;
        int codeSize = 0;
        bool transparent = c.FrameUseTransparentColor;
        uint8_t transparentIndex = c.FrameTransparentColorIndex;
        GifComposedScreen::Colours colours{};
        GifComposedScreen::Frame at{};
        if (screen) {
            colours = f.LocalPaletteUsed ? tableColours(f.Palette.data(), 1 << m, m)
                                         : tableColours(globalPalette_.data(), globalEntries_, n);
            at = placed(f.XOR, f.FrameLeft - box.left, f.FrameTop - box.top);
        }
        if (!deltas.empty()) {
            coded = std::move(deltas[i].data);
            codeSize = deltas[i].codeSize;
            if (deltas[i].transparent >= 0) {
                transparent = true;
                transparentIndex = uint8_t(deltas[i].transparent);
            }
        } else if (screen) {
            const int unused = i > 0 && !transparent ? unusedIndex(f.XOR, sizeBits) : -1;
            if (unused >= 0) cleared = withoutUnchanged(f.XOR, *screen, at, colours, uint8_t(unused));
            if (!cleared.empty()) {
                image = &cleared;
                transparent = true;
                transparentIndex = uint8_t(unused);
            }
        }

        writeControlExtension(out, transparent, c.FrameUserInput, c.FrameDisposalMethod, c.FrameDelay,
                              transparentIndex);
        uint8_t packed = uint8_t((f.LocalPaletteUsed ? 0x80 : 0) | (interlaced ? 0x40 : 0) |
                                 (f.LocalPaletteSorted ? 0x20 : 0) | (sizeBits - 1));
        writeImageDescriptor(out, f.FrameLeft, f.FrameTop, f.XOR.Width(), f.XOR.Height(), packed);
        if (f.LocalPaletteUsed) writeColourTable(out, f.Palette.data(), 1 << m, m);
        // The code size must also cover pixels beyond the table, or the
        // coded data would not decode to them.
        if (!coded.empty()) {
            out.push_back(uint8_t(codeSize));
            out.insert(out.end(), coded.begin(), coded.end());
            out.push_back(0x00);
        } else {
            writeImageData(out, encoder, *image, std::max({2, sizeBits, pixelBits(*image)}), interlaced);
        }
        if (screen)
            screen->Draw(at, colours, c.FrameUseTransparentColor ? c.FrameTransparentColorIndex : -1,
                         c.FrameDisposalMethod);
    }
    writeTrailer(out);
    return true;
}

}  // namespace tarnel
