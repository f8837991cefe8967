#include "imaging/gif/mGIFExt.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <numeric>
#include <optional>
#include <vector>

#include "platform/RuntimeError.h"

namespace tarnel {

namespace {

void progressMax(ProgressSink* p, int32_t max) {
    if (p) p->SetMax(max);
}

void progressValue(ProgressSink* p, int32_t value) {
    if (p) p->SetValue(value);
}

// Changed rectangle of a frame, right and bottom exclusive.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

bool holdsValue(const Bitmap& image, uint8_t value) {
    for (int y = 0; y < image.height(); ++y)
        if (std::memchr(image.scanline(y), value, size_t(image.width()))) return true;
    return false;
}

// Bounding box of the pixels that differ from `previous` at the same place,
// or, without a previous image, of those that are not `transparent`.
Box changedBox(const Bitmap& image, const Bitmap* previous, uint8_t transparent) {
    const int w = image.width(), h = image.height();
    auto differs = [&](int y, int x) {
        return previous ? image.scanline(y)[x] != previous->scanline(y)[x] : image.scanline(y)[x] != transparent;
    };
    auto rowDiffers = [&](int y) {
        if (previous) return std::memcmp(image.scanline(y), previous->scanline(y), size_t(w)) != 0;
        const uint8_t* row = image.scanline(y);
        for (int x = 0; x < w; ++x)
            if (row[x] != transparent) return true;
        return false;
    };
    Box box;
    int top = 0;
    while (top < h && !rowDiffers(top)) ++top;
    if (top == h) return box;  // nothing changed
    int bottom = h;
    while (!rowDiffers(bottom - 1)) --bottom;
    int left = w, right = 0;
    for (int y = top; y < bottom; ++y) {
        int x = 0;
        while (x < left && !differs(y, x)) ++x;
        if (x < left) left = x;
        x = w - 1;
        while (x >= right && !differs(y, x)) --x;
        if (x + 1 > right) right = x + 1;
    }
    return Box{left, top, right, bottom};
}

// Frames on the global palette take the new table and their pixels and
// transparent index the new numbers; entries < 0 keeps each frame's count.
// Progress runs over the second half (count + n).
void renumberFrames(cGif& GIF, const std::vector<uint8_t>& palette, const std::array<uint8_t, 256>& renumber,
                    int entries, ProgressSink* Progress) {
    const int count = GIF.FramesCount();
    for (int n = 1; n <= count; ++n) {
        progressValue(Progress, count + n);
        if (GIF.LocalPaletteUsed(n)) continue;
        GcDIB& image = GIF.FrameDIBXOR(n);
        image.SetPalette(palette);
        std::memcpy(GIF.lpLocalPalette(n), palette.data(), 1024);
        if (entries >= 0) GIF.SetLocalPaletteEntries(n, int16_t(entries));
        if (image.BPP() == 8) {
            for (int y = 0; y < image.Height(); ++y) {
                uint8_t* row = image.bitmap()->scanline(y);
                for (int x = 0; x < image.Width(); ++x) row[x] = renumber[row[x]];
            }
        }
        GIF.SetFrameTransparentColorIndex(n, renumber[GIF.FrameTransparentColorIndex(n)]);
        GIF.FrameMask(n, GIF.FrameTransparentColorIndex(n));
    }
    progressValue(Progress, 0);
}

// The global palette put in `order` (new entry i is old entry order[i]),
// the frames renumbered with it.
void applyOrder(cGif& GIF, const std::array<int, 256>& order, int entries, ProgressSink* Progress) {
    std::array<uint8_t, 256> renumber{};
    for (int i = 0; i < 256; ++i) renumber[size_t(order[size_t(i)])] = uint8_t(i);

    std::vector<uint8_t> palette(GIF.lpGlobalPalette(), GIF.lpGlobalPalette() + 1024);
    for (int i = 0; i < entries; ++i)
        std::memcpy(GIF.lpGlobalPalette() + 4 * i, palette.data() + 4 * order[size_t(i)], 4);
    if (GIF.ScreenBackgroundColorIndex() < entries)
        GIF.SetScreenBackgroundColorIndex(renumber[GIF.ScreenBackgroundColorIndex()]);
    const std::vector<uint8_t> sorted(GIF.lpGlobalPalette(), GIF.lpGlobalPalette() + 1024);
    renumberFrames(GIF, sorted, renumber, -1, Progress);
}

}  // namespace

void SetFramesTransparency(cGif& GIF, bool UseTransparentColor, uint8_t TransparentColorIndex,
                           ProgressSink* Progress) {
    const int count = GIF.FramesCount();
    progressMax(Progress, count);
    for (int n = 1; n <= count; ++n) {
        progressValue(Progress, n);
        GIF.SetFrameUseTransparentColor(n, UseTransparentColor);
        GIF.SetFrameTransparentColorIndex(n, TransparentColorIndex);
        GIF.FrameMask(n, TransparentColorIndex);
    }
    progressValue(Progress, 0);
}


uint8_t OptimizePalette(cGif& GIF, ProgressSink* Progress) {
    if (!GIF.GlobalPaletteExists()) return 0;
    const int count = GIF.FramesCount();
    progressMax(Progress, 2 * count);

    std::array<bool, 256> used{};
    for (int n = 1; n <= count; ++n) {
        progressValue(Progress, n);
        if (GIF.LocalPaletteUsed(n)) continue;
        const GcDIB& image = GIF.FrameDIBXOR(n);
        if (image.BPP() != 8) continue;
        for (int y = 0; y < image.Height(); ++y) {
            const uint8_t* row = image.bitmap()->scanline(y);
            for (int x = 0; x < image.Width(); ++x) used[row[x]] = true;
        }
        // A transparent index keeps its entry even when no pixel shows it;
        // renumbered to another entry it would make real pixels transparent.
        if (GIF.FrameUseTransparentColor(n)) used[GIF.FrameTransparentColorIndex(n)] = true;
    }

    std::array<uint8_t, 256> renumber{};
    int usedCount = 0;
    for (int i = 0; i < 256; ++i)
        if (used[size_t(i)]) renumber[size_t(i)] = uint8_t(usedCount++);
    const int oldEntries = GIF.GlobalPaletteEntries();
    if (usedCount >= oldEntries) {
        progressValue(Progress, 0);
        return 0;
    }

    std::vector<uint8_t> palette(1024, 0);
    const uint8_t* old = GIF.lpGlobalPalette();
    for (int i = 0; i < 256; ++i)
        if (used[size_t(i)]) std::memcpy(&palette[4 * size_t(renumber[size_t(i)])], old + 4 * i, 4);
    int newEntries = usedCount;
    if (usedCount == 1) {
        newEntries = 2;  // a colour table holds at least two entries
        std::memcpy(&palette[4], old, 4);
    } else if (usedCount == 0) {
        newEntries = 1;
    }
    if (oldEntries - newEntries > 255) raiseOverflow();
    std::memcpy(GIF.lpGlobalPalette(), palette.data(), 1024);
    GIF.SetGlobalPaletteEntries(int16_t(newEntries));

    renumberFrames(GIF, palette, renumber, newEntries, Progress);
    return uint8_t(oldEntries - newEntries);
}

namespace {

// The order of SortPaletteByFirstUse (new entry i is old entry order[i]).
std::array<int, 256> firstUseOrder(cGif& GIF, ProgressSink* Progress) {
    const int count = GIF.FramesCount();
    const int entries = std::clamp<int>(GIF.GlobalPaletteEntries(), 0, 256);
    progressMax(Progress, 2 * count);
    // Per entry: the first frame that shows it and its pixels there.
    std::array<int, 256> first;
    first.fill(count + 1);
    std::array<int64_t, 256> pixels{};
    for (int n = 1; n <= count; ++n) {
        progressValue(Progress, n);
        if (GIF.LocalPaletteUsed(n) || GIF.FrameDIBXOR(n).BPP() != 8) continue;
        std::array<int64_t, 256> here{};
        const Bitmap& image = *GIF.FrameDIBXOR(n).bitmap();
        for (int y = 0; y < image.height(); ++y) {
            const uint8_t* row = image.scanline(y);
            for (int x = 0; x < image.width(); ++x) ++here[row[x]];
        }
        for (int i = 0; i < 256; ++i)
            if (here[size_t(i)] > 0 && first[size_t(i)] > n) {
                first[size_t(i)] = n;
                pixels[size_t(i)] = here[size_t(i)];
            }
    }
    std::array<int, 256> order{};
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.begin() + entries, [&](int a, int b) {
        if (first[size_t(a)] != first[size_t(b)]) return first[size_t(a)] < first[size_t(b)];
        return pixels[size_t(a)] > pixels[size_t(b)];
    });
    return order;
}

// Per frame: which colours its changed pixels have, and how many they are.
struct FrameChanges {
    std::bitset<256> colours;
    int64_t pixels = 0;
};

// The order of SortPaletteByChange; nothing where it does not apply.
// `changes`, when given, receives each frame's changed colours.
// Per palette entry: the frames that show it, then its pixels; entries
// ordered by the two, most used first, ties keeping their order.
struct EntryUse {
    std::array<int, 256> frames{};
    std::array<int64_t, 256> pixels{};

