// Both formats written straight into the caller's buffer. Values of table size take the exact
// product of their binary value with a power of ten in 128-bit integers and round it by hand: the
// general format to 15 significant digits with exact halves to even (as std::to_chars, which
// formatGeneral uses, rounds them), a digit pattern to its decimals with halves away from zero.
// Other values go through std::to_chars: the general format's scientific digits, and for a pattern
// the correctly rounded fixed digits, which differ from halves-away only on an exact half. An
// exact half at d decimals needs a value with at most d + 1 binary fraction digits (2^-k has
// exactly k decimal fraction digits); such a value is written exactly with d + 1 decimals and
// rounded here by hand.
#include "util/number_text_buffer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
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

// Powers of five up to 5^27 (below 2^63), for the exact products below.
constexpr int kMaxIntegerDecimals = 18;
constexpr std::array<std::uint64_t, 28> kPowersOfFive = [] {
    std::array<std::uint64_t, 28> powers{};
    powers[0] = 1;
    for (std::size_t k = 1; k < powers.size(); ++k)
        powers[k] = powers[k - 1] * 5;
    return powers;
}();

__extension__ using Wide = unsigned __int128;

// |x| in units of 10^-decimals, rounded half away from zero on its exact binary value, when the
// result fits 62 bits (every table value): |x| = m 2^(e - 53) with a 53-bit m, so |x| 10^d =
// m 5^d 2^(e - 53 + d) is an integer product and a shift, done in 128 bits. None otherwise.
std::optional<std::uint64_t> roundedUnits(double magnitude, int decimals)
{
    if (decimals > kMaxIntegerDecimals ||
        !(magnitude < std::ldexp(1.0, 62) / static_cast<double>(kPowersOfFive[static_cast<std::size_t>(decimals)]) /
                          std::ldexp(1.0, decimals)))
        return std::nullopt;
    if (magnitude == 0.0)
        return 0;
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const Wide product = static_cast<Wide>(mantissa) * kPowersOfFive[static_cast<std::size_t>(decimals)];
    const int shift = 53 - exponent - decimals;
    if (shift <= 0)
        return static_cast<std::uint64_t>(product << -shift);
    if (shift >= 100)
        return 0;  // the product is below 2^96: less than half a unit
    return static_cast<std::uint64_t>((product + (static_cast<Wide>(1) << (shift - 1))) >> shift);
}

// Writes `units` with the point `decimals` digits from the right, the integer part padded with
// zeros to `minIntegerDigits` digits (an integer part of zero is no digit of its own).
void appendUnits(std::string& out, std::uint64_t units, const DigitPattern& shape)
{
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), units);
    const auto length = units == 0 ? 0 : static_cast<std::size_t>(result.ptr - digits.data());
    const auto decimals = static_cast<std::size_t>(shape.decimals);
    const std::size_t integerDigits = length > decimals ? length - decimals : 0;
    const auto minimum = static_cast<std::size_t>(shape.minIntegerDigits);
    if (integerDigits < minimum)
        out.append(minimum - integerDigits, '0');
    out.append(digits.data(), integerDigits);
    if (!shape.hasPoint)
        return;
    out += '.';
    if (length < decimals)
        out.append(decimals - length, '0');
    out.append(digits.data() + integerDigits, length - integerDigits);
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

// The 15 significant digits of a value, trailing zeros dropped, and the decimal exponent of the
// first: value = d1.d2d3... x 10^exponent.
struct SignificantDigits {
    std::array<char, kSignificantDigits> digits{};
    int count = 0;
    int exponent = 0;
};

void dropTrailingZeros(SignificantDigits& d)
{
    while (d.count > 1 && d.digits[static_cast<std::size_t>(d.count) - 1] == '0')
        --d.count;
}

