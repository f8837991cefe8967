#include "imaging/png/DeflateLiterals.h"

#include <algorithm>
#include <array>
#include <zlib.h>

namespace tarnel {

namespace {

// A block too noisy for a code of its own is stored, and a stored block
// holds at most this many bytes. Smaller blocks follow the picture's
// statistics more closely but pay for more code tables.
constexpr size_t kBlockBytes = 65535;
constexpr int kLiteralBits = 15;  // deflate's longest code
constexpr int kLengthCodeBits = 7;  // the longest code of the code lengths' code
constexpr int kEndOfBlock = 256;
constexpr int kLiterals = 257;  // 0-255 and the end of the block
// The order the code lengths' code is sent in.
constexpr std::array<uint8_t, 19> kLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Bits out least significant first, as deflate packs them.
class BitWriter {
public:
    explicit BitWriter(uint8_t* to) : p_(to) {}
    // `value` below 2^count, count at most 32.
    void put(uint32_t value, int count) {
        acc_ |= uint64_t(value) << held_;
        held_ += count;
        if (held_ >= 32) {
            p_[0] = uint8_t(acc_);
            p_[1] = uint8_t(acc_ >> 8);
            p_[2] = uint8_t(acc_ >> 16);
            p_[3] = uint8_t(acc_ >> 24);
            p_ += 4;
            acc_ >>= 32;
            held_ -= 32;
        }
    }
    // Pads the last byte with zero bits and puts out every bit held.
    void align() {
        while (held_ > 0) {
            *p_++ = uint8_t(acc_);
            acc_ >>= 8;
            held_ -= 8;
        }
        acc_ = 0;
        held_ = 0;
    }
    // Where the next byte goes; only after align().
    uint8_t*& position() { return p_; }

private:
    uint8_t* p_;
    uint64_t acc_ = 0;
    int held_ = 0;
};

// Code lengths, at most `maxBits`, of a Huffman code for `n` frequencies.
// A symbol that never occurs gets none, unless fewer than two occur: then
// unused ones make up two, as decoders refuse a code that is not complete.
void codeLengths(const uint32_t* freq, int n, int maxBits, uint8_t* lengths) {
    std::fill(lengths, lengths + n, uint8_t(0));
    std::array<int, kLiterals> symbols{};  // by frequency, rarest first
    int m = 0;
    for (int i = 0; i < n; ++i)
        if (freq[i] > 0) symbols[size_t(m++)] = i;
    for (int i = 0; m < 2 && i < n; ++i)
        if (freq[i] == 0) symbols[size_t(m++)] = i;
    std::sort(symbols.begin(), symbols.begin() + m, [&](int a, int b) {
        return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
    });

    // The tree by two queues: the leaves in order of weight, and the inner
    // nodes as they are made (they come out in order of weight too).
    std::array<uint64_t, 2 * kLiterals> weight{};
    std::array<int, 2 * kLiterals> parent{};
    for (int k = 0; k < m; ++k) weight[size_t(k)] = freq[symbols[size_t(k)]];
    int leaf = 0, inner = m, made = m;
    auto lightest = [&] {
        if (leaf < m && (inner == made || weight[size_t(leaf)] <= weight[size_t(inner)])) return leaf++;
        return inner++;
    };
    for (int k = 0; k < m - 1; ++k) {
        const int a = lightest(), b = lightest();
        weight[size_t(made)] = weight[size_t(a)] + weight[size_t(b)];
        parent[size_t(a)] = parent[size_t(b)] = made++;
    }
    // Depths from the root (the last node) down: a parent comes after its children.
    std::array<int, 2 * kLiterals> depth{};
    for (int k = made - 2; k >= 0; --k) depth[size_t(k)] = depth[size_t(parent[size_t(k)])] + 1;

    // How many codes of each length, the longest cut to maxBits; then codes
    // moved between lengths until the code is complete again.
    std::array<int, kLiteralBits + 2> count{};
    for (int k = 0; k < m; ++k) ++count[size_t(std::min(depth[size_t(k)], maxBits))];
    const uint64_t full = uint64_t(1) << maxBits;
    uint64_t kraft = 0;
    for (int len = 1; len <= maxBits; ++len) kraft += uint64_t(count[size_t(len)]) << (maxBits - len);
    while (kraft > full) {  // one code of the longest length below the cut one deeper
        int len = maxBits - 1;
        while (count[size_t(len)] == 0) --len;
        --count[size_t(len)];
        ++count[size_t(len + 1)];
        kraft -= uint64_t(1) << (maxBits - len - 1);
    }
    while (kraft < full) {  // one code of the longest length that fits one shallower
        int len = maxBits;
        while (len > 1 && (count[size_t(len)] == 0 || kraft + (uint64_t(1) << (maxBits - len)) > full)) --len;
        --count[size_t(len)];
        ++count[size_t(len - 1)];
        kraft += uint64_t(1) << (maxBits - len);
    }
    // The longest codes to the rarest symbols.
    int k = 0;
    for (int len = maxBits; len >= 1; --len)
        for (int c = 0; c < count[size_t(len)]; ++c) lengths[symbols[size_t(k++)]] = uint8_t(len);
}

// The canonical codes of `lengths`, bit-reversed, as deflate sends them
// least significant bit first.
void canonicalCodes(const uint8_t* lengths, int n, uint16_t* codes) {
    std::array<uint32_t, kLiteralBits + 1> count{}, next{};
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    uint32_t code = 0;
    for (int len = 1; len <= kLiteralBits; ++len) {
        code = (code + count[size_t(len - 1)]) << 1;
        next[size_t(len)] = code;
    }
    for (int i = 0; i < n; ++i) {
        const int len = lengths[i];
        if (len == 0) continue;
        uint32_t c = next[size_t(len)]++, reversed = 0;
        for (int b = 0; b < len; ++b, c >>= 1) reversed = (reversed << 1) | (c & 1);
        codes[i] = uint16_t(reversed);
    }
}

// One code length symbol: 0-15 a length, 16 the one before 3-6 more times,
// 17 and 18 runs of 3-10 and 11-138 zeros, with its extra bits.
struct LengthSymbol {
    uint8_t symbol;
    uint8_t extra;
};

int extraBits(int symbol) { return symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0; }

// The code lengths of the literal code and of one unused distance code, run
// length coded; returns how many symbols.
int runLengths(const uint8_t* literalLengths, std::array<LengthSymbol, kLiterals + 1>& out) {
    std::array<uint8_t, kLiterals + 1> all{};
    std::copy(literalLengths, literalLengths + kLiterals, all.begin());
    all[kLiterals] = 0;  // one distance code of zero bits: no distances at all
    int n = 0;
    for (int i = 0; i < kLiterals + 1;) {
        const uint8_t v = all[size_t(i)];
        int run = 1;
        while (i + run < kLiterals + 1 && all[size_t(i + run)] == v) ++run;
        i += run;
        if (v == 0) {
            for (; run >= 11; run -= std::min(run, 138)) out[size_t(n++)] = {18, uint8_t(std::min(run, 138) - 11)};
            if (run >= 3) {
                out[size_t(n++)] = {17, uint8_t(run - 3)};
                run = 0;
            }
        } else {
            out[size_t(n++)] = {v, 0};
            --run;
            for (; run >= 3; run -= std::min(run, 6)) out[size_t(n++)] = {16, uint8_t(std::min(run, 6) - 3)};
        }
        for (; run > 0; --run) out[size_t(n++)] = {v, 0};
    }
    return n;
}

// One block of `size` bytes (at most kBlockBytes): Huffman coded, or stored
// when that is no longer.
void writeBlock(BitWriter& out, const uint8_t* data, size_t size, bool last) {
    // Four counts side by side, so that runs of one byte do not wait on
    // each other's increments.
    std::array<std::array<uint32_t, 256>, 4> part{};
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++part[0][data[i]];
        ++part[1][data[i + 1]];
        ++part[2][data[i + 2]];
        ++part[3][data[i + 3]];
    }
    for (; i < size; ++i) ++part[0][data[i]];
    std::array<uint32_t, kLiterals> freq{};
    for (int b = 0; b < 256; ++b) freq[size_t(b)] = part[0][size_t(b)] + part[1][size_t(b)] + part[2][size_t(b)] + part[3][size_t(b)];
    freq[kEndOfBlock] = 1;

