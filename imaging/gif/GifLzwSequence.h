#pragma once
// GIF LZW coding of pixels already laid out in coding order (rows, or the
// passes of an interlaced frame), and the coder's string table, which the
// delta coder also uses as a model of the coder.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnel {

// The coder's string table: (prefix code, pixel) to code, as the decoder
// builds it.
class GifLzwTable {
public:
    static constexpr uint32_t kCodeLimit = 4096;

    explicit GifLzwTable(uint32_t clearCode) : clear_(clearCode) { reset(); }

    int find(uint32_t prefix, uint8_t pixel) const {
        const uint32_t key = (prefix << 8) | pixel;
        for (uint32_t i = slot(key);; i = (i + 1) & kMask) {
            const uint32_t e = slots_[i];
            if (e == kEmpty) return -1;
            if (e >> 12 == key) return int(e & 0xFFF);
        }
    }
    bool full() const { return next_ >= kCodeLimit; }
    // The code the next entry gets.
    uint32_t next() const { return next_; }
    // Enters prefix + pixel; the table must not be full.
    void add(uint32_t prefix, uint8_t pixel) {
        const uint32_t key = (prefix << 8) | pixel;
        uint32_t i = slot(key);
        while (slots_[i] != kEmpty && slots_[i] >> 12 != key) i = (i + 1) & kMask;
        slots_[i] = (key << 12) | next_++;
    }
    void reset() {
        slots_.fill(kEmpty);
        next_ = clear_ + 2;
    }

private:
    static constexpr uint32_t kSlots = 16384;  // four times the codes: short probes
    static constexpr uint32_t kMask = kSlots - 1;
    // A slot holds the string (20 bits) over its code (12 bits). No entry is
    // all ones: code 4095 is the last one made, so no entry has it as prefix
    // (but a look-up may, so emptiness is tested first).
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;
    static uint32_t slot(uint32_t key) { return (key * 2654435761u) >> 18; }

    uint32_t clear_;
    uint32_t next_ = 0;
    std::array<uint32_t, kSlots> slots_;
};

// The coder one code at a time: the caller walks the pixels, finds strings
// in the table and puts out each string's code with the pixel that follows.
class GifLzwCoder {
public:
    // InitBits = minimum code size + 1, 3..12. Puts out the clear code.
    explicit GifLzwCoder(int InitBits);

    int find(uint32_t prefix, uint8_t pixel) const { return table_.find(prefix, pixel); }
    bool full() const { return table_.full(); }
    // From now on the table stays as it is: codes go out at 12 bits, nothing
    // is entered and nothing cleared (decoders stop adding to a full table).
    // Only for a full table.
    void freeze() { frozen_ = table_.full(); }
    bool frozen() const { return frozen_; }
    // The next put clears the frozen table.
    void thaw() { frozen_ = false; }
    const GifLzwTable& table() const { return table_; }
    int initBits() const { return initBits_; }
    // Puts out `code`, then enters code + `pixel`, or clears the table when
    // it is full (and not frozen). True when it cleared.
    bool put(uint32_t code, uint8_t pixel) {
        write(code);
        if (frozen_) return false;
        if (table_.full()) {
            write(clear_);
            table_.reset();
            width_ = initBits_;
            return true;
        }
        // The width grows once the next entry's code needs it, as the
        // decoder, one entry behind, will read it.
        if (width_ < kMaxBits && table_.next() >= (1u << width_)) ++width_;
        table_.add(code, pixel);
        return false;
    }
    // Puts out the last string's code and the end code, and appends the data
    // sub-blocks (length byte + at most 255 bytes each, no terminator).
    void finish(uint32_t code, std::vector<uint8_t>& out);

    static constexpr int kMaxBits = 12;

private:
    void write(uint32_t code) {
        acc_ |= uint64_t(code) << held_;
        held_ += width_;
        while (held_ >= 8) {
            packed_.push_back(uint8_t(acc_));
            acc_ >>= 8;
            held_ -= 8;
        }
    }

    int initBits_;
    int width_;
    uint32_t clear_;
    GifLzwTable table_;
    std::vector<uint8_t> packed_;
    uint64_t acc_ = 0;
    int held_ = 0;
    bool frozen_ = false;
};

// Appends the data sub-blocks of `count` (at least one) pixels in coding
// order to `out`, the table cleared whenever it is full. Every pixel must be
// below the clear code. Returns how many times the table filled.
int CompressSequence(std::vector<uint8_t>& out, const uint8_t* pixels, size_t count, int InitBits);

// Replaces `coded` (data of the same pixels, or empty) by the shortest of
// it, CompressSequence's data, that data with the table kept as it is from
// the last time it fills on (no clear after that), and a coding that puts
// each clear off while a look ahead says the full table codes the next
// pixels shorter than a new one would. A table full of the frame's strings
// often codes what follows better than a new one would, until the picture
// changes.
void RecodeSequenceSmallest(std::vector<uint8_t>& coded, const uint8_t* pixels, size_t count, int InitBits);

}  // namespace tarnel
