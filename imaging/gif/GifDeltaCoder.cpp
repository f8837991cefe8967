#include "imaging/gif/GifDeltaCoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "imaging/gif/GifLzwSequence.h"

namespace tarnel {

namespace {

// Branch points one longest-string search may split at; past them the
// transparent index is taken. Bounds the search on frames of long runs.
constexpr int kSearchBranches = 8;

// Interlaced row order: start row and row step of each pass.
constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

// The rows of a frame in the order the encoder codes them.
std::vector<int> codingRows(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(size_t(height));
    if (!(interlaced && height > 4)) {
        for (int y = 0; y < height; ++y) rows.push_back(y);
        return rows;
    }
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kPassStart[pass]; y < height; y += kPassStep[pass]) rows.push_back(y);
    return rows;
}

// Chooses the pixels along the coding order and codes them as it goes.
// `pixels` are the plain values, `open` marks those that may also be
// `transparent`; an open pixel too wide for the code size is always
// transparent.
class Chooser {
public:
    Chooser(const std::vector<uint8_t>& pixels, const std::vector<uint8_t>& open, uint8_t transparent, int codeSize)
        : a_(pixels.data()), open_(open.data()), n_(pixels.size()), t_(transparent), limit_(1u << codeSize),
          coder_(codeSize + 1) {}

    // Codes the frame to `data` and leaves the values chosen in `chosen`.
    // Returns how many times the table filled.
    int run(std::vector<uint8_t>& data, std::vector<uint8_t>& chosen) {
        int fills = 0;
        chosen.resize(n_);
        size_t pos = 0;
        uint32_t code = startString(pos);
        chosen[pos] = uint8_t(code);
        ++pos;
        size_t planAt = 0;
        while (pos < n_) {
            if (planAt == plan_->length) {
                // The planned string ended: with the entries made since, it
                // may grow further.
                planAt = 0;
                longest(code, pos);
            }
            if (planAt < plan_->length) {
                chosen[pos] = plan_->pixels[planAt];
                code = plan_->codes[planAt++];
                ++pos;
                continue;
            }
            // No string grows: its code goes out and a new one starts.
            const uint32_t previous = code;
            code = startString(pos);
            chosen[pos] = uint8_t(code);
            if (coder_.put(previous, uint8_t(code))) {
                plan_->length = 0;  // a cleared table holds no plan
                ++fills;
            }
            planAt = 0;
            ++pos;
        }
        coder_.finish(code, data);
        return fills;
    }

private:
    // A string is at most as long as the table has codes.
    struct Path {
        std::array<uint16_t, GifLzwTable::kCodeLimit + 1> codes;
        std::array<uint8_t, GifLzwTable::kCodeLimit + 1> pixels;  // the value each step took
        size_t length = 0;
    };

    // The first pixel of a string at `pos`: the choice whose string grows
    // longest; leaves that string's plan.
    uint32_t startString(size_t pos) {
        const uint8_t v = a_[pos];
        if (!open_[pos]) {
            longest(v, pos + 1);
            return v;
        }
        longest(t_, pos + 1);
        if (v == t_ || v >= limit_) return t_;
        std::swap(plan_, other_);
        longest(v, pos + 1);
        if (plan_->length > other_->length) return v;
        std::swap(plan_, other_);
        return t_;
    }

    // The longest string the table holds that extends `code` with the
    // pixels from `pos` on, each as it is or (where open) transparent; the
    // codes of its steps go to plan_. Past the branch budget an open pixel
    // is taken transparent where it can be.
    void longest(uint32_t code, size_t pos) {
        branches_ = kSearchBranches;
        plan_->length = 0;
        search(code, pos, 0);
    }

