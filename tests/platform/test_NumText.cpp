#include "platform/NumText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnel {
namespace {

struct NumericCase {
    const char* text;
    bool numeric;
};

TEST(NumText, NumericTest) {
    const NumericCase cases[] = {
        {"9", true},          {" 9", true},       {"9 ", true},        {"\t 12 \t", true},   {"-3", true},
        {"+3", true},         {"2.5", true},      {".5", true},        {"5.", true},         {"1e3", true},
        {"1E+3", true},       {"2.5d-1", true},   {"1,000", true},     {"1,0,0", true},      {"&HFF", true},
        {"&hff", true},       {"&O17", true},     {"&HFFFFFFFF", true}, {"0", true},         {"-0.0", true},
        {"1e-400", true},     {"", false},        {" ", false},        {"abc", false},       {"12abc", false},
        {"1.2.3", false},     {".", false},       {"-", false},        {"+-1", false},       {"1e", false},
        {"1e+", false},       {",5", false},      {"- 5", false},      {"5 5", false},       {"&H", false},
        {"&HG", false},       {"&O8", false},     {"&H100000000", false}, {"&X10", false},   {"1e400", false},
        {"--1", false},       {"0x10", false},    {"１２", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsNumeric(c.text), c.numeric) << '"' << c.text << '"';
}

struct Int32Case {
    const char* text;
    std::optional<int32_t> value;
};

TEST(NumText, ToInt32RoundsHalfToEvenAndFailsOnOverflow) {
    const Int32Case cases[] = {
        {" 9", 9},
        {"2.5", 2},
        {"3.5", 4},
        {"-2.5", -2},
        {"-3.5", -4},
        {"0.5", 0},
        {"1.5", 2},
        {"2.4999", 2},
        {"2.5001", 3},
        {"  7  ", 7},
        {"1e3", 1000},
        {"1,000", 1000},
        {"2147483647", 2147483647},
        {"2147483647.4", 2147483647},
        {"2147483647.5", std::nullopt},  // rounds to 2^31
        {"-2147483648", std::numeric_limits<int32_t>::min()},
        {"-2147483648.5", std::numeric_limits<int32_t>::min()},  // ties to even stay in range
        {"-2147483649", std::nullopt},
        {"1e20", std::nullopt},
        {"&HFF", 255},
        {"&HFFFFFFFF", -1},
        {"&H80000000", std::numeric_limits<int32_t>::min()},
        {"&O777", 511},
        {"1e-400", 0},
        {"abc", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ToInt32(c.text), c.value) << '"' << c.text << '"';
}

struct Int16Case {
    const char* text;
    std::optional<int16_t> value;
};

TEST(NumText, ToInt16) {
    const Int16Case cases[] = {
        {"32767", 32767},        {"32767.5", std::nullopt}, {"32766.5", 32766}, {"-32768", -32768},
        {"-32768.5", -32768},    {"-32769", std::nullopt},  {"5", 5},           {" 1 ", 1},
        {"&HFFFF", int16_t(-1)}, {"&H7FFF", 32767},         {"&H10000", std::nullopt}, {"x", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ToInt16(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumText, RoundingOfDoubles) {
    EXPECT_EQ(RoundToInt32(0.5), 0);
    EXPECT_EQ(RoundToInt32(-0.5), 0);
    EXPECT_EQ(RoundToInt32(4.5), 4);
    EXPECT_EQ(RoundToInt32(5.5), 6);
    EXPECT_EQ(RoundToInt32(std::nan("")), std::nullopt);
    EXPECT_EQ(RoundToInt32(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(RoundToInt16(32767.4), 32767);
    EXPECT_EQ(RoundToInt16(-32768.6), std::nullopt);
}

TEST(NumText, NumericValue) {
    EXPECT_DOUBLE_EQ(*NumericValue("-1,234.5e1"), -12345.0);
    EXPECT_DOUBLE_EQ(*NumericValue("&H10"), 16.0);
    EXPECT_FALSE(NumericValue("1.5x"));
}

struct FormatCase {
    int64_t value;
    const char* pattern;
    const char* text;
};

TEST(NumText, Patterns) {
    const FormatCase cases[] = {
        {0, "000", "000"},   {7, "000", "007"},     {42, "000", "042"},  {999, "000", "999"},
        {1000, "000", "1000"}, {-5, "000", "-005"}, {3, "00", "03"},     {59, "00", "59"},
        {123, "00", "123"},  {0, "####", ""},       {42, "####", "42"},  {12345, "####", "12345"},
        {-7, "####", "-7"},
        {std::numeric_limits<int64_t>::min(), "0", "-9223372036854775808"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value, c.pattern), c.text) << c.value << ' ' << c.pattern;
}

TEST(NumText, SignedNumberTextHasSignPosition) {
    EXPECT_EQ(SignedNumberText(9), " 9");
    EXPECT_EQ(SignedNumberText(0), " 0");
    EXPECT_EQ(SignedNumberText(255), " 255");
    EXPECT_EQ(SignedNumberText(-3), "-3");
    EXPECT_EQ(SignedNumberText(std::numeric_limits<int32_t>::min()), "-2147483648");
    // What is written reads back as the same number.
    for (int64_t v : {-100000, -1, 0, 1, 65280, 2147483647})
        EXPECT_EQ(ToInt32(SignedNumberText(v)), int32_t(v));
}

}  // namespace
}  // namespace tarnel
