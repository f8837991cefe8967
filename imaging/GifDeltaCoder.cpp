#include "imaging/GifDeltaCoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/GifLzwSequence.h"

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
        : a_(pixels), open_(open), t_(transparent), limit_(1u << codeSize), coder_(codeSize + 1) {}

    void run(std::vector<uint8_t>& data) {
        const size_t n = a_.size();
        size_t pos = 0;
        uint32_t code = startString(pos);
        ++pos;
        size_t planAt = 0;
        while (pos < n) {
            if (planAt == plan_.size()) {
                // The planned string ended: with the entries made since, it
                // may grow further.
                planAt = 0;
                longest(code, pos);
            }
            if (planAt < plan_.size()) {
                code = plan_[planAt++];
                ++pos;
                continue;
            }
            // No string grows: its code goes out and a new one starts.
            const uint32_t previous = code;
            code = startString(pos);
            if (coder_.put(previous, uint8_t(code))) plan_.clear();  // a cleared table holds no plan
            planAt = 0;
            ++pos;
        }
        coder_.finish(code, data);
    }

private:
    // The value an open pixel may keep, or -1.
    int keepable(size_t pos) const {
        const uint8_t v = a_[pos];
        return v == t_ || v >= limit_ ? -1 : v;
    }

    // The first pixel of a string at `pos`: the choice whose string grows
    // longest; leaves that string's plan.
    uint32_t startString(size_t pos) {
        if (!open_[pos]) {
            longest(a_[pos], pos + 1);
            return a_[pos];
        }
        longest(t_, pos + 1);
        const int v = keepable(pos);
        if (v < 0) return t_;
        other_.swap(plan_);
        longest(uint32_t(v), pos + 1);
        if (plan_.size() > other_.size()) return uint32_t(v);
        plan_.swap(other_);
        return t_;
    }

    // The longest string the table holds that extends `code` with the
    // pixels from `pos` on, each as it is or (where open) transparent; the
    // codes of its steps go to plan_. Past the branch budget an open pixel is taken
    // transparent where it can be.
    void longest(uint32_t code, size_t pos) {
        branches_ = kSearchBranches;
        path_.clear();
        plan_.clear();
        search(code, pos);
    }

    void search(uint32_t code, size_t pos) {
        const size_t depth = path_.size();
        const size_t n = a_.size();
        while (pos < n) {
            int asIs = -1, clear = -1;
            uint8_t v = a_[pos];
            if (!open_[pos]) {
                asIs = coder_.find(code, v);
            } else {
                clear = coder_.find(code, t_);
                const int keep = keepable(pos);
                if (keep >= 0) asIs = coder_.find(code, uint8_t(keep));
            }
            if (asIs >= 0 && clear >= 0 && branches_ > 0) {
                --branches_;
                path_.push_back(uint16_t(clear));
                search(uint32_t(clear), pos + 1);
                path_.back() = uint16_t(asIs);
                search(uint32_t(asIs), pos + 1);
                path_.resize(depth);
                return;
            }
            if (clear >= 0) {
                path_.push_back(uint16_t(clear));
                code = uint32_t(clear);
            } else if (asIs >= 0) {
                path_.push_back(uint16_t(asIs));
                code = uint32_t(asIs);
            } else {
                break;
            }
            ++pos;
        }
        if (path_.size() > plan_.size()) plan_ = path_;
        path_.resize(depth);
    }

    const std::vector<uint8_t>& a_;
    const std::vector<uint8_t>& open_;
    const uint8_t t_;
    const uint32_t limit_;
    GifLzwCoder coder_;
    std::vector<uint16_t> plan_, other_, path_;
    int branches_ = 0;
};

// The smallest code size that holds every pixel: a frame need not cover its
// whole colour table, and every bit less shortens each code.
int codeSizeOf(const std::vector<uint8_t>& sequence) {
    uint8_t all = 0;
    const uint8_t* __restrict p = sequence.data();
    for (size_t k = 0, n = sequence.size(); k < n; ++k) all = uint8_t(all | p[k]);
    int bits = 2;
    while (bits < 8 && (all >> bits) != 0) ++bits;
    return bits;
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

// Keeps `data` in `best` when it is shorter.
void keepShorter(GifDeltaCoding& best, std::vector<uint8_t>& data, int codeSize, int transparent) {
    if (!best.data.empty() && data.size() >= best.data.size()) return;
    best.data.swap(data);
    best.codeSize = codeSize;
    best.transparent = transparent;
}

// Keeps `sequence` coded in `best` when it codes shorter.
void keepShorter(GifDeltaCoding& best, const std::vector<uint8_t>& sequence, int transparent) {
    const int codeSize = codeSizeOf(sequence);
    std::vector<uint8_t> data;
    CompressSequence(data, sequence.data(), sequence.size(), codeSize + 1);
    keepShorter(best, data, codeSize, transparent);
}

}  // namespace

GifDeltaCoding CodeSmallestDelta(const GcDIB& plain, const GcDIB* unchanged, int transparent, bool ownIndex,
                                 bool interlaced) {
    GifDeltaCoding best;
    const int w = plain.Width(), h = plain.Height();
    if (plain.BPP() != 8) return best;
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
    // Where at least half the pixels may be transparent, the frame as it is
    // never codes shortest: it is not tried.
    if (2 * openCount < pixels.size()) keepShorter(best, pixels, -1);
    if (openCount == 0) return best;

    // Candidates for the transparent index: the frame's own; else the one
    // given (unused by the frame) and the two indices seen most whose every
    // pixel may be transparent anyway. One of those may keep the code size
    // down, or be the only choice when the frame uses every index.
    std::vector<uint8_t> candidates;
    if (transparent >= 0) candidates.push_back(uint8_t(transparent));
    if (!ownIndex) {
        for (int pick = 0; pick < 2; ++pick) {
            int top = -1;
            for (int i = 0; i < 256; ++i)
                if (uses[size_t(i)] > 0 && openUses[size_t(i)] == uses[size_t(i)] &&
                    std::find(candidates.begin(), candidates.end(), uint8_t(i)) == candidates.end() &&
                    (top < 0 || uses[size_t(i)] > uses[size_t(top)]))
                    top = i;
            if (top >= 0) candidates.push_back(uint8_t(top));
        }
    }
    if (candidates.empty()) {
        if (best.data.empty()) keepShorter(best, pixels, -1);
        return best;
    }

    // Every open pixel transparent, for each candidate; the shortest names
    // the index of the per-pixel choice.
    uint8_t index = candidates.front();
    size_t indexSize = SIZE_MAX;
    std::vector<uint8_t> sequence(pixels.size());
    for (uint8_t t : candidates) {
        select(sequence, pixels, open, t);
        GifDeltaCoding trial;
        keepShorter(trial, sequence, t);
        if (trial.data.size() < indexSize) {
            indexSize = trial.data.size();
            index = t;
        }
        keepShorter(best, trial.data, trial.codeSize, t);
    }

    // The code size of every open pixel transparent: an open pixel keeps its
    // value only where that fits.
    select(sequence, pixels, open, index);
    const int codeSize = codeSizeOf(sequence);
    std::vector<uint8_t> data;
    Chooser(pixels, open, index, codeSize).run(data);
    keepShorter(best, data, codeSize, index);
    return best;
}

}  // namespace tarnel
