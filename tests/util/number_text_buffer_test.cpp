// The buffered formats against formatGeneral and formatPattern, which they must match digit for
// digit, appended to a string and to a TextBuffer that grows from nothing.
#include "util/number_text_buffer.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace velmora::util {
namespace {

// Edge cases: zeros, non-finite values, exact halves at every kept decimal, carries into a new
// integer digit, the ends of the plain-decimal range, subnormals and the largest double.
std::vector<double> edgeValues()
{
    std::vector<double> values = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                                  0.5, 1.5, 2.5, -2.5, 0.125, -0.125, 0.375, 0.0625, 2.675, 1.005, 9.995, -9.995,
                                  9.5, 99.5, -99.5, 999.9995, 0.9999995, 0.00049999, 0.0005, -0.0005, 0.005, -0.004,
                                  1e-4, 9.99999999999999e-5, 0.000099999999999999995, 1e15, 999999999999999.0,
                                  999999999999999.5, 1e16, 123456789012345.6, 1.0 / 3.0, -2.0 / 3.0, 0.1 + 0.2,
                                  std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 1e300,
                                  1e-300, 4503599627370495.5, 9007199254740993.0,
                                  // Exact halves at the fifteenth significant digit, both parities.
                                  1234567890123.125, 1234567890123.375, 12345678901234.25,
                                  12345678901234.75, -98765432109876.5, 99999999999999.95, 999999999999999.4,
                                  // The ends of the range the integer products cover.
                                  1e-13, 9.99999999999999e-14, 1.0000000000000002e-13, 1e15 - 0.125};
    for (int e = -30; e <= 30; ++e) {
        values.push_back(std::pow(10.0, e));
        values.push_back(-5.0 * std::pow(10.0, e));
        values.push_back(std::ldexp(1.0, e) + 0.5);
    }
    return values;
}

// Random values of every magnitude (random bit patterns) and of the magnitudes tables hold, plus
// values on a grid of halves, where the two rounding rules could part.
std::vector<double> randomValues()
{
    std::mt19937_64 random(20261208);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random();
        double x = 0.0;
        std::memcpy(&x, &bits, sizeof x);
        values.push_back(x);
    }
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    std::uniform_int_distribution<int> halves(-2000000, 2000000);
    for (int i = 0; i < 40000; ++i) {
        values.push_back(std::ldexp(mantissa(random), exponent(random) * 3));
        values.push_back(halves(random) / std::ldexp(1.0, i % 9));
    }
    return values;
}

TEST(NumberTextBuffer, GeneralFormatMatchesFormatGeneral)
{
    std::vector<double> values = edgeValues();
    const std::vector<double> random = randomValues();
    values.insert(values.end(), random.begin(), random.end());
    std::string appended = "x";
    std::string expected;
    TextBuffer buffer;
    for (const double x : values) {
        appended.resize(1);
        appendGeneral(appended, x);
        ASSERT_EQ(appended.substr(1), formatGeneral(x)) << std::hexfloat << x;
        expected += formatGeneral(x);
        appendGeneral(buffer, x);
    }
    EXPECT_EQ(buffer.view(), expected);
}

TEST(NumberTextBuffer, DigitPatternsMatchFormatPattern)
{
    std::vector<double> values = edgeValues();
    const std::vector<double> random = randomValues();
    values.insert(values.end(), random.begin(), random.end());
    for (const char* pattern : {"0.00", "0.000000", "#.000", "#0.000", "#0.00", "0.0", "0", "#", "000.0",
                                "#.0", "0000000000000000.00", "00000000000000000.00"}) {
        const DigitPattern shape = parseDigitPattern(pattern);
        std::string appended;
        std::string expected;
        TextBuffer buffer;
        for (const double x : values) {
            appended.clear();
            appendPattern(appended, x, shape);
            ASSERT_EQ(appended, formatPattern(x, pattern)) << pattern << ", x = " << std::hexfloat << x;
            expected += appended;
            appendPattern(buffer, x, shape);
        }
        EXPECT_EQ(buffer.view(), expected) << pattern;
    }
    // Decimals beyond the stack buffer take the exact routine.
    const std::string longPattern = "0." + std::string(200, '0');
    std::string appended;
    appendPattern(appended, 1.0 / 3.0, parseDigitPattern(longPattern));
    EXPECT_EQ(appended, formatPattern(1.0 / 3.0, longPattern));
    TextBuffer buffer;
    appendPattern(buffer, 1.0 / 3.0, parseDigitPattern(longPattern));
    EXPECT_EQ(buffer.view(), appended);
}

TEST(NumberTextBuffer, IntegersAsToString)
{
    std::string appended;
    TextBuffer buffer;
    for (const long long n : {0LL, 7LL, -12LL, 1234567890123LL, std::numeric_limits<long long>::min()}) {
        appended.clear();
        appendInteger(appended, n);
        EXPECT_EQ(appended, std::to_string(n));
        buffer.clear();
        appendInteger(buffer, n);
        EXPECT_EQ(buffer.view(), appended);
    }
}

}  // namespace
}  // namespace velmora::util
