// The numeric grammar of text fields and files: what is a number, what is not, and the
// single-precision and whole-number readings built on it.
#include "util/numeric_text.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace velmora::util {
namespace {

struct NumberCase {
    std::string text;
    double expected;
};

TEST(ParseNumber, AcceptsTheNumericGrammar)
{
    const std::vector<NumberCase> cases = {// Digits, sign and point.
                                           {"0", 0.0},
                                           {"5", 5.0},
                                           {"-5", -5.0},
                                           {"+5", 5.0},
                                           {"007", 7.0},
                                           {"1.25", 1.25},
                                           {"0.1", 0.1},
                                           {".5", 0.5},
                                           {"5.", 5.0},
                                           {"-.5", -0.5},
                                           {"+.5", 0.5},
                                           {"-5.", -5.0},
                                           // Blanks and tabs around the number.
                                           {" 5", 5.0},
                                           {"5 ", 5.0},
                                           {"\t5\t", 5.0},
                                           {" \t-1.5e3 \t", -1500.0},
                                           // Exponents with E, e, D or d and an optional sign.
                                           {"1E3", 1000.0},
                                           {"1e3", 1000.0},
                                           {"1D3", 1000.0},
                                           {"1d-3", 0.001},
                                           {"1e+3", 1000.0},
                                           {"1.5E-3", 0.0015},
                                           {".5e1", 5.0},
                                           {"5.e1", 50.0},
                                           {"2.5E-07", 2.5e-7},
                                           {"1e007", 1e7},
                                           // Correctly rounded conversion of long and extreme inputs.
                                           {"123456789012345678901234567890", 1.2345678901234568e29},
                                           {"0.4000000059604645", 0.4000000059604645},
                                           {"1.7976931348623157e308", 1.7976931348623157e308},
                                           {"4.9e-324", std::numeric_limits<double>::denorm_min()},
                                           {"0e99999999999999999999", 0.0}};
    for (const NumberCase& c : cases) {
        const std::optional<double> value = parseNumber(c.text);
        ASSERT_TRUE(value.has_value()) << "\"" << c.text << "\"";
        EXPECT_EQ(*value, c.expected) << "\"" << c.text << "\"";
        EXPECT_TRUE(isNumeric(c.text)) << "\"" << c.text << "\"";
    }
}

TEST(ParseNumber, RejectsEverythingElse)
{
    const std::vector<std::string> texts = {
        // Empty or incomplete.
        "", " ", "\t", ".", "-", "+", "-.", "+.", "e5", ".e5", "1e", "1e+", "1E-", "1d",
        // Other separators, signs and spacing.
        "1,5", "1 2", "1..2", "1.2.3", "--1", "+-1", "- 5", "5 .", "1e 5", "1_000", "1e5.5", "1e1e1",
        // Line ends and other white space are not blanks.
        "1\n", "1\r", "\n1", "1\v",
        // Other notations.
        "0x10", "0b1", "1f", "1L", "inf", "-inf", "Infinity", "nan", "NaN", "$5", "5%",
        std::string("5\0", 2)};
    for (const std::string& text : texts) {
        EXPECT_FALSE(parseNumber(text).has_value()) << "\"" << text << "\"";
        EXPECT_FALSE(isNumeric(text)) << "\"" << text << "\"";
    }
}

TEST(ParseNumber, ValuesBeyondTheDoubleRangeAreNotNumbers)
{
    for (const char* text : {"1e309", "-1e309", "1.8e308", "1e99999999999999999999", "10000e305"}) {
        EXPECT_FALSE(parseNumber(text).has_value()) << text;
        EXPECT_FALSE(isNumeric(text)) << text;
    }
}

TEST(ParseNumber, ValuesTooSmallForADoubleReadAsSignedZero)
{
    for (const char* text : {"1e-400", "0.0001e-320", "1e-99999999999999999999"}) {
        const std::optional<double> value = parseNumber(text);
        ASSERT_TRUE(value.has_value()) << text;
        EXPECT_EQ(*value, 0.0) << text;
        EXPECT_FALSE(std::signbit(*value)) << text;
    }
    const std::optional<double> negative = parseNumber("-1e-400");
    ASSERT_TRUE(negative.has_value());
    EXPECT_EQ(*negative, 0.0);
    EXPECT_TRUE(std::signbit(*negative));
}

TEST(ParseSingle, RoundsTheNumberToSinglePrecision)
{
    EXPECT_EQ(parseSingle("0.4"), 0.4000000059604645);
    EXPECT_EQ(parseSingle(" -0.1 "), -0.10000000149011612);
    EXPECT_EQ(parseSingle("16777217"), 16777216.0);
    EXPECT_EQ(parseSingle("1e39"), std::numeric_limits<double>::infinity());
    EXPECT_FALSE(parseSingle("0,4").has_value());
    EXPECT_FALSE(parseSingle("").has_value());
}

TEST(ParseWholeNumber, RoundsToNearestWithTiesToEven)
{
    const std::vector<std::pair<std::string, std::int32_t>> cases = {{"7", 7},
                                                                     {" 7 ", 7},
                                                                     {"2.5", 2},
                                                                     {"3.5", 4},
                                                                     {"-2.5", -2},
                                                                     {"0.5", 0},
                                                                     {"1e3", 1000},
                                                                     {"2.4999", 2},
                                                                     {"-0.4", 0},
                                                                     {"2147483647", 2147483647},
                                                                     {"-2147483648", -2147483647 - 1}};
    for (const auto& [text, expected] : cases) {
        const std::optional<std::int32_t> value = parseWholeNumber(text);
        ASSERT_TRUE(value.has_value()) << "\"" << text << "\"";
        EXPECT_EQ(*value, expected) << "\"" << text << "\"";
    }
}

TEST(ParseWholeNumber, RefusesNonNumbersAndValuesOutsideTheInt32Range)
{
    for (const char* text : {"", "x", "1,5", "2147483648", "2147483647.5", "-2147483649", "1e10", "1e309"})
        EXPECT_FALSE(parseWholeNumber(text).has_value()) << "\"" << text << "\"";
}

}  // namespace
}  // namespace velmora::util
