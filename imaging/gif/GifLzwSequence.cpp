#include "imaging/gif/GifLzwSequence.h"

#include <algorithm>
#include <memory>

namespace tarnel {

namespace {

constexpr int kMaxBits = GifLzwCoder::kMaxBits;
constexpr size_t kSubBlockBytes = 255;

}  // namespace

GifLzwCoder::GifLzwCoder(int InitBits)
    : initBits_(std::clamp(InitBits, 3, kMaxBits)), width_(initBits_), clear_(1u << (initBits_ - 1)), table_(clear_) {
    write(clear_);
}

void GifLzwCoder::finish(uint32_t code, std::vector<uint8_t>& out) {
    write(code);
    if (width_ < kMaxBits && table_.next() >= (1u << width_)) ++width_;
    write(clear_ + 1);
    if (held_ > 0) packed_.push_back(uint8_t(acc_));
    acc_ = 0;
    held_ = 0;
    out.reserve(out.size() + packed_.size() + packed_.size() / kSubBlockBytes + 1);
    for (size_t at = 0; at < packed_.size(); at += kSubBlockBytes) {
        const size_t n = std::min(kSubBlockBytes, packed_.size() - at);
        out.push_back(uint8_t(n));
        out.insert(out.end(), packed_.begin() + ptrdiff_t(at), packed_.begin() + ptrdiff_t(at + n));
    }
    packed_.clear();
}

namespace {

// CompressSequence, freezing the table when it fills for the `freezeAt`-th
// time (0: never); counts the fills met.
void compress(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits, int freezeAt,
              int& fills) {
    fills = 0;
    auto coder = std::make_unique<GifLzwCoder>(InitBits);
    uint32_t prefix = pixels[0];
    for (size_t i = 1; i < count; ++i) {
        const int code = coder->find(prefix, pixels[i]);
        if (code >= 0) {
            prefix = uint32_t(code);
            continue;
        }
        if (coder->full() && ++fills == freezeAt) coder->freeze();
        coder->put(prefix, pixels[i]);
        prefix = pixels[i];
    }
    coder->finish(prefix, out);
}

// Bits that code pixels [from, end) as strings of `table`, frozen: no
// entry made, every code 12 bits wide.
uint64_t frozenBits(const GifLzwTable& table, const uint8_t* pixels, size_t from, size_t end) {
    uint64_t codes = 1;
    uint32_t prefix = pixels[from];
    for (size_t i = from + 1; i < end; ++i) {
        const int code = table.find(prefix, pixels[i]);
        if (code >= 0) {
            prefix = uint32_t(code);
        } else {
            ++codes;
            prefix = pixels[i];
        }
    }
    return codes * kMaxBits;
}

// Bits that code pixels [from, end) from a new `table` (reset here), with
// the widths growing as the coder's do; a table that fills stays full.
uint64_t newTableBits(GifLzwTable& table, int InitBits, const uint8_t* pixels, size_t from, size_t end) {
    table.reset();
    int width = InitBits;
    uint64_t bits = 0;
    uint32_t prefix = pixels[from];
    for (size_t i = from + 1; i < end; ++i) {
        const int code = table.find(prefix, pixels[i]);
        if (code >= 0) {
            prefix = uint32_t(code);
            continue;
        }
        bits += uint64_t(width);
        if (!table.full()) {
            if (width < kMaxBits && table.next() >= (1u << width)) ++width;
            table.add(prefix, pixels[i]);
        }
        prefix = pixels[i];
    }
    return bits + uint64_t(width);
}

// CompressSequence, but when the table is full the coder weighs the next
// `window` pixels coded by the full table against a new one (the clear code
// included), keeps the full one while it wins, and weighs again every
// `recheck` codes.
void compressLookingAhead(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits,
                          size_t window, size_t recheck) {
    auto coder = std::make_unique<GifLzwCoder>(InitBits);
    auto scratch = std::make_unique<GifLzwTable>(1u << (coder->initBits() - 1));
    size_t codesFrozen = 0;
    // The clear, when it comes, follows a code at full width.
    auto keepFull = [&](size_t from) {
        const size_t end = std::min(count, from + window);
        return frozenBits(coder->table(), pixels, from, end) <
               uint64_t(kMaxBits) + newTableBits(*scratch, coder->initBits(), pixels, from, end);
    };
    uint32_t prefix = pixels[0];
    for (size_t i = 1; i < count; ++i) {
        const int code = coder->find(prefix, pixels[i]);
        if (code >= 0) {
            prefix = uint32_t(code);
            continue;
        }
        if (coder->full() && !coder->frozen()) {
            if (keepFull(i)) {
                coder->freeze();
                codesFrozen = 0;
            }
        } else if (coder->frozen() && ++codesFrozen >= recheck) {
            codesFrozen = 0;
            if (!keepFull(i)) coder->thaw();
        }
        coder->put(prefix, pixels[i]);
        prefix = pixels[i];
    }
    coder->finish(prefix, out);
}

}  // namespace

void RecodeSequenceSmallest(std::vector<uint8_t>& coded, int fills, const uint8_t* pixels, size_t count,
                            int InitBits) {
    if (count == 0 || fills == 0) return;
    std::vector<uint8_t> tried;
    int unused = 0;
    // Kept from the last fill on: the rest is then too short to fill a new
    // table, so the full one's long strings code it with fewer codes.
    compress(tried, pixels, count, InitBits, fills, unused);
    if (tried.size() < coded.size()) coded.swap(tried);
    // The look ahead sees only a few thousand pixels, so it keeps the full
    // table too long as often as it clears too soon: it wins on some
    // frames, and only those take it.
    tried.clear();
    compressLookingAhead(tried, pixels, count, InitBits, 4096, 512);
    if (tried.size() < coded.size()) coded.swap(tried);
}

void CompressSequenceSmallest(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits) {
    if (count == 0) return;
    std::vector<uint8_t> coded;
    const int fills = CompressSequence(coded, pixels, count, InitBits);
    RecodeSequenceSmallest(coded, fills, pixels, count, InitBits);
    out.insert(out.end(), coded.begin(), coded.end());
}

int CompressSequence(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits) {
    if (count == 0) return 0;
    int fills = 0;
    compress(out, pixels, count, InitBits, 0, fills);
    return fills;
}

}  // namespace tarnel
