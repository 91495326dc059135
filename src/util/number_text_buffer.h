// Number formats appended to one text buffer: the texts of formatGeneral and formatPattern, digit
// for digit, without a string per number. The result tables write millions of numbers; they build
// each file in one buffer with these and write it whole.
#pragma once

#include "util/number_format.h"

#include <string>

namespace velmora::util {

// Appends formatGeneral(x).
void appendGeneral(std::string& out, double x);

// Appends formatPattern(x, pattern) for the pattern that `shape` was parsed from.
void appendPattern(std::string& out, double x, const DigitPattern& shape);

// Appends a whole number in decimal digits, as std::to_string writes it.
void appendInteger(std::string& out, long long n);

}  // namespace velmora::util
