// Both formats written straight into the caller's buffer. Values of table size take the exact
// product of their binary value with a power of ten in 128-bit integers and round it by hand: the
// general format to 15 significant digits with exact halves to even (as std::to_chars, which
// formatGeneral uses, rounds them), a digit pattern to its decimals with halves away from zero.
// The binary value is read from the bits of the double and the digits are written two at a time
// straight into the room a TextBuffer hands out (or a small stack buffer that joins a string in one
// append), so a number costs no library call on this path. Other values go through std::to_chars: the general
// format's scientific digits, and for a pattern the correctly rounded fixed digits, which differ from
// halves-away only on an exact half. An exact half at d decimals needs a value with at most d + 1
// binary fraction digits (2^-k has exactly k decimal fraction digits); such a value is written
// exactly with d + 1 decimals and rounded here by hand.
#include "util/number_text_buffer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

std::string_view nonFiniteText(double x)
{
    return std::isnan(x) ? kNaNText : (x > 0 ? kInfinityText : kNegativeInfinityText);
}

char* writeText(char* p, std::string_view text)
{
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
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

// Magnitudes below 2^62 10^-d: their units of 10^-d fit 62 bits.
constexpr std::array<double, kMaxIntegerDecimals + 1> kUnitsLimit = [] {
    std::array<double, kMaxIntegerDecimals + 1> limits{};
    double limit = 4611686018427387904.0;  // 2^62
    for (double& entry : limits) {
        entry = limit;
        limit /= 10.0;
    }
    return limits;
}();

// "00", "01", ..., "99": digits are written two at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t k = 0; k < 100; ++k) {
        pairs[2 * k] = static_cast<char>('0' + k / 10);
        pairs[2 * k + 1] = static_cast<char>('0' + k % 10);
    }
    return pairs;
}();

// Writes the four digits of g < 10^4 at p.
void writeFourDigits(char* p, std::uint32_t g)
{
    std::memcpy(p, &kDigitPairs[static_cast<std::size_t>(g / 100) * 2], 2);
    std::memcpy(p + 2, &kDigitPairs[static_cast<std::size_t>(g % 100) * 2], 2);
}

// Writes the `count` lowest decimal digits of v, leading zeros included, so that they end just
// before `end`. Eight digits at a time are split into halves of four, whose divisions do not wait
// for one another.
void writeDigits(char* end, std::uint64_t v, int count)
{
    for (; count >= 8; count -= 8) {
        const auto low = static_cast<std::uint32_t>(v % 100000000);
        v /= 100000000;
        end -= 8;
        writeFourDigits(end, low / 10000);
        writeFourDigits(end + 4, low % 10000);
    }
    for (; count >= 2; count -= 2) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[static_cast<std::size_t>(v % 100) * 2], 2);
        v /= 100;
    }
    if (count == 1)
        end[-1] = static_cast<char>('0' + v % 10);
}

// Decimal digits of v (1 for zero).
int digitCount(std::uint64_t v)
{
    int count = 1;
    for (std::uint64_t bound = 10; count < 20 && v >= bound; bound *= 10)
        ++count;
    return count;
}

__extension__ using Wide = unsigned __int128;

// A positive normal double as m 2^(e - 53) with a 53-bit m (the frexp exponent e); none for
// zeros, subnormals and non-finite values.
struct BinaryValue {
    std::uint64_t mantissa = 0;
    int exponent = 0;
};

std::optional<BinaryValue> binaryValue(double magnitude)
{
    const auto bits = std::bit_cast<std::uint64_t>(magnitude);
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased == 0 || biased == 0x7ff)
        return std::nullopt;
    constexpr std::uint64_t kHiddenBit = std::uint64_t{1} << 52;
    return BinaryValue{(bits & (kHiddenBit - 1)) | kHiddenBit, biased - 1022};
}

