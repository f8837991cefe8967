#include "imaging/gif/GifLzwSequence.h"

#include <algorithm>
#include <memory>

namespace tarnel {

namespace {

constexpr int kMaxBits = 12;
constexpr size_t kSubBlockBytes = 255;

}  // namespace

GifLzwCoder::GifLzwCoder(int InitBits)
    : initBits_(std::clamp(InitBits, 3, kMaxBits)), width_(initBits_), clear_(1u << (initBits_ - 1)), table_(clear_) {
    write(clear_);
}

void GifLzwCoder::write(uint32_t code) {
    acc_ |= uint64_t(code) << held_;
    held_ += width_;
    while (held_ >= 8) {
        packed_.push_back(uint8_t(acc_));
        acc_ >>= 8;
        held_ -= 8;
    }
}

bool GifLzwCoder::put(uint32_t code, uint8_t pixel) {
    write(code);
    if (frozen_) return false;
    if (table_.full()) {
        write(clear_);
        table_.reset();
        width_ = initBits_;
        return true;
    }
    // The width grows once the next entry's code needs it, as the decoder,
    // one entry behind, will read it.
    if (width_ < kMaxBits && table_.next() >= (1u << width_)) ++width_;
    table_.add(code, pixel);
    return false;
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

}  // namespace

void CompressSequenceSmallest(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits) {
    if (count == 0) return;
    std::vector<uint8_t> best, tried;
    int fills = 0, unused = 0;
    compress(best, pixels, count, InitBits, 0, fills);
    // Kept from the last fill on: the rest is then too short to fill a new
    // table, so the full one's long strings code it with fewer codes.
    if (fills > 0) {
        compress(tried, pixels, count, InitBits, fills, unused);
        if (tried.size() < best.size()) best.swap(tried);
    }
    out.insert(out.end(), best.begin(), best.end());
}

void CompressSequence(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits) {
    if (count == 0) return;
    auto coder = std::make_unique<GifLzwCoder>(InitBits);
    uint32_t prefix = pixels[0];
    for (size_t i = 1; i < count; ++i) {
        const int code = coder->find(prefix, pixels[i]);
        if (code >= 0) {
            prefix = uint32_t(code);
            continue;
        }
        coder->put(prefix, pixels[i]);
        prefix = pixels[i];
    }
    coder->finish(prefix, out);
}

}  // namespace tarnel
