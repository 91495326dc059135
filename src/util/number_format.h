// Number-to-text formats of the stored files and of the displayed values: the general format
// (up to 15 significant digits) and the classic digit patterns such as "#0.000" and "#.000".
// Both always use "." as the decimal point, whatever the locale.
#pragma once

#include <string>
#include <string_view>

namespace velmora::util {

// Texts written for values that are not finite, by both formats.
inline constexpr std::string_view kNaNText = "NaN";
inline constexpr std::string_view kInfinityText = "Infinity";
inline constexpr std::string_view kNegativeInfinityText = "-Infinity";

// General format: x rounded correctly to 15 significant digits, trailing zeros dropped, whole
// numbers without a point, "0" before the point for magnitudes below 1, "0" for both zeros.
// Plain decimal when 1e-4 <= |rounded x| < 1e15 ("0.0001", "999999999999999"); otherwise a
// mantissa, "E", the exponent sign and at least two exponent digits ("1E-05", "1.5E+20").
// NaN and infinities give kNaNText, kInfinityText and kNegativeInfinityText.
std::string formatGeneral(double x);

// Classic digit pattern: an integer part of '#' placeholders followed by '0' placeholders
// (at least one placeholder in all), optionally "." and one or more '0' placeholders.
// x is rounded to as many decimals as the pattern has after the point, halves away from zero,
// on its exact binary value (2.675 with two decimals gives "2.67": it is stored below the half).
// The integer part prints all its digits and at least as many as there are '0' placeholders
// before the point ("#.000": 0.5 -> ".500"; "#0.000": 0.5 -> "0.500"); no thousands separators.
// Negative values keep their "-" unless they round to zero. Non-finite values give the same
// texts as formatGeneral. Throws std::invalid_argument for any other pattern shape.
std::string formatPattern(double x, std::string_view pattern);

// The shape of a classic digit pattern: '0' placeholders before the point, decimals after it.
struct DigitPattern {
    int minIntegerDigits = 0;
    int decimals = 0;
    bool hasPoint = false;
};

// Parses a pattern as formatPattern accepts it; throws std::invalid_argument for any other shape.
DigitPattern parseDigitPattern(std::string_view pattern);

}  // namespace velmora::util
