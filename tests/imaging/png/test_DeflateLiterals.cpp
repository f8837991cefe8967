// The literal-only deflate stream inflates, through zlib, to its input: an
// empty input, one byte, runs of one value over many blocks, noise that is
// stored, skewed counts whose Huffman code is deeper than deflate allows,
// and filtered photo-like rows, which must also come out smaller.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <string>
#include <vector>

#include "imaging/png/DeflateLiterals.h"
#include "support/Images.h"

using namespace tarnel;

namespace {

std::vector<uint8_t> inflated(const std::vector<uint8_t>& stream, size_t expected, int& status) {
    std::vector<uint8_t> out(expected + 16);
    uLongf length = uLongf(out.size());
    status = uncompress(out.data(), &length, stream.data(), uLong(stream.size()));
    out.resize(length);
    return out;
}

TEST(DeflateLiterals, InflatesToItsInput) {
    struct Case {
        std::string name;
        std::vector<uint8_t> data;
        double mostOfInput;  // the stream is at most this share of the input (0: any size)
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, 0});
    cases.push_back({"one byte", {42}, 0});
    cases.push_back({"one value over many blocks", std::vector<uint8_t>(300000, 7), 0.2});
    uint32_t seed = 11;
    std::vector<uint8_t> noise(200000);
    for (uint8_t& b : noise) b = uint8_t(test::lcg(seed) >> 8);
    cases.push_back({"noise", noise, 1.001});
    // Counts growing like the Fibonacci numbers give a Huffman tree some 25
    // levels deep: the code must be cut to 15 bits and stay complete.
    std::vector<uint8_t> skewed;
    uint64_t a = 1, b = 1;
    for (int v = 0; v < 26; ++v, b = a + b, a = b - a) skewed.insert(skewed.end(), size_t(a), uint8_t(v));
    for (size_t i = skewed.size() - 1; i > 0; --i) std::swap(skewed[i], skewed[test::lcg(seed) % (i + 1)]);
    skewed.resize(std::min<size_t>(skewed.size(), 65535 * 3 + 17));
    cases.push_back({"skewed counts", skewed, 0.5});
    std::vector<uint8_t> rows;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 900; ++x) {
            const int v = int(128 + 60 * std::sin(x * 0.02 + y * 0.01) + int(test::lcg(seed) % 9));
            rows.push_back(uint8_t(x == 0 ? v : int(test::lcg(seed) % 7) - 3));
        }
    cases.push_back({"filtered rows", rows, 0.5});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> stream = {0xAB};  // appended after what is there
        DeflateLiterals(c.data.data(), c.data.size(), stream);
        ASSERT_EQ(stream[0], 0xAB);
        stream.erase(stream.begin());
        int status = Z_OK;
        const std::vector<uint8_t> back = inflated(stream, c.data.size(), status);
        ASSERT_EQ(status, Z_OK);
        EXPECT_TRUE(back == c.data);
        if (c.mostOfInput > 0) {
            EXPECT_LE(double(stream.size()), c.mostOfInput * double(c.data.size()) + 16);
        }
    }
}

}  // namespace
