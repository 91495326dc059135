// General format and digit patterns. Both work on the decimal digits that std::to_chars gives,
// which are exact or correctly rounded and do not depend on the locale.
#include "util/number_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <system_error>

namespace velmora::util {

namespace {

constexpr int kSignificantDigits = 15;

// Plain decimal is used for decimal exponents in [kPlainMinExponent, kPlainMaxExponent]
// of the rounded value, that is 1e-4 <= |x| < 1e15.
constexpr int kPlainMinExponent = -4;
constexpr int kPlainMaxExponent = 14;

std::string nonFiniteText(double x)
{
    if (std::isnan(x))
        return std::string(kNaNText);
    return std::string(x > 0 ? kInfinityText : kNegativeInfinityText);
}

// The significant digits of a value and its decimal exponent: value = 0.d1d2d3... * 10^(exponent + 1),
// i.e. d1 sits at the 10^exponent place.
struct DecimalDigits {
    std::string digits;
    int exponent = 0;
};

// |x| correctly rounded to 15 significant digits, trailing zeros removed; x finite and non-zero.
DecimalDigits roundToSignificant(double x)
{
    // "d.dddddddddddddde+ddd": 1 + 1 + 14 + 2 + 3 characters at most.
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(x),
                                      std::chars_format::scientific, kSignificantDigits - 1);
    const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));

    const std::size_t ePos = text.find('e');
    DecimalDigits out;
    out.digits.reserve(kSignificantDigits);
    for (const char c : text.substr(0, ePos)) {
        if (c != '.')
            out.digits.push_back(c);
    }
    while (out.digits.size() > 1 && out.digits.back() == '0')
        out.digits.pop_back();

    std::string_view exponentText = text.substr(ePos + 1);
    const bool negativeExponent = exponentText.front() == '-';
    exponentText.remove_prefix(1);
    int magnitude = 0;
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), magnitude);
    out.exponent = negativeExponent ? -magnitude : magnitude;
    return out;
}

std::string plainDecimal(const DecimalDigits& d)
{
    const int digitCount = static_cast<int>(d.digits.size());
    std::string out;
    if (d.exponent < 0) {
        out = "0.";
        out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        out += d.digits;
        return out;
    }
    const int integerDigits = d.exponent + 1;
    if (digitCount <= integerDigits) {
        out = d.digits;
        out.append(static_cast<std::size_t>(integerDigits - digitCount), '0');
        return out;
    }
    out = d.digits.substr(0, static_cast<std::size_t>(integerDigits));
    out += '.';
    out += d.digits.substr(static_cast<std::size_t>(integerDigits));
    return out;
}

std::string exponentNotation(const DecimalDigits& d)
{
    std::string out(1, d.digits.front());
    if (d.digits.size() > 1) {
        out += '.';
        out += d.digits.substr(1);
    }
    out += 'E';
    out += d.exponent < 0 ? '-' : '+';
    const std::string exponentDigits = std::to_string(std::abs(d.exponent));
    if (exponentDigits.size() < 2)
        out += '0';
    out += exponentDigits;
    return out;
}

}  // namespace

DigitPattern parseDigitPattern(std::string_view pattern)
{
    const auto reject = [pattern]() {
        return std::invalid_argument("unsupported number pattern \"" + std::string(pattern) +
                                     "\": expected '#'/'0' placeholders, optionally '.' and '0' decimals");
    };

    DigitPattern shape;
    std::size_t i = 0;
    while (i < pattern.size() && pattern[i] == '#')
        ++i;
    const std::size_t hashCount = i;
    while (i < pattern.size() && pattern[i] == '0')
        ++i;
    shape.minIntegerDigits = static_cast<int>(i - hashCount);
    if (i == 0)
        throw reject();
    if (i == pattern.size())
        return shape;
    if (pattern[i] != '.')
        throw reject();
    shape.hasPoint = true;
    ++i;
    const std::size_t decimalsStart = i;
    while (i < pattern.size() && pattern[i] == '0')
        ++i;
    shape.decimals = static_cast<int>(i - decimalsStart);
    if (shape.decimals == 0 || i != pattern.size())
        throw reject();
    return shape;
}

namespace {

// Adds one unit in the last place of a string of decimal digits; returns false on a carry out
// of the first digit (all nines), which the caller turns into a leading "1".
bool incrementDigits(std::string& digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return true;
        }
        *it = '0';
    }
    return false;
}

// Enough fixed decimals to write |x| exactly: a double is m * 2^(e - 53) with an integer m,
// so it has at most 53 - e binary, hence decimal, fraction digits (1074 for the smallest).
int exactFractionDigits(double x)
{
    int binaryExponent = 0;
    std::frexp(x, &binaryExponent);
    return std::clamp(53 - binaryExponent, 0, 1074);
}

}  // namespace

std::string formatGeneral(double x)
{
    if (!std::isfinite(x))
        return nonFiniteText(x);
    if (x == 0.0)
        return "0";

    const DecimalDigits d = roundToSignificant(x);
    std::string out = x < 0 ? "-" : "";
    if (d.exponent >= kPlainMinExponent && d.exponent <= kPlainMaxExponent)
        out += plainDecimal(d);
    else
        out += exponentNotation(d);
    return out;
}

std::string formatPattern(double x, std::string_view pattern)
{
    const DigitPattern shape = parseDigitPattern(pattern);
    if (!std::isfinite(x))
        return nonFiniteText(x);

    // Exact decimal expansion of |x|, one digit beyond the kept decimals so that the rounding
    // decision below sees the true remainder (exact digits: the expansion is truncated, never rounded).
    const double magnitude = std::fabs(x);
    const int precision = std::max(exactFractionDigits(magnitude), shape.decimals + 1);
    // At most 309 integer digits, the point and the decimals.
    std::string buffer(310 + 1 + static_cast<std::size_t>(precision), '\0');
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                      std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        throw std::logic_error("formatPattern: fixed expansion does not fit its buffer");
    const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));

    const std::size_t point = text.find('.');
    const std::string_view integerText = text.substr(0, point);
    const std::string_view fractionText = text.substr(point + 1);

    // Integer digits followed by the kept decimals, as one number in units of 10^-decimals.
    std::string digits(integerText);
    digits += fractionText.substr(0, static_cast<std::size_t>(shape.decimals));
    if (fractionText[static_cast<std::size_t>(shape.decimals)] >= '5' && !incrementDigits(digits))
        digits.insert(digits.begin(), '1');

    const std::size_t decimals = static_cast<std::size_t>(shape.decimals);
    std::string integerPart = digits.substr(0, digits.size() - decimals);
    const std::string fractionPart = digits.substr(digits.size() - decimals);
    integerPart.erase(0, integerPart.find_first_not_of('0'));
    if (static_cast<int>(integerPart.size()) < shape.minIntegerDigits)
        integerPart.insert(0, static_cast<std::size_t>(shape.minIntegerDigits) - integerPart.size(), '0');

    const bool roundsToZero = digits.find_first_not_of('0') == std::string::npos;
    std::string out = (x < 0 && !roundsToZero) ? "-" : "";
    out += integerPart;
    if (shape.hasPoint) {
        out += '.';
        out += fractionPart;
    }
    return out;
}

}  // namespace velmora::util