// |x| in units of 10^-decimals, rounded half away from zero on its exact binary value, when the
// result fits 62 bits (every table value): |x| = m 2^(e - 53) with a 53-bit m, so |x| 10^d =
// m 5^d 2^(e - 53 + d) is an integer product and a shift, done in 128 bits. None otherwise.
std::optional<std::uint64_t> roundedUnits(double magnitude, int decimals)
{
    if (decimals > kMaxIntegerDecimals || !(magnitude < kUnitsLimit[static_cast<std::size_t>(decimals)]))
        return std::nullopt;
    const std::optional<BinaryValue> binary = binaryValue(magnitude);
    if (!binary)
        return 0;  // zero, or a subnormal: far below half a unit
    const Wide product =
        static_cast<Wide>(binary->mantissa) * kPowersOfFive[static_cast<std::size_t>(decimals)];
    const int shift = 53 - binary->exponent - decimals;
    if (shift <= 0)
        return static_cast<std::uint64_t>(product << -shift);
    if (shift >= 100)
        return 0;  // the product is below 2^96: less than half a unit
    return static_cast<std::uint64_t>((product + (static_cast<Wide>(1) << (shift - 1))) >> shift);
}

// Writes `units` with the point `decimals` digits from the right, the integer part padded with
// zeros to `minIntegerDigits` digits (an integer part of zero is no digit of its own), after a
// minus sign when `negative`; returns the end. It takes at most 1 + max(minIntegerDigits, 19) + 1
// + decimals characters.
char* writeUnits(char* p, bool negative, std::uint64_t units, const DigitPattern& shape)
{
    const int length = units == 0 ? 0 : digitCount(units);
    const int decimals = shape.decimals;
    const int integerDigits = length > decimals ? length - decimals : 0;
    if (negative)
        *p++ = '-';
    if (shape.minIntegerDigits > integerDigits) {
        const auto padding = static_cast<std::size_t>(shape.minIntegerDigits - integerDigits);
        std::memset(p, '0', padding);
        p += padding;
    }
    // The digits of units, the decimals' leading zeros written as digits of a wider number.
    const int written = std::max(length, decimals);
    writeDigits(p + written, units, written);
    if (!shape.hasPoint)
        return p + written;
    // The decimals move one place right to open the point.
    std::memmove(p + integerDigits + 1, p + integerDigits, static_cast<std::size_t>(decimals));
    p[integerDigits] = '.';
    return p + written + 1;
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
    const std::optional<BinaryValue> binary = binaryValue(magnitude);
    if (!binary)
        return std::nullopt;
    // magnitude >= 2^(e - 1): log10 of that, rounded down, is the exponent or one below it.
    // 78913 / 2^18 is log10(2) to within 2e-7, exact enough for |e| below a thousand.
    int exponent = ((binary->exponent - 1) * 78913) >> 18;
    for (int attempt = 0; attempt < 2; ++attempt, ++exponent) {
        const int scale = kSignificantDigits - 1 - exponent;
        const int shift = 53 - binary->exponent - scale;
        if (scale < 0 || static_cast<std::size_t>(scale) >= kPowersOfFive.size() || shift <= 0 || shift >= 127)
            return std::nullopt;
        const Wide product =
            static_cast<Wide>(binary->mantissa) * kPowersOfFive[static_cast<std::size_t>(scale)];
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
        writeDigits(d.digits.data() + kSignificantDigits, digits, kSignificantDigits);
        d.count = kSignificantDigits;
        dropTrailingZeros(d);
        return d;
    }
    return std::nullopt;
}

