// Ties-to-even integer rounding and single-precision rounding, independent of the
// floating-point rounding mode of the caller.
#include "util/rounding.h"

#include <cmath>
#include <limits>

namespace velmora::util {

namespace {

// Nearest integer value of a finite x, ties to even, computed on the magnitude so that the
// fractional part a - floor(a) is exact.
double roundHalfEven(double x)
{
    const double magnitude = std::fabs(x);
    double whole = std::floor(magnitude);
    const double fraction = magnitude - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return std::copysign(whole, x);
}

constexpr double kInt32Min = static_cast<double>(std::numeric_limits<std::int32_t>::min());
constexpr double kInt32Max = static_cast<double>(std::numeric_limits<std::int32_t>::max());

// Halfway between the largest single and 2^128: from here on, rounding to single gives infinity.
constexpr double kSingleOverflowEdge = 0x1.ffffffp127;

}  // namespace

std::int32_t roundToInt(double x)
{
    if (std::isnan(x))
        return 0;
    if (x >= kInt32Max + 1.0)
        return std::numeric_limits<std::int32_t>::max();
    if (x <= kInt32Min - 1.0)
        return std::numeric_limits<std::int32_t>::min();
    const double rounded = roundHalfEven(x);
    if (rounded > kInt32Max)
        return std::numeric_limits<std::int32_t>::max();
    if (rounded < kInt32Min)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

std::optional<std::int32_t> toInt32(double x)
{
    if (!std::isfinite(x))
        return std::nullopt;
    if (x >= kInt32Max + 1.0 || x <= kInt32Min - 1.0)
        return std::nullopt;
    const double rounded = roundHalfEven(x);
    if (rounded > kInt32Max || rounded < kInt32Min)
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

double toSingle(double x)
{
    const double magnitude = std::fabs(x);
    if (magnitude >= kSingleOverflowEdge)
        return std::copysign(std::numeric_limits<double>::infinity(), x);
    // Between the largest single and the overflow edge the nearest single is the largest one;
    // clamping keeps the conversion below within the float range.
    if (magnitude > std::numeric_limits<float>::max())
        return std::copysign(static_cast<double>(std::numeric_limits<float>::max()), x);
    return static_cast<double>(static_cast<float>(x));
}

double truncateDecimals(double x, int decimals)
{
    if (!std::isfinite(x))
        return x;
    const double scale = std::pow(10.0, decimals);
    const double scaled = x * scale;
    const double nearest = std::round(scaled);
    if (std::fabs(scaled - nearest) <= 1e-12 * std::fabs(nearest))
        return nearest / scale;
    return std::trunc(scaled) / scale;
}

}  // namespace velmora::util