    void search(uint32_t code, size_t pos, size_t depth) {
        uint16_t* const path = path_.codes.data();
        uint8_t* const took = path_.pixels.data();
        while (pos < n_) {
            const uint8_t v = a_[pos];
            int asIs = -1, clear = -1;
            if (!open_[pos]) {
                asIs = coder_.find(code, v);
            } else {
                clear = coder_.find(code, t_);
                // Past the budget a transparent step is taken as it is.
                if (v != t_ && v < limit_ && (clear < 0 || branches_ > 0)) asIs = coder_.find(code, v);
            }
            if (asIs >= 0 && clear >= 0 && branches_ > 0) {
                --branches_;
                path[depth] = uint16_t(clear);
                took[depth] = t_;
                search(uint32_t(clear), pos + 1, depth + 1);
                path[depth] = uint16_t(asIs);
                took[depth] = v;
                search(uint32_t(asIs), pos + 1, depth + 1);
                return;
            }
            const int next = clear >= 0 ? clear : asIs;
            if (next < 0) break;
            took[depth] = clear >= 0 ? t_ : v;
            path[depth++] = uint16_t(next);
            code = uint32_t(next);
            ++pos;
        }
        if (depth > plan_->length) {
            std::memcpy(plan_->codes.data(), path, depth * sizeof(uint16_t));
            std::memcpy(plan_->pixels.data(), took, depth);
            plan_->length = depth;
        }
    }

    const uint8_t* const a_;
    const uint8_t* const open_;
    const size_t n_;
    const uint8_t t_;
    const uint32_t limit_;
    GifLzwCoder coder_;
    // Two plans, swapped by pointer while the two first pixels are weighed.
    Path plans_[2];
    Path* plan_ = &plans_[0];
    Path* other_ = &plans_[1];
    Path path_;
    int branches_ = 0;
};

// `all` is every pixel value or-ed together.
int codeSizeOfValues(uint8_t all) {
    int bits = 2;
    while (bits < 8 && (all >> bits) != 0) ++bits;
    return bits;
}

int codeSizeOf(const std::vector<uint8_t>& sequence) {
    uint8_t all = 0;
    const uint8_t* __restrict p = sequence.data();
    for (size_t k = 0, n = sequence.size(); k < n; ++k) all = uint8_t(all | p[k]);
    return codeSizeOfValues(all);
}

// `pixels` with every open one made `t`.
void select(std::vector<uint8_t>& out, const std::vector<uint8_t>& pixels, const std::vector<uint8_t>& open,
            uint8_t t) {
    uint8_t* __restrict o = out.data();
    const uint8_t* __restrict p = pixels.data();
    const uint8_t* __restrict m = open.data();
    for (size_t k = 0, n = pixels.size(); k < n; ++k) {
        const uint8_t all = uint8_t(-int(m[k]));  // 0 or 0xFF
        o[k] = uint8_t((t & all) | (p[k] & ~all));
    }
}

// `pixels` with each run of open ones (in coding order) made `t` unless it
// is one colour below `limit`: such a run codes as well as the transparent
// one and keeps the strings of the colour around it, while a run of mixed
// colours coded as one value saves the strings it would have broken.
void selectMixedRuns(std::vector<uint8_t>& out, const std::vector<uint8_t>& pixels, const std::vector<uint8_t>& open,
                     uint8_t t, unsigned limit) {
    const size_t n = pixels.size();
    for (size_t k = 0; k < n;) {
        if (!open[k]) {
            out[k] = pixels[k];
            ++k;
            continue;
        }
        size_t end = k + 1;
        bool oneColour = pixels[k] < limit;
        for (; end < n && open[end]; ++end) oneColour &= pixels[end] == pixels[k];
        if (oneColour)
            std::memcpy(out.data() + k, pixels.data() + k, end - k);
        else
            std::memset(out.data() + k, t, end - k);
        k = end;
    }
}

// Keeps `data` in `best` when it is shorter; true when it did.
bool keepShorter(GifDeltaCoding& best, std::vector<uint8_t>& data, int codeSize, int transparent) {
    if (!best.data.empty() && data.size() >= best.data.size()) return false;
    best.data.swap(data);
    best.codeSize = codeSize;
    best.transparent = transparent;
    return true;
}

// The candidate codings of a frame, each with the table cleared whenever it
// fills; the one that wins is coded again with the other clear moments.
class Candidates {
public:
    // Keeps `sequence` coded when it codes shorter. Returns the code size
    // it took.
    int add(const std::vector<uint8_t>& sequence, int transparent) {
        const int codeSize = codeSizeOf(sequence);
        std::vector<uint8_t> data;
        const int fills = CompressSequence(data, sequence.data(), sequence.size(), codeSize + 1);
        if (keepShorter(best_, data, codeSize, transparent)) {
            winner_ = sequence;
            fills_ = fills;
        }
        return codeSize;
    }
    // `data` codes `sequence` and filled the table `fills` times.
    void add(std::vector<uint8_t>& data, std::vector<uint8_t>& sequence, int fills, int codeSize, int transparent) {
        if (keepShorter(best_, data, codeSize, transparent)) {
            winner_.swap(sequence);
            fills_ = fills;
        }
    }
    GifDeltaCoding finish() {
        if (fills_ > 0) RecodeSequenceSmallest(best_.data, winner_.data(), winner_.size(), best_.codeSize + 1);
        return std::move(best_);
    }

private:
    GifDeltaCoding best_;
    std::vector<uint8_t> winner_;
    int fills_ = 0;
};

}  // namespace

