// Reading numbers from text fields and files: one grammar for every numeric input, with "."
// as the only decimal point whatever the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora::util {

// A number is: optional blanks or tabs, an optional sign, digits with at most one "." and at
// least one digit in all (".5", "5.", "-.5"), an optional exponent ("E", "e", "D" or "d", an
// optional sign and at least one digit), optional blanks or tabs. Nothing else is a number
// ("", ".", "1,5", "1e", "0x10", "inf", "nan", "1 2"). Values beyond the double range are not
// numbers; values too small for a double read as zero of the written sign.
std::optional<double> parseNumber(std::string_view text);

// True when parseNumber accepts the text.
bool isNumeric(std::string_view text);

// A number rounded to single precision, the way the model files store their values.
// Magnitudes beyond the single range give +-infinity (see toSingle).
std::optional<double> parseSingle(std::string_view text);

// A number rounded to the nearest integer, ties to even; nullopt also when the rounded value
// lies outside the int32 range.
std::optional<std::int32_t> parseWholeNumber(std::string_view text);

}  // namespace velmora::util
