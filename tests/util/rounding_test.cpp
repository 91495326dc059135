// Integer rounding with ties to even, its saturation and refusal at the int32 limits, and
// rounding to single precision.
#include "util/rounding.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace velmora::util {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RoundCase {
    double x;
    std::int32_t expected;
};

// Cases inside the int32 range, where roundToInt and toInt32 agree.
const std::vector<RoundCase> kInRange = {
    // Halves go to the even neighbour, on both sides of zero.
    {0.5, 0},
    {1.5, 2},
    {2.5, 2},
    {3.5, 4},
    {4.5, 4},
    {-0.5, 0},
    {-1.5, -2},
    {-2.5, -2},
    {-3.5, -4},
    // Values next to a half are not halves.
    {0.49999999999999994, 0},
    {0.5000000000000001, 1},
    {-0.5000000000000001, -1},
    {2.4999999999999996, 2},
    {2.5000000000000004, 3},
    {-2.5000000000000004, -3},
    // Ordinary values and whole numbers.
    {0.0, 0},
    {-0.0, 0},
    {1e-300, 0},
    {-1e-300, 0},
    {0.7, 1},
    {-0.7, -1},
    {7.0, 7},
    {-7.0, -7},
    {1234567.49, 1234567},
    // Halves and whole numbers at the ends of the range.
    {2147483645.5, 2147483646},
    {2147483646.5, 2147483646},
    {2147483647.0, kMax},
    {2147483647.4, kMax},
    {-2147483647.5, -2147483648},
    {-2147483648.0, kMin},
    {-2147483648.4, kMin},
    {-2147483648.5, kMin}};

TEST(RoundToInt, RoundsToNearestWithTiesToEven)
{
    for (const RoundCase& c : kInRange)
        EXPECT_EQ(roundToInt(c.x), c.expected) << "x = " << c.x;
}

TEST(RoundToInt, SaturatesBeyondTheInt32Range)
{
    // 2147483647.5 is a tie whose even neighbour 2^31 is already out of range.
    const std::vector<RoundCase> cases = {
        {2147483647.5, kMax},      {2147483648.0, kMax},  {1e10, kMax},  {1e300, kMax},  {kInf, kMax},
        {-2147483648.6, kMin},     {-2147483649.0, kMin}, {-1e10, kMin}, {-1e300, kMin}, {-kInf, kMin},
        {4503599627370497.0, kMax}};
    for (const RoundCase& c : cases)
        EXPECT_EQ(roundToInt(c.x), c.expected) << "x = " << c.x;
}

TEST(RoundToInt, NaNGivesZero)
{
    EXPECT_EQ(roundToInt(kNaN), 0);
}

TEST(RoundToInt, IndependentOfTheFloatingPointRoundingMode)
{
    const int previous = std::fegetround();
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        for (const RoundCase& c : kInRange)
            EXPECT_EQ(roundToInt(c.x), c.expected) << "x = " << c.x << ", mode " << mode;
    }
    std::fesetround(previous);
}

TEST(ToInt32, RoundsLikeRoundToIntInsideTheRange)
{
    for (const RoundCase& c : kInRange) {
        const std::optional<std::int32_t> value = toInt32(c.x);
        ASSERT_TRUE(value.has_value()) << "x = " << c.x;
        EXPECT_EQ(*value, c.expected) << "x = " << c.x;
    }
}

TEST(ToInt32, RefusesNaNInfinitiesAndValuesOutsideTheRange)
{
    for (const double x : {kNaN, kInf, -kInf, 2147483647.5, 2147483648.0, 1e300, -2147483648.6, -2147483649.0,
                           -1e300, 4503599627370497.0})
        EXPECT_FALSE(toInt32(x).has_value()) << "x = " << x;
}

TEST(ToSingle, RoundsToTheNearestSingle)
{
    EXPECT_EQ(toSingle(0.4), 0.4000000059604645);
    EXPECT_EQ(toSingle(0.1), 0.10000000149011612);
    EXPECT_EQ(toSingle(-0.4), -0.4000000059604645);
    EXPECT_EQ(toSingle(1.0), 1.0);
    EXPECT_EQ(toSingle(0.25), 0.25);
    // Above 2^24 singles are spaced by 2; exact halves go to the even mantissa, anything above a
    // half goes up.
    EXPECT_EQ(toSingle(16777217.0), 16777216.0);
    EXPECT_EQ(toSingle(16777219.0), 16777220.0);
    EXPECT_EQ(toSingle(std::nextafter(16777217.0, 2e7)), 16777218.0);
}

TEST(ToSingle, IsIdempotent)
{
    for (const double x : {0.4, 1.0 / 3.0, 3.14159265358979, -2.5e-7, 6.02214076e23, 1e-40}) {
        const double once = toSingle(x);
        EXPECT_EQ(toSingle(once), once) << "x = " << x;
        EXPECT_EQ(static_cast<double>(static_cast<float>(once)), once) << "x = " << x;
    }
}

TEST(ToSingle, ExtremesOfTheSingleRange)
{
    const double largest = std::numeric_limits<float>::max();
    EXPECT_EQ(toSingle(largest), largest);
    EXPECT_EQ(toSingle(-largest), -largest);
    // Below the midpoint between the largest single and 2^128 the largest single is nearest.
    EXPECT_EQ(toSingle(0x1.fffffefp127), largest);
    EXPECT_EQ(toSingle(-0x1.fffffefp127), -largest);
    // From the midpoint on, the value overflows to infinity.
    EXPECT_EQ(toSingle(0x1.ffffffp127), kInf);
    EXPECT_EQ(toSingle(3.5e38), kInf);
    EXPECT_EQ(toSingle(-3.5e38), -kInf);
    EXPECT_EQ(toSingle(1e300), kInf);
    EXPECT_EQ(toSingle(kInf), kInf);
    EXPECT_EQ(toSingle(-kInf), -kInf);
    // Subnormal singles and underflow to zero.
    EXPECT_EQ(toSingle(1e-45), static_cast<double>(std::numeric_limits<float>::denorm_min()));
    EXPECT_EQ(toSingle(1e-46), 0.0);
    EXPECT_TRUE(std::signbit(toSingle(-1e-46)));
    EXPECT_TRUE(std::isnan(toSingle(kNaN)));
}

TEST(TruncateDecimals, CutsTheDecimalsWrittenNotTheBinaryRoundingBelowThem)
{
    // 8.2 x 100 is 819.9999999999999 in binary: a plain trunc would write 8.19.
    ASSERT_LT(8.2 * 100, 820.0);
    EXPECT_EQ(truncateDecimals(8.2, 2), 8.2);
    EXPECT_EQ(truncateDecimals(2.3, 2), 2.3);
    EXPECT_EQ(truncateDecimals(-2.3, 2), -2.3);
    EXPECT_EQ(truncateDecimals(8.199, 2), 8.19);
    EXPECT_EQ(truncateDecimals(-1.005, 2), -1.0);
    EXPECT_EQ(truncateDecimals(512.345, 2), 512.34);
    EXPECT_EQ(truncateDecimals(7 * (2 * 1000.1 + 333.3), 3), 16334.5);
    EXPECT_EQ(truncateDecimals(kInf, 2), kInf);
}

}  // namespace
}  // namespace velmora::util