// Writes the general format of a finite non-zero value from its digits; returns the end. The
// longest text, "-0.0000" and 15 digits or "-d." and 14 digits with "E-308", is 22 characters.
char* writeGeneral(char* p, bool negative, const SignificantDigits& d)
{
    const char* digits = d.digits.data();
    const auto count = static_cast<std::size_t>(d.count);
    if (negative)
        *p++ = '-';
    if (d.exponent < kPlainMinExponent || d.exponent > kPlainMaxExponent) {
        *p++ = digits[0];
        if (count > 1) {
            *p++ = '.';
            std::memcpy(p, digits + 1, count - 1);
            p += count - 1;
        }
        *p++ = 'E';
        *p++ = d.exponent < 0 ? '-' : '+';
        const int size = std::abs(d.exponent);
        const int width = size < 100 ? 2 : 3;
        writeDigits(p + width, static_cast<std::uint64_t>(size), width);
        return p + width;
    }
    if (d.exponent < 0) {
        const auto zeros = static_cast<std::size_t>(-d.exponent - 1);
        std::memcpy(p, "0.000", 2 + zeros);
        p += 2 + zeros;
        std::memcpy(p, digits, count);
        return p + count;
    }
    const auto integerDigits = static_cast<std::size_t>(d.exponent) + 1;
    if (count <= integerDigits) {
        std::memcpy(p, digits, count);
        std::memset(p + count, '0', integerDigits - count);
        return p + integerDigits;
    }
    std::memcpy(p, digits, integerDigits);
    p += integerDigits;
    *p++ = '.';
    std::memcpy(p, digits + integerDigits, count - integerDigits);
    return p + (count - integerDigits);
}

// The general format of any value; returns the end. It takes at most kGeneralRoom characters.
constexpr std::size_t kGeneralRoom = 32;
char* writeGeneral(char* p, double x)
{
    if (!std::isfinite(x))
        return writeText(p, nonFiniteText(x));
    if (x == 0.0) {
        *p = '0';
        return p + 1;
    }
    const double magnitude = std::fabs(x);
    const std::optional<SignificantDigits> exact = significantByIntegers(magnitude);
    return writeGeneral(p, x < 0, exact ? *exact : significantByToChars(magnitude));
}

// A pattern of up to 16 '0' placeholders before the point, for a value whose units fit 62 bits
// (every table value), takes at most kPatternRoom characters: writes it and returns the end. Other
// values and patterns give nullptr and take the routine below.
constexpr int kMaxRoomPadding = 16;
constexpr std::size_t kPatternRoom = 1 + 19 + 1 + kMaxIntegerDecimals;
char* writeShortPattern(char* p, double x, const DigitPattern& shape)
{
    if (!std::isfinite(x))
        return writeText(p, nonFiniteText(x));
    if (shape.minIntegerDigits > kMaxRoomPadding)
        return nullptr;
    const std::optional<std::uint64_t> units = roundedUnits(std::fabs(x), shape.decimals);
    return units ? writeUnits(p, x < 0 && *units != 0, *units, shape) : nullptr;
}

// The pattern of a finite value through std::to_chars' fixed digits (or the exact routine).
void appendLongPattern(std::string& out, double x, const DigitPattern& shape)
{
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

constexpr std::size_t kIntegerRoom = 24;
char* writeInteger(char* p, long long n)
{
    return std::to_chars(p, p + kIntegerRoom, n).ptr;
}

}  // namespace

void appendGeneral(std::string& out, double x)
{
    std::array<char, kGeneralRoom> text{};
    out.append(text.data(), static_cast<std::size_t>(writeGeneral(text.data(), x) - text.data()));
}

void appendGeneral(TextBuffer& out, double x)
{
    out.keep(writeGeneral(out.room(kGeneralRoom), x));
}

void appendPattern(std::string& out, double x, const DigitPattern& shape)
{
    std::array<char, kPatternRoom + kMaxRoomPadding> text{};
    if (const char* end = writeShortPattern(text.data(), x, shape))
        out.append(text.data(), static_cast<std::size_t>(end - text.data()));
    else
        appendLongPattern(out, x, shape);
}

void appendPattern(TextBuffer& out, double x, const DigitPattern& shape)
{
    if (const char* end = writeShortPattern(out.room(kPatternRoom + kMaxRoomPadding), x, shape)) {
        out.keep(end);
        return;
    }
    std::string text;
    appendLongPattern(text, x, shape);
    out.append(text);
}

void appendInteger(std::string& out, long long n)
{
    std::array<char, kIntegerRoom> text{};
    out.append(text.data(), static_cast<std::size_t>(writeInteger(text.data(), n) - text.data()));
}

void appendInteger(TextBuffer& out, long long n)
{
    out.keep(writeInteger(out.room(kIntegerRoom), n));
}

}  // namespace velmora::util
