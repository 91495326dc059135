// Conversions of floating values to integers and to single precision, with the rounding the
// simulator's numbers have always had: nearest integer with ties to even, and IEEE single
// precision for the quantities that are stored and computed as singles.
#pragma once

#include <cstdint>
#include <optional>

namespace velmora::util {

// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
// Never fails: values beyond the int32 range saturate to INT32_MIN / INT32_MAX and NaN gives 0.
// Callers that must refuse such values use toInt32.
std::int32_t roundToInt(double x);

// The same rounding as roundToInt; nullopt for NaN and for results outside the int32 range.
std::optional<std::int32_t> toInt32(double x);

// Rounds to the nearest IEEE single-precision value and returns it as a double
// (toSingle(0.4) == 0.4000000059604645). Magnitudes that round beyond the largest single
// become +-infinity; NaN stays NaN.
double toSingle(double x);

}  // namespace velmora::util
