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

// x cut towards zero after `decimals` decimals (0 to 15), as the tables write their truncated
// values (8.2 -> 8.2, 8.199 -> 8.19, -1.005 -> -1). x times 10^decimals may miss a whole number by
// the binary rounding of x (8.2 x 100 = 819.9999999999999); a product within 10^-12 of its size
// of a whole number is taken as that number. Values that are not finite stay as they are.
double truncateDecimals(double x, int decimals);

}  // namespace velmora::util
