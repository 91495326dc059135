// Both formats from one std::to_chars call into a stack buffer. The general format takes the 15
// correctly rounded significant digits as formatGeneral does. A digit pattern rounds half away from
// zero on the exact binary value; std::to_chars rounds correctly to the nearest, which is the same
// except on an exact half. An exact half at d decimals needs a value with at most d + 1 binary
// fraction digits (2^-k has exactly k decimal fraction digits); such a value is written exactly with
// d + 1 decimals and rounded here by hand.
#include "util/number_text_buffer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>

namespace velmora::util {

namespace {

constexpr int kSignificantDigits = 15;
constexpr int kPlainMinExponent = -4;
constexpr int kPlainMaxExponent = 14;
// Integer digits of the largest double (309), the point, a spare digit and the decimals that
// still fit the stack buffer; longer patterns take the exact routine.
constexpr int kMaxBufferedDecimals = 160;
using FixedBuffer = std::array<char, 320 + kMaxBufferedDecimals>;

bool appendNonFinite(std::string& out, double x)
{
    if (std::isfinite(x))
        return false;
    out += std::isnan(x) ? kNaNText : (x > 0 ? kInfinityText : kNegativeInfinityText);
    return true;
}

// Adds one unit in the last digit of text[0, end), stepping over the point; false on a carry out
// of the first digit.
bool incrementDecimalText(char* text, std::ptrdiff_t end)
{
    for (std::ptrdiff_t i = end - 1; i >= 0; --i) {
        if (text[i] == '.')
            continue;
        if (text[i] != '9') {
            ++text[i];
            return true;
        }
        text[i] = '0';
    }
    return false;
}

}  // namespace

void appendGeneral(std::string& out, double x)
{
    if (appendNonFinite(out, x))
        return;
    if (x == 0.0) {
        out += '0';
        return;
    }
    // "d.dddddddddddddde+dd" or "e+ddd".
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(x),
                                      std::chars_format::scientific, kSignificantDigits - 1);
    std::array<char, kSignificantDigits> digits{};
    digits[0] = buffer[0];
    for (int k = 1; k < kSignificantDigits; ++k)
        digits[static_cast<std::size_t>(k)] = buffer[static_cast<std::size_t>(k) + 1];
    int count = kSignificantDigits;
    while (count > 1 && digits[static_cast<std::size_t>(count) - 1] == '0')
        --count;
    const char* exponentSign = buffer.data() + kSignificantDigits + 2;  // after the 'e'
    const std::string_view exponentDigits(exponentSign + 1, static_cast<std::size_t>(result.ptr - exponentSign - 1));
    int exponent = 0;
    for (const char c : exponentDigits)
        exponent = exponent * 10 + (c - '0');
    if (*exponentSign == '-')
        exponent = -exponent;

    const std::string_view all(digits.data(), static_cast<std::size_t>(count));
    if (x < 0)
        out += '-';
    if (exponent < kPlainMinExponent || exponent > kPlainMaxExponent) {
        out += all.front();
        if (count > 1) {
            out += '.';
            out += all.substr(1);
        }
        out += 'E';
        out += *exponentSign;
        out += exponentDigits;  // at least two digits already
        return;
    }
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += all;
        return;
    }
    const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (all.size() <= integerDigits) {
        out += all;
        out.append(integerDigits - all.size(), '0');
        return;
    }
    out += all.substr(0, integerDigits);
    out += '.';
    out += all.substr(integerDigits);
}

void appendPattern(std::string& out, double x, const DigitPattern& shape)
{
    if (appendNonFinite(out, x))
        return;
    const int decimals = shape.decimals;
    const double magnitude = std::fabs(x);
    if (decimals > kMaxBufferedDecimals) {
        std::string pattern(static_cast<std::size_t>(shape.minIntegerDigits), '0');
        if (pattern.empty())
            pattern = "#";
        if (shape.hasPoint)
            pattern += "." + std::string(static_cast<std::size_t>(decimals), '0');
        out += formatPattern(x, pattern);
        return;
    }

    const double halfUnits = std::ldexp(magnitude, decimals + 1);
    const bool mayBeHalf = halfUnits == std::floor(halfUnits);
    FixedBuffer buffer{};
    char* text = buffer.data();
    const auto result = std::to_chars(text, text + buffer.size(), magnitude, std::chars_format::fixed,
                                      mayBeHalf ? decimals + 1 : decimals);
    std::ptrdiff_t end = result.ptr - text;
    bool carriedOut = false;
    if (mayBeHalf) {
        // Exact digits: drop the extra one and round half away from zero.
        --end;
        const char dropped = text[end];
        if (decimals == 0)
            --end;  // the point before the dropped digit
        if (dropped >= '5')
            carriedOut = !incrementDecimalText(text, end);
    }

    const std::string_view written(text, static_cast<std::size_t>(end));
    const std::size_t point = shape.hasPoint ? written.find('.') : written.size();
    std::string_view integerPart = written.substr(0, point);
    if (!carriedOut && integerPart == "0")
        integerPart = {};
    const bool roundsToZero = !carriedOut && written.find_first_not_of("0.") == std::string_view::npos;
    if (x < 0 && !roundsToZero)
        out += '-';
    const auto integerDigits = integerPart.size() + (carriedOut ? 1 : 0);
    const auto minimum = static_cast<std::size_t>(shape.minIntegerDigits);
    if (integerDigits < minimum)
        out.append(minimum - integerDigits, '0');
    if (carriedOut)
        out += '1';
    out += integerPart;
    out += written.substr(point);
}

void appendInteger(std::string& out, long long n)
{
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), n);
    out.append(buffer.data(), result.ptr);
}

}  // namespace velmora::util
