// Golden texts of the general number format and of the digit patterns.
#include "util/number_format.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::util {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct GeneralCase {
    double x;
    const char* expected;
};

void expectGeneral(const std::vector<GeneralCase>& cases)
{
    for (const GeneralCase& c : cases)
        EXPECT_EQ(formatGeneral(c.x), c.expected) << "x = " << std::hexfloat << c.x;
}

TEST(FormatGeneral, WholeNumbersHaveNoPoint)
{
    expectGeneral({{0.0, "0"},
                   {-0.0, "0"},
                   {1.0, "1"},
                   {-1.0, "-1"},
                   {100.0, "100"},
                   {-4096.0, "-4096"},
                   {123456789012345.0, "123456789012345"},
                   {999999999999999.0, "999999999999999"}});
}

TEST(FormatGeneral, FractionsWithoutTrailingZerosAndWithLeadingZero)
{
    expectGeneral({{0.5, "0.5"},
                   {-0.5, "-0.5"},
                   {0.1, "0.1"},
                   {1.25, "1.25"},
                   {123.456, "123.456"},
                   {-2.75, "-2.75"},
                   {0.000123, "0.000123"},
                   {1234567.125, "1234567.125"}});
}

TEST(FormatGeneral, RoundsTheBinaryValueToFifteenSignificantDigits)
{
    expectGeneral({{1.0 / 3.0, "0.333333333333333"},
                   {2.0 / 3.0, "0.666666666666667"},
                   {0.4000000059604645, "0.400000005960464"},
                   {0.1 + 0.2, "0.3"},
                   {1.0000000000000002, "1"},
                   {-1.0 / 3.0, "-0.333333333333333"},
                   {123456789012345.6, "123456789012346"},
                   {3.14159265358979, "3.14159265358979"},
                   {6.283185307179586, "6.28318530717959"}});
}

TEST(FormatGeneral, PlainDecimalFromOneTenThousandthBelowOneE15)
{
    expectGeneral({{0.0001, "0.0001"},
                   {-0.0001, "-0.0001"},
                   {0.00009999, "9.999E-05"},
                   {0.0000999999999999994, "9.99999999999994E-05"},
                   // Below 1e-4 but rounds up to it at fifteen digits: the rounded value decides.
                   {0.00009999999999999996, "0.0001"},
                   {999999999999999.0, "999999999999999"},
                   {1e15, "1E+15"},
                   {-1e15, "-1E+15"},
                   // Below 1e15 but rounds up to it at fifteen digits; just below, it rounds down.
                   {999999999999999.9, "1E+15"},
                   {999999999999999.4, "999999999999999"}});
}

