#pragma once
// Numbers as text: the numeric test applied to typed and stored values, the
// conversions to 16- and 32-bit integers, the digit patterns used for file
// names and text boxes, and the signed text of numbers in the settings file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel {

// True when the text reads as a number. Accepted: blanks (space, tab, CR, LF)
// before and after; an optional leading sign; decimal digits with commas as
// thousands separators in the integer part, an optional decimal point and an
// optional exponent (E or D, with an optional sign); or "&H" followed by 1 to 8
// hexadecimal digits, or "&O" followed by octal digits with a value of at most
// 32 bits. At least one digit is required, and the value must be finite.
bool IsNumeric(std::string_view text);

// The value of a numeric text as a double; nullopt when IsNumeric is false.
std::optional<double> NumericValue(std::string_view text);

// Conversions of a numeric text to an integer: fractions are rounded to the
// nearest integer with ties to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2); nullopt
// when the text is not numeric or the rounded value does not fit the type.
// Hexadecimal and octal texts denote unsigned bit patterns: "&HFFFFFFFF" is -1
// as a 32-bit value, "&HFFFF" is -1 as a 16-bit value, "&H10000" does not fit
// 16 bits.
std::optional<int32_t> ToInt32(std::string_view text);
std::optional<int16_t> ToInt16(std::string_view text);

// Rounding of a double to an integer type, ties to even; nullopt on overflow or NaN.
std::optional<int32_t> RoundToInt32(double value);
std::optional<int16_t> RoundToInt16(double value);

// Formats an integer with a digit pattern made of '0' and '#' characters:
// every '0' is a digit that is always shown, every '#' a digit shown only when
// significant; more digits than the pattern holds are all shown. A negative
// value gets a leading '-'. So "000" gives "007", "1234" for 1234, and "####"
// gives "" for 0 and "42" for 42.
std::string FormatNumber(int64_t value, std::string_view pattern);

// Decimal text with a sign position: a blank before zero and positive values
// (" 9"), a minus sign before negative ones ("-3"). Settings values are
// written this way.
std::string SignedNumberText(int64_t value);

}  // namespace tarnel
