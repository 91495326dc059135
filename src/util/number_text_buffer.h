// Number formats appended to one text buffer: the texts of formatGeneral and formatPattern, digit
// for digit, without a string per number. The result tables write millions of numbers; they build
// their text in a TextBuffer with these, each number written straight into its room.
#pragma once

#include "util/number_format.h"
#include "util/text_buffer.h"

#include <string>

namespace velmora::util {

// Appends formatGeneral(x).
void appendGeneral(std::string& out, double x);
void appendGeneral(TextBuffer& out, double x);

// Appends formatPattern(x, pattern) for the pattern that `shape` was parsed from.
void appendPattern(std::string& out, double x, const DigitPattern& shape);
void appendPattern(TextBuffer& out, double x, const DigitPattern& shape);

// Appends a whole number in decimal digits, as std::to_string writes it.
void appendInteger(std::string& out, long long n);
void appendInteger(TextBuffer& out, long long n);

}  // namespace velmora::util