    void addFrame(const std::array<int64_t, 256>& here) {
        for (int i = 0; i < 256; ++i) {
            frames[size_t(i)] += here[size_t(i)] > 0;
            pixels[size_t(i)] += here[size_t(i)];
        }
    }
    // Entries beyond the table keep their numbers: pixels may show them.
    std::array<int, 256> order(int entries) const {
        std::array<int, 256> out{};
        std::iota(out.begin(), out.end(), 0);
        std::stable_sort(out.begin(), out.begin() + entries, [&](int a, int b) {
            if (frames[size_t(a)] != frames[size_t(b)]) return frames[size_t(a)] > frames[size_t(b)];
            return pixels[size_t(a)] > pixels[size_t(b)];
        });
        return out;
    }
};

std::optional<std::array<int, 256>> changeOrder(cGif& GIF, ProgressSink* Progress,
                                                std::vector<FrameChanges>* changes = nullptr) {
    const int count = GIF.FramesCount();
    const int entries = std::clamp<int>(GIF.GlobalPaletteEntries(), 0, 256);
    const int W = GIF.ScreenWidth(), H = GIF.ScreenHeight();
    if (W <= 0 || H <= 0 || int64_t(W) * H > (int64_t(1) << 28)) return std::nullopt;
    progressMax(Progress, 2 * count);
    // The screen as index values, -1 where nothing shows yet; each frame's
    // pixels count where they differ from it, then cover it.
    std::vector<int16_t> screen(size_t(W) * size_t(H), -1);
    EntryUse use;
    for (int n = 1; n <= count; ++n) {
        progressValue(Progress, n);
        if (GIF.LocalPaletteUsed(n) || GIF.FrameDIBXOR(n).BPP() != 8) return std::nullopt;
        const bool own = GIF.FrameUseTransparentColor(n);
        const int t = GIF.FrameTransparentColorIndex(n);
        std::array<int64_t, 256> here{};
        const Bitmap& image = *GIF.FrameDIBXOR(n).bitmap();
        for (int y = 0; y < image.height(); ++y) {
            const int sy = GIF.FrameTop(n) + y;
            if (sy < 0 || sy >= H) continue;
            const uint8_t* row = image.scanline(y);
            for (int x = 0; x < image.width(); ++x) {
                const int sx = GIF.FrameLeft(n) + x;
                if (sx < 0 || sx >= W || (own && row[x] == t)) continue;
                int16_t& shown = screen[size_t(sy) * size_t(W) + size_t(sx)];
                here[row[x]] += shown != row[x];
                shown = row[x];
            }
        }
        if (changes) {
            FrameChanges c;
            for (int i = 0; i < 256; ++i) {
                c.colours[size_t(i)] = here[size_t(i)] > 0;
                c.pixels += here[size_t(i)];
            }
            changes->push_back(c);
        }
        use.addFrame(here);
    }
    return use.order(entries);
}

std::array<int, 256> inverseOf(const std::array<int, 256>& order) {
    std::array<int, 256> inverse{};
    for (int i = 0; i < 256; ++i) inverse[size_t(order[size_t(i)])] = i;
    return inverse;
}

// An order that gives as many changed pixels as it can the smaller code
// sizes: the entries of a frame's changed pixels, and one free index for
// its transparency, must all lie below 2^b for the frame to be coded in b
// bits. Going down from 128 entries, each band takes greedily the frames
// that bring the most pixels for the entries they add, among the frames the
// band above holds; inside a band entries keep the order of `base`.
std::array<int, 256> coverageOrder(const std::vector<FrameChanges>& changes, int entries,
                                   const std::array<int, 256>& base) {
    using Set = std::bitset<256>;
    auto colours = [&](size_t f) -> const Set& { return changes[f].colours; };
    std::vector<size_t> inside(changes.size());
    std::iota(inside.begin(), inside.end(), size_t(0));
    std::vector<Set> bands;  // widest first
    for (int bits = 7; bits >= 2; --bits) {
        const size_t room = size_t(1) << bits;
        Set band;
        std::vector<size_t> taken, left = inside;
        for (;;) {
            // Frames the band already holds come free; then the frame with
            // the most pixels per entry it adds. Each such pick adds an
            // entry, so a band takes at most `room` picks of a pass each.
            const auto free = std::stable_partition(left.begin(), left.end(), [&](size_t f) {
                return (colours(f) & ~band).any() || colours(f).count() + 1 > room;
            });
            taken.insert(taken.end(), free, left.end());
            left.erase(free, left.end());
            size_t best = left.size();
            double bestGain = 0;
            for (size_t k = 0; k < left.size(); ++k) {
                const Set& s = colours(left[k]);
                const size_t total = (band | s).count(), added = total - band.count();
                if (total > room || s.count() + 1 > room) continue;
                const double gain = double(changes[left[k]].pixels + 1) / double(added + 1);
                if (best == left.size() || gain > bestGain) best = k, bestGain = gain;
            }
            if (best == left.size()) break;
            band |= colours(left[best]);
            taken.push_back(left[best]);
            left.erase(left.begin() + std::ptrdiff_t(best));
        }
        if (taken.empty()) break;
        bands.push_back(band);
        inside = taken;
    }
    // Narrowest band first, then each wider one, then the rest.
    std::array<int, 256> order{};
    std::iota(order.begin(), order.end(), 0);
    const std::array<int, 256> rankOf = inverseOf(base);
    // An entry's level: 0 in the narrowest band, one more per wider band.
    std::array<size_t, 256> level{};
    for (int i = 0; i < 256; ++i) {
        size_t deepest = 0;
        while (deepest < bands.size() && bands[deepest][size_t(i)]) ++deepest;
        level[size_t(i)] = bands.size() - deepest;
    }
    std::stable_sort(order.begin(), order.begin() + entries, [&](int a, int b) {
        if (level[size_t(a)] != level[size_t(b)]) return level[size_t(a)] < level[size_t(b)];
        return rankOf[size_t(a)] < rankOf[size_t(b)];
    });
    return order;
}

std::array<int, 256> identityOrder() {
    std::array<int, 256> order{};
    std::iota(order.begin(), order.end(), 0);
    return order;
}



}  // namespace