    std::array<uint8_t, kLiterals> lengths{};
    codeLengths(freq.data(), kLiterals, kLiteralBits, lengths.data());
    std::array<LengthSymbol, kLiterals + 1> runs{};
    const int runCount = runLengths(lengths.data(), runs);
    std::array<uint32_t, 19> runFreq{};
    for (int k = 0; k < runCount; ++k) ++runFreq[runs[size_t(k)].symbol];
    std::array<uint8_t, 19> runLengthsOfCode{};
    codeLengths(runFreq.data(), 19, kLengthCodeBits, runLengthsOfCode.data());
    int sent = 19;
    while (sent > 4 && runLengthsOfCode[kLengthOrder[size_t(sent - 1)]] == 0) --sent;

    uint64_t bits = 3 + 5 + 5 + 4 + 3 * uint64_t(sent);
    for (int k = 0; k < runCount; ++k)
        bits += runLengthsOfCode[runs[size_t(k)].symbol] + uint64_t(extraBits(runs[size_t(k)].symbol));
    for (int s = 0; s < kLiterals; ++s) bits += uint64_t(freq[size_t(s)]) * lengths[size_t(s)];
    if (bits >= 3 + 32 + 8 * uint64_t(size)) {
        out.put(last ? 1 : 0, 3);  // stored
        out.align();
        uint8_t*& p = out.position();
        p[0] = uint8_t(size);
        p[1] = uint8_t(size >> 8);
        p[2] = uint8_t(~size);
        p[3] = uint8_t(~size >> 8);
        std::copy(data, data + size, p + 4);
        p += 4 + size;
        return;
    }

