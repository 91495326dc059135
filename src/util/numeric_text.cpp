// The numeric grammar is checked here by hand; std::from_chars then converts a normalised copy,
// which keeps the conversion correctly rounded and free of locale settings.
#include "util/numeric_text.h"

#include "util/rounding.h"

#include <charconv>
#include <cstddef>
#include <string>
#include <system_error>

namespace velmora::util {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Takes the leading run of digits off `text`.
std::string_view takeDigits(std::string_view& text)
{
    std::size_t n = 0;
    while (n < text.size() && isDigit(text[n]))
        ++n;
    const std::string_view digits = text.substr(0, n);
    text.remove_prefix(n);
    return digits;
}

// Decimal order of magnitude of a non-zero value written as integerDigits.fractionDigits E exponent,
// saturated far beyond the double range. Only its sign is used: it tells an overflow from an underflow.
long long decimalOrder(std::string_view integerDigits, std::string_view fractionDigits, bool negativeExponent,
                       std::string_view exponentDigits)
{
    constexpr long long kSaturation = 1'000'000'000;
    long long exponent = 0;
    for (const char c : exponentDigits) {
        exponent = exponent * 10 + (c - '0');
        if (exponent > kSaturation) {
            exponent = kSaturation;
            break;
        }
    }
    if (negativeExponent)
        exponent = -exponent;

    const std::size_t firstInteger = integerDigits.find_first_not_of('0');
    if (firstInteger != std::string_view::npos)
        return exponent + static_cast<long long>(integerDigits.size() - firstInteger) - 1;
    const std::size_t firstFraction = fractionDigits.find_first_not_of('0');
    return exponent - static_cast<long long>(firstFraction) - 1;
}

}  // namespace

std::optional<double> parseNumber(std::string_view text)
{
    std::string_view rest = trimBlanks(text);

    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    const std::string_view integerDigits = takeDigits(rest);
    std::string_view fractionDigits;
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        fractionDigits = takeDigits(rest);
    }
    if (integerDigits.empty() && fractionDigits.empty())
        return std::nullopt;

    bool negativeExponent = false;
    std::string_view exponentDigits;
    if (!rest.empty() &&
        (rest.front() == 'E' || rest.front() == 'e' || rest.front() == 'D' || rest.front() == 'd')) {
        rest.remove_prefix(1);
        if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
            negativeExponent = rest.front() == '-';
            rest.remove_prefix(1);
        }
        exponentDigits = takeDigits(rest);
        if (exponentDigits.empty())
            return std::nullopt;
    }
    if (!rest.empty())
        return std::nullopt;

    // Normalised copy that from_chars reads in its general form: "-I.FeX".
    std::string normal;
    normal.reserve(integerDigits.size() + fractionDigits.size() + exponentDigits.size() + 6);
    if (negative)
        normal += '-';
    normal += integerDigits.empty() ? std::string_view("0") : integerDigits;
    normal += '.';
    normal += fractionDigits.empty() ? std::string_view("0") : fractionDigits;
    if (!exponentDigits.empty()) {
        normal += 'e';
        if (negativeExponent)
            normal += '-';
        normal += exponentDigits;
    }

    double value = 0.0;
    const char* const end = normal.data() + normal.size();
    const auto [ptr, ec] = std::from_chars(normal.data(), end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (decimalOrder(integerDigits, fractionDigits, negativeExponent, exponentDigits) > 0)
            return std::nullopt;
        return negative ? -0.0 : 0.0;
    }
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

bool isNumeric(std::string_view text)
{
    return parseNumber(text).has_value();
}

std::optional<double> parseSingle(std::string_view text)
{
    const std::optional<double> value = parseNumber(text);
    if (!value)
        return std::nullopt;
    return toSingle(*value);
}

std::optional<std::int32_t> parseWholeNumber(std::string_view text)
{
    const std::optional<double> value = parseNumber(text);
    if (!value)
        return std::nullopt;
    return toInt32(*value);
}

}  // namespace velmora::util