bool SortPaletteByFirstUse(cGif& GIF, ProgressSink* Progress) {
    if (!GIF.GlobalPaletteExists()) return false;
    applyOrder(GIF, firstUseOrder(GIF, Progress), std::clamp<int>(GIF.GlobalPaletteEntries(), 0, 256), Progress);
    return true;
}

bool SortPaletteByChange(cGif& GIF, ProgressSink* Progress) {
    if (!GIF.GlobalPaletteExists()) return false;
    const std::optional<std::array<int, 256>> order = changeOrder(GIF, Progress);
    if (!order) return false;
    applyOrder(GIF, *order, std::clamp<int>(GIF.GlobalPaletteEntries(), 0, 256), Progress);
    return true;
}

bool SortPaletteByUse(cGif& GIF, ProgressSink* Progress) {
    if (!GIF.GlobalPaletteExists()) return false;
    const int count = GIF.FramesCount();
    const int entries = std::clamp<int>(GIF.GlobalPaletteEntries(), 0, 256);
    progressMax(Progress, 2 * count);

    EntryUse use;
    for (int n = 1; n <= count; ++n) {
        progressValue(Progress, n);
        if (GIF.LocalPaletteUsed(n) || GIF.FrameDIBXOR(n).BPP() != 8) continue;
        std::array<int64_t, 256> here{};
        const Bitmap& image = *GIF.FrameDIBXOR(n).bitmap();
        for (int y = 0; y < image.height(); ++y) {
            const uint8_t* row = image.scanline(y);
            for (int x = 0; x < image.width(); ++x) ++here[row[x]];
        }
        use.addFrame(here);
    }
    applyOrder(GIF, use.order(entries), entries, Progress);
    return true;
}