GifDeltaCoding CodeSmallestDelta(const GcDIB& plain, const GcDIB* unchanged, int transparent, bool ownIndex,
                                 bool interlaced) {
    const int w = plain.Width(), h = plain.Height();
    if (plain.BPP() != 8) return {};
    if (unchanged && (unchanged->BPP() != 8 || unchanged->Width() != w || unchanged->Height() != h))
        unchanged = nullptr;

    // The pixels in coding order, which of them may become transparent, and
    // how often each index shows in all and where it may.
    const std::vector<int> rows = codingRows(h, interlaced);
    std::vector<uint8_t> pixels(size_t(w) * size_t(h)), open(pixels.size());
    std::array<size_t, 256> uses{}, openUses{};
    for (size_t k = 0; k < rows.size(); ++k) {
        const uint8_t* p = plain.bitmap()->scanline(rows[k]);
        uint8_t* to = pixels.data() + k * size_t(w);
        std::memcpy(to, p, size_t(w));
        if (!unchanged) continue;
        const uint8_t* u = unchanged->bitmap()->scanline(rows[k]);
        uint8_t* mark = open.data() + k * size_t(w);
        for (int x = 0; x < w; ++x) {
            mark[x] = u[x] != 0;
            ++uses[p[x]];
            openUses[p[x]] += mark[x];
        }
    }
    size_t openCount = 0;
    for (size_t u : openUses) openCount += u;
    // The frame as it is, however many pixels may be transparent: when a
    // morph moves a little everywhere, the unchanged pixels are scattered
    // and transparency only breaks the strings the picture repeats.
    Candidates candidates;
    candidates.add(pixels, -1);
    if (openCount == 0) return candidates.finish();

    // The transparent index: the frame's own; else the one given (unused by
    // the frame) or a colour all of whose pixels may be transparent anyway.
    // With every open pixel transparent, such a colour gives the same data
    // as an unused index but for the code size (the one index stands for
    // the other), so the candidate that needs the fewest bits is taken, the
    // unused one on a tie: it leaves the per-pixel choice the most freedom.
    int index = transparent;
    if (!ownIndex) {
        uint8_t highestShut = 0;  // largest value of a pixel that must stay
        for (int i = 0; i < 256; ++i)
            if (uses[size_t(i)] > openUses[size_t(i)]) highestShut = uint8_t(i);
        auto bitsWith = [&](int t) { return codeSizeOfValues(uint8_t(highestShut | t)); };
        for (int i = 0; i < 256; ++i)
            if (uses[size_t(i)] > 0 && openUses[size_t(i)] == uses[size_t(i)] &&
                (index < 0 || bitsWith(i) < bitsWith(index)))
                index = i;
    }
    if (index < 0) return candidates.finish();
    std::vector<uint8_t> sequence(pixels.size());
    select(sequence, pixels, open, uint8_t(index));
    // The code size of every open pixel transparent: the smallest this
    // index allows; an open pixel keeps its value only where that fits.
    const int codeSize = candidates.add(sequence, index);

    // Runs of one colour kept, at any code size and at the smallest.
    selectMixedRuns(sequence, pixels, open, uint8_t(index), 256);
    if (candidates.add(sequence, index) > codeSize) {
        selectMixedRuns(sequence, pixels, open, uint8_t(index), 1u << codeSize);
        candidates.add(sequence, index);
    }
    std::vector<uint8_t> data;
    auto chooser = std::make_unique<Chooser>(pixels, open, uint8_t(index), codeSize);
    const int fills = chooser->run(data, sequence);
    candidates.add(data, sequence, fills, codeSize, index);
    return candidates.finish();
}

}  // namespace tarnel