TEST(FormatGeneral, ExponentNotationOutsideThePlainRange)
{
    expectGeneral({{1e-5, "1E-05"},
                   {1.5e20, "1.5E+20"},
                   {-2.5e-7, "-2.5E-07"},
                   {1.23456789012345678e17, "1.23456789012346E+17"},
                   {12345678901234567.0, "1.23456789012346E+16"},
                   {1e100, "1E+100"},
                   {1e-300, "1E-300"},
                   {1.7976931348623157e308, "1.79769313486232E+308"},
                   {-1.7976931348623157e308, "-1.79769313486232E+308"},
                   {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
                   {2.2250738585072014e-308, "2.2250738585072E-308"}});
}

TEST(FormatGeneral, NonFiniteValues)
{
    EXPECT_EQ(formatGeneral(kNaN), "NaN");
    EXPECT_EQ(formatGeneral(kInf), "Infinity");
    EXPECT_EQ(formatGeneral(-kInf), "-Infinity");
}

struct PatternCase {
    double x;
    const char* pattern;
    const char* expected;
};

void expectPattern(const std::vector<PatternCase>& cases)
{
    for (const PatternCase& c : cases)
        EXPECT_EQ(formatPattern(c.x, c.pattern), c.expected)
            << "x = " << std::hexfloat << c.x << ", pattern \"" << c.pattern << "\"";
}

TEST(FormatPattern, IntegerPartHasAtLeastItsZeroPlaceholders)
{
    expectPattern({{0.5, "#.000", ".500"},
                   {0.0, "#.000", ".000"},
                   {0.5, "#0.000", "0.500"},
                   {0.0, "#0.000", "0.000"},
                   {0.5, "0.00", "0.50"},
                   {1.5, "000.0", "001.5"},
                   {1234.5, "000.0", "1234.5"},
                   {3.14159, "#.000", "3.142"},
                   {12345.6789, "#0.000", "12345.679"}});
}

TEST(FormatPattern, RoundsHalvesAwayFromZeroOnTheExactBinaryValue)
{
    expectPattern({// Exact halves.
                   {0.125, "0.00", "0.13"},
                   {-0.125, "0.00", "-0.13"},
                   {0.25, "#0.0", "0.3"},
                   {-0.25, "#0.0", "-0.3"},
                   {2.5, "0", "3"},
                   {-2.5, "0", "-3"},
                   {0.5, "0", "1"},
                   // Written as halves but stored below them.
                   {2.675, "0.00", "2.67"},
                   {0.015, "0.00", "0.01"},
                   {0.35, "#0.0", "0.3"},
                   {9.995, "0.00", "9.99"},
                   // Written as halves and stored above them.
                   {0.005, "0.00", "0.01"},
                   {-0.005, "0.00", "-0.01"},
                   {0.05, "#0.0", "0.1"},
                   // Carries through every digit.
                   {9.999, "0.00", "10.00"},
                   {99.9996, "#0.000", "100.000"},
                   {0.9999, "#.000", "1.000"},
                   {1.0 / 3.0, "0.000000", "0.333333"},
                   {2.0 / 3.0, "#0.000000", "0.666667"},
                   {1.23456789, "#0.0000", "1.2346"},
                   {1.23456789, "0.0000", "1.2346"},
                   {-1.23456789, "#0.00", "-1.23"}});
}

TEST(FormatPattern, NegativeValuesKeepTheirSignUnlessTheyRoundToZero)
{
    expectPattern({{-1.25, "#0.000", "-1.250"},
                   {-0.5, "#.000", "-.500"},
                   {-0.001, "0.00", "0.00"},
                   {-0.0001, "#.000", ".000"},
                   {-0.0, "#0.000", "0.000"},
                   {-0.4, "0", "0"},
                   {-1e-300, "0.000000", "0.000000"}});
}

TEST(FormatPattern, LargeAndTinyValuesPrintEveryDigit)
{
    expectPattern({{1e20, "0.00", "100000000000000000000.00"},
                   {-1e20, "#.000", "-100000000000000000000.000"},
                   {123456789012.5, "0", "123456789013"},
                   {std::numeric_limits<double>::denorm_min(), "0.000000", "0.000000"},
                   {4e-7, "0.000000", "0.000000"},
                   {6e-7, "0.000000", "0.000001"}});

    const std::string largest = formatPattern(1.7976931348623157e308, "0.00");
    EXPECT_EQ(largest.size(), 309u + 3u);
    EXPECT_EQ(largest.substr(0, 17), "17976931348623157");
    EXPECT_EQ(largest.substr(largest.size() - 3), ".00");
}

TEST(FormatPattern, NonFiniteValuesUseTheGeneralTexts)
{
    EXPECT_EQ(formatPattern(kNaN, "#0.000"), "NaN");
    EXPECT_EQ(formatPattern(kInf, "0.00"), "Infinity");
    EXPECT_EQ(formatPattern(-kInf, "#.000"), "-Infinity");
}

TEST(FormatPattern, RejectsOtherPatternShapes)
{
    for (const char* pattern : {"", ".", ".00", "0.", "#.", "0.#", "0.0#", "0#", "#0#.0", "0,00", "#,##0.00",
                                "0.00%", "0.0.0", "0.00 ", " 0.00", "0.00E+00", "abc"})
        EXPECT_THROW(static_cast<void>(formatPattern(1.0, pattern)), std::invalid_argument)
            << "pattern \"" << pattern << "\"";
    // The pattern is checked even when the value is not finite.
    EXPECT_THROW(static_cast<void>(formatPattern(kNaN, "0,0")), std::invalid_argument);
}

}  // namespace
}  // namespace velmora::util