bool CodeSmallestFile(cGif& GIF, std::vector<uint8_t>& bytes, ProgressSink* Progress) {
    GifSaveOptions options;
    options.smallestDelta = true;
    // Which order codes shortest depends on the bits each frame's written
    // pixels need: an estimate (changed pixels times the bits of their
    // highest colour) picks it, and only that order is coded. On photo
    // morphs the estimate has ranked the orders as their files do whenever
    // it told them apart, and coding every order would double the time for
    // a few tenths of a percent at most.
    if (GIF.GlobalPaletteExists()) {
        const int entries = std::clamp<int>(GIF.GlobalPaletteEntries(), 0, 256);
        std::vector<FrameChanges> changes;
        if (const std::optional<std::array<int, 256>> byChange = changeOrder(GIF, Progress, &changes)) {
            auto estimate = [&](const std::array<int, 256>& order) {
                const std::array<int, 256> renumber = inverseOf(order);
                int64_t bits = 0;
                for (const FrameChanges& c : changes) {
                    int highest = 0;
                    for (int i = 0; i < 256; ++i)
                        if (c.colours[size_t(i)]) highest = std::max(highest, renumber[size_t(i)]);
                    int b = 2;
                    while (b < 8 && (highest >> b) != 0) ++b;
                    bits += c.pixels * (b + 1);
                }
                return bits;
            };
            const std::array<int, 256> byFirstUse = firstUseOrder(GIF, Progress);
            const std::array<int, 256> byCoverage = coverageOrder(changes, entries, *byChange);
            int64_t least = estimate(identityOrder());
            const std::array<int, 256>* best = nullptr;
            for (const std::array<int, 256>* order : {&byFirstUse, &*byChange, &byCoverage}) {
                const int64_t bits = estimate(*order);
                if (bits < least) {
                    least = bits;
                    best = order;
                }
            }
            if (best) applyOrder(GIF, *best, entries, Progress);
        }
    }
    return GIF.SaveToStream(bytes, options);
}