// From std::to_chars' scientific format, "d.dddddddddddddde+dd"; any finite non-zero magnitude.
SignificantDigits significantByToChars(double magnitude)
{
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                      std::chars_format::scientific, kSignificantDigits - 1);
    SignificantDigits d;
    d.digits[0] = buffer[0];
    for (int k = 1; k < kSignificantDigits; ++k)
        d.digits[static_cast<std::size_t>(k)] = buffer[static_cast<std::size_t>(k) + 1];
    d.count = kSignificantDigits;
    dropTrailingZeros(d);
    const char* sign = buffer.data() + kSignificantDigits + 2;  // after the 'e'
    for (const char* c = sign + 1; c < result.ptr; ++c)
        d.exponent = d.exponent * 10 + (*c - '0');
    if (*sign == '-')
        d.exponent = -d.exponent;
    return d;
}

// The same digits, for 1e-13 <= magnitude < 1e15, from the exact product of the 53-bit mantissa m
// (magnitude = m 2^(e - 53)) with 10^s = 5^s 2^s, s = 14 - exponent <= 27, in 128-bit integers:
// round(magnitude 10^s) is the 15-digit integer, rounded to nearest with exact halves to even, as
// std::to_chars rounds. The exponent is first estimated from e and corrected once if it was low.
std::optional<SignificantDigits> significantByIntegers(double magnitude)
{
    constexpr std::uint64_t kLowest = 100000000000000;  // 10^14
    constexpr std::uint64_t kBeyond = 10 * kLowest;
    if (!(magnitude >= 1e-13 && magnitude < 1e15))
        return std::nullopt;
    int binaryExponent = 0;
    const double fraction = std::frexp(magnitude, &binaryExponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    // magnitude >= 2^(e - 1): log10 of that, rounded down, is the exponent or one below it.
    int exponent = static_cast<int>(std::floor((binaryExponent - 1) * 0.30102999566398120));
    for (int attempt = 0; attempt < 2; ++attempt, ++exponent) {
        const int scale = kSignificantDigits - 1 - exponent;
        const int shift = 53 - binaryExponent - scale;
        if (scale < 0 || static_cast<std::size_t>(scale) >= kPowersOfFive.size() || shift <= 0 || shift >= 127)
            return std::nullopt;
        const Wide product = static_cast<Wide>(mantissa) * kPowersOfFive[static_cast<std::size_t>(scale)];
        const Wide whole = product >> shift;
        if (whole >= kBeyond)
            continue;  // the estimate was one low
        if (whole < kLowest)
            return std::nullopt;  // cannot happen with the estimate above; keep the exact routine
        const Wide remainder = product - (whole << shift);
        const Wide half = static_cast<Wide>(1) << (shift - 1);
        auto digits = static_cast<std::uint64_t>(whole);
        if (remainder > half || (remainder == half && digits % 2 == 1))
            ++digits;
        SignificantDigits d;
        d.exponent = exponent;
        if (digits == kBeyond) {  // rounded up to the next power of ten
            digits = kLowest;
            ++d.exponent;
        }
        (void)std::to_chars(d.digits.data(), d.digits.data() + d.digits.size(), digits);
        d.count = kSignificantDigits;
        dropTrailingZeros(d);
        return d;
    }
    return std::nullopt;
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
    const double magnitude = std::fabs(x);
    const std::optional<SignificantDigits> exact = significantByIntegers(magnitude);
    const SignificantDigits d = exact ? *exact : significantByToChars(magnitude);
    const std::string_view all(d.digits.data(), static_cast<std::size_t>(d.count));
    if (x < 0)
        out += '-';
    if (d.exponent < kPlainMinExponent || d.exponent > kPlainMaxExponent) {
        out += all.front();
        if (d.count > 1) {
            out += '.';
            out += all.substr(1);
        }
        out += 'E';
        out += d.exponent < 0 ? '-' : '+';
        const int size = std::abs(d.exponent);
        if (size < 10)
            out += '0';
        appendInteger(out, size);
        return;
    }
    if (d.exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        out += all;
        return;
    }
    const auto integerDigits = static_cast<std::size_t>(d.exponent) + 1;
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
    if (const std::optional<std::uint64_t> units = roundedUnits(magnitude, decimals)) {
        if (x < 0 && *units != 0)
            out += '-';
        appendUnits(out, *units, shape);
        return;
    }
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
