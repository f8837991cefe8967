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

// Where the coder met a full table: the string `prefix` ends before pixel
// `at`, and `coder` is as it was before that string's code went out.
struct FillPoint {
    size_t at = 0;
    uint32_t prefix = 0;
    std::unique_ptr<GifLzwCoder> coder;
};

// CompressSequence; leaves every fill point in `points` when given.
int compress(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits,
             std::vector<FillPoint>* points) {
    int fills = 0;
    auto coder = std::make_unique<GifLzwCoder>(InitBits);
    uint32_t prefix = pixels[0];
    for (size_t i = 1; i < count; ++i) {
        const int code = coder->find(prefix, pixels[i]);
        if (code >= 0) {
            prefix = uint32_t(code);
            continue;
        }
        if (coder->full()) {
            ++fills;
            if (points) points->push_back({i, prefix, std::make_unique<GifLzwCoder>(*coder)});
        }
        coder->put(prefix, pixels[i]);
        prefix = pixels[i];
    }
    coder->finish(prefix, out);
    return fills;
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

// Whether the full table of `coder` codes pixels [from, from + window)
// shorter than a new one would, the clear code (at full width) included.
bool fullTableWins(const GifLzwCoder& coder, GifLzwTable& scratch, const uint8_t* pixels, size_t count,
                   size_t from, size_t window) {
    const size_t end = std::min(count, from + window);
    return frozenBits(coder.table(), pixels, from, end) <
           uint64_t(kMaxBits) + newTableBits(scratch, coder.initBits(), pixels, from, end);
}

// The look ahead's window in pixels, and how many codes a kept table puts
// out before it is weighed again.
constexpr size_t kLookAhead = 4096;
constexpr size_t kRecheckCodes = 512;

// The coding from `point` on, the table kept there. Without `lookAhead` it
// stays kept to the end; with it (a scratch table), each clear is put off
// while the full table codes the next kLookAhead pixels shorter than a new
// one, weighed again every kRecheckCodes codes.
void codeOnFrom(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, FillPoint& point,
                GifLzwTable* lookAhead) {
    GifLzwCoder& coder = *point.coder;
    coder.freeze();
    size_t codesFrozen = 0;
    uint32_t prefix = point.prefix;
    for (size_t i = point.at; i < count; ++i) {
        const int code = coder.find(prefix, pixels[i]);
        if (code >= 0) {
            prefix = uint32_t(code);
            continue;
        }
        // A kept table is full, so only a full one is weighed.
        if (lookAhead && coder.full()) {
            if (!coder.frozen()) {
                if (fullTableWins(coder, *lookAhead, pixels, count, i, kLookAhead)) {
                    coder.freeze();
                    codesFrozen = 0;
                }
            } else if (++codesFrozen >= kRecheckCodes) {
                codesFrozen = 0;
                if (!fullTableWins(coder, *lookAhead, pixels, count, i, kLookAhead)) coder.thaw();
            }
        }
        coder.put(prefix, pixels[i]);
        prefix = pixels[i];
    }
    coder.finish(prefix, out);
}

}  // namespace

void RecodeSequenceSmallest(std::vector<uint8_t>& coded, const uint8_t* pixels, size_t count, int InitBits) {
    if (count == 0) return;
    std::vector<FillPoint> points;
    std::vector<uint8_t> tried;
    compress(tried, pixels, count, InitBits, &points);
    if (coded.empty() || tried.size() < coded.size()) coded.swap(tried);
    if (points.empty()) return;
    // Up to the first fill where the look ahead keeps the table, it codes
    // as the clearing coder did: it goes on from there. It sees only a few
    // thousand pixels, so it keeps the full table too long as often as it
    // clears too soon: it wins on some frames, and only those take it.
    auto scratch = std::make_unique<GifLzwTable>(1u << (InitBits - 1));
    for (FillPoint& point : points) {
        if (!fullTableWins(*point.coder, *scratch, pixels, count, point.at, kLookAhead)) continue;
        // The last fill's coder is still wanted below.
        FillPoint copy{point.at, point.prefix, std::make_unique<GifLzwCoder>(*point.coder)};
        tried.clear();
        codeOnFrom(tried, pixels, count, copy, scratch.get());
        if (tried.size() < coded.size()) coded.swap(tried);
        break;
    }
    // Kept from the last fill on: the rest is then too short to fill a new
    // table, so the full one's long strings code it with fewer codes.
    tried.clear();
    codeOnFrom(tried, pixels, count, points.back(), nullptr);
    if (tried.size() < coded.size()) coded.swap(tried);
}

int CompressSequence(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits) {
    if (count == 0) return 0;
    return compress(out, pixels, count, InitBits, nullptr);
}

}  // namespace tarnel