bool OptimizeFrames(cGif& GIF, ProgressSink* Progress) {
    const int count = GIF.FramesCount();
    for (int n = 1; n <= count; ++n) {
        const GcDIB& image = GIF.FrameDIBXOR(n);
        if (image.BPP() != 8 || image.Width() != GIF.ScreenWidth() || image.Height() != GIF.ScreenHeight() ||
            GIF.FrameLeft(n) != 0 || GIF.FrameTop(n) != 0)
            return false;
    }
    if (count == 0) return true;  // nothing to crop

    const bool T = GIF.FrameUseTransparentColor(1);
    const uint8_t t = GIF.FrameTransparentColorIndex(1);
    const int start = T ? 1 : 2;
    // The crops below take every frame for the picture it shows. A frame
    // whose transparent pixels show the frames before it (as another
    // optimiser writes them) is not: cropping it against its own pixels, or
    // giving it disposal 3, would play back another animation.
    for (int n = 2; n <= count; ++n) {
        if (!GIF.FrameUseTransparentColor(n)) continue;
        if (!T) return false;
        if (GIF.FrameDisposalMethod(n - 1) == 1 && holdsValue(*GIF.FrameDIBXOR(n).bitmap(), GIF.FrameTransparentColorIndex(n)))
            return false;
    }

    progressMax(Progress, count);

    // Every rectangle is taken from the frames as they stand, before any crop.
    std::vector<Box> rect(size_t(count) + 1);  // numbered like the frames
    for (int n = start; n <= count; ++n) {
        progressValue(Progress, n);
        const Bitmap* previous = T ? nullptr : GIF.FrameDIBXOR(n - 1).bitmap();
        rect[size_t(n)] = changedBox(*GIF.FrameDIBXOR(n).bitmap(), previous, t);
    }

    // Frames that change nothing go; their time goes to the frame before.
    int total = count;
    for (int n = start; n <= total;) {
        if (!rect[size_t(n)].empty()) {
            ++n;
            continue;
        }
        const int sum = n > 1 ? GIF.FrameDelay(n - 1) + GIF.FrameDelay(n) : 0;
        if (n == 1 || sum > 32767 || sum < -32768) {
            // No frame before it, or the delays do not add up in 16 bits:
            // keep the frame as one pixel that shows what is already there.
            rect[size_t(n)] = Box{0, 0, 1, 1};
            ++n;
            continue;
        }
        GIF.SetFrameDelay(n - 1, int16_t(sum));
        GIF.FrameRemove(n);
        rect.erase(rect.begin() + n);
        --total;
    }

    if (!T) GIF.SetFrameDisposalMethod(1, 1);

    std::vector<uint8_t> global(GIF.lpGlobalPalette(), GIF.lpGlobalPalette() + 1024);
    for (int n = start; n <= total; ++n) {
        const Box r = rect[size_t(n)];
        GcDIB& image = GIF.FrameDIBXOR(n);
        GcDIB cropped, mask;
        if (!cropped.Create(r.width(), r.height(), 8) || !mask.Create(r.width(), r.height(), 1)) return false;
        cropped.SetPalette(global);
        mask.SetPalette({0, 0, 0, 0, 255, 255, 255, 0});
        for (int y = 0; y < r.height(); ++y)
            std::memcpy(cropped.bitmap()->scanline(y), image.bitmap()->scanline(r.top + y) + r.left,
                        size_t(r.width()));
        image = std::move(cropped);
        GIF.FrameDIBAND(n) = std::move(mask);
        GIF.FrameMask(n, GIF.FrameTransparentColorIndex(n));
        GIF.SetFrameLeft(n, int16_t(r.left));
        GIF.SetFrameTop(n, int16_t(r.top));
        GIF.SetFrameDisposalMethod(n, GIF.FrameUseTransparentColor(n) ? 3 : 1);
    }
    progressValue(Progress, 0);
    return true;
}

}  // namespace tarnel