    std::array<uint16_t, kLiterals> codes{};
    canonicalCodes(lengths.data(), kLiterals, codes.data());
    std::array<uint16_t, 19> runCodes{};
    canonicalCodes(runLengthsOfCode.data(), 19, runCodes.data());
    out.put(last ? 1 : 0, 1);
    out.put(2, 2);  // dynamic Huffman codes
    out.put(kLiterals - 257, 5);
    out.put(0, 5);  // one distance code
    out.put(uint32_t(sent - 4), 4);
    for (int k = 0; k < sent; ++k) out.put(runLengthsOfCode[kLengthOrder[size_t(k)]], 3);
    for (int k = 0; k < runCount; ++k) {
        const LengthSymbol r = runs[size_t(k)];
        out.put(runCodes[r.symbol], runLengthsOfCode[r.symbol]);
        if (const int extra = extraBits(r.symbol)) out.put(r.extra, extra);
    }
    // Code and length of each byte in one word: one load a byte.
    std::array<uint32_t, 256> table{};
    for (int b = 0; b < 256; ++b) table[size_t(b)] = uint32_t(codes[size_t(b)]) | uint32_t(lengths[size_t(b)]) << 16;
    for (size_t k = 0; k < size; ++k) {
        const uint32_t t = table[data[k]];
        out.put(t & 0xFFFF, int(t >> 16));
    }
    out.put(codes[kEndOfBlock], lengths[kEndOfBlock]);
}

}  // namespace

void DeflateLiterals(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    const size_t blocks = std::max<size_t>(1, (size + kBlockBytes - 1) / kBlockBytes);
    // No block comes out longer than stored (5 bytes of header); then the
    // zlib header and check value, and the bit writer's last word.
    const size_t start = out.size();
    out.resize(start + size + 5 * blocks + 2 + 4 + 8);
    uint8_t* p = out.data() + start;
    *p++ = 0x78;  // deflate, 32 KB window
    *p++ = 0x01;  // fastest, no dictionary; (0x78 << 8 | 0x01) % 31 == 0
    BitWriter bits(p);
    for (size_t at = 0, k = 0; k < blocks; ++k, at += kBlockBytes) {
        const size_t n = std::min(kBlockBytes, size - at);
        writeBlock(bits, data + at, n, k + 1 == blocks);
    }
    bits.align();
    p = bits.position();
    const uLong check = adler32_z(adler32_z(0, nullptr, 0), data, size);
    p[0] = uint8_t(check >> 24);
    p[1] = uint8_t(check >> 16);
    p[2] = uint8_t(check >> 8);
    p[3] = uint8_t(check);
    out.resize(size_t(p + 4 - out.data()));
}

}  // namespace tarnel
