// The transform against a direct sum in extended precision for every supported length, its edge
// cases (direction, scaling, impulse, exponentials) and its refusal of unsupported lengths.
#include "processing/fourier.h"
#include "util/messages.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace velmora::processing {
namespace {

struct Signal {
    std::vector<double> re;
    std::vector<double> im;
};

Signal randomSignal(int n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Signal s{std::vector<double>(static_cast<std::size_t>(n)),
             std::vector<double>(static_cast<std::size_t>(n))};
    for (std::size_t i = 0; i < s.re.size(); ++i) {
        s.re[i] = value(generator);
        s.im[i] = value(generator);
    }
    return s;
}

Signal transform(const Signal& in, bool reverse, util::RecordedMessages& messages)
{
    const int n = static_cast<int>(in.re.size());
    Signal out{std::vector<double>(in.re.size()), std::vector<double>(in.re.size())};
    EXPECT_TRUE(Fourier(n, in.re, in.im, out.re, out.im, reverse, messages));
    return out;
}

// Bin k of (1/N) sum x[n] exp(+-i 2 pi n k / N), summed in long double with exact phase reduction.
class DirectTransform {
public:
    DirectTransform(const Signal& in, bool reverse) : in_(in), sign_(reverse ? -1.0L : 1.0L)
    {
        const std::size_t n = in.re.size();
        cos_.resize(n);
        sin_.resize(n);
        const long double twoPi = 2.0L * std::numbers::pi_v<long double>;
        for (std::size_t m = 0; m < n; ++m) {
            const long double angle = twoPi * static_cast<long double>(m) / static_cast<long double>(n);
            cos_[m] = std::cos(angle);
            sin_[m] = std::sin(angle);
        }
    }

    void bin(std::size_t k, long double& re, long double& im) const
    {
        const std::size_t n = in_.re.size();
        re = 0.0L;
        im = 0.0L;
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t m = (j * k) % n;
            const long double c = cos_[m];
            const long double s = sign_ * sin_[m];
            re += in_.re[j] * c - in_.im[j] * s;
            im += in_.re[j] * s + in_.im[j] * c;
        }
        re /= static_cast<long double>(n);
        im /= static_cast<long double>(n);
    }

private:
    const Signal& in_;
    long double sign_;
    std::vector<long double> cos_;
    std::vector<long double> sin_;
};

// Bins to compare: all of them up to 1024 points, otherwise 64 spread over the spectrum including
// both ends and the Nyquist bin.
std::vector<std::size_t> binsToCheck(std::size_t n, std::mt19937& generator)
{
    std::vector<std::size_t> bins;
    if (n <= 1024) {
        for (std::size_t k = 0; k < n; ++k) {
            bins.push_back(k);
        }
        return bins;
    }
    bins = {0, 1, n / 2 - 1, n / 2, n / 2 + 1, n - 1};
    std::uniform_int_distribution<std::size_t> anyBin(0, n - 1);
    while (bins.size() < 64) {
        bins.push_back(anyBin(generator));
    }
    return bins;
}

class FourierAgainstDirectSum : public ::testing::TestWithParam<int> {};

TEST_P(FourierAgainstDirectSum, MatchesInBothDirections)
{
    const int n = 1 << GetParam();
    const Signal in = randomSignal(n, 1000U + static_cast<unsigned>(n));
    std::mt19937 binGenerator(7);
    // Outputs are of order 1/sqrt(N) for inputs of order 1, and rounding grows with the number of
    // stages; the bound leaves about five times the largest error seen. A wrong twiddle, sign or
    // ordering gives errors of the size of the outputs themselves.
    const double tolerance = 1e-14 * std::log2(static_cast<double>(n)) / std::sqrt(static_cast<double>(n));

    for (const bool reverse : {false, true}) {
        util::RecordedMessages messages;
        const Signal out = transform(in, reverse, messages);
        EXPECT_TRUE(messages.entries.empty());
        const DirectTransform direct(in, reverse);
        double worst = 0.0;
        for (const std::size_t k : binsToCheck(static_cast<std::size_t>(n), binGenerator)) {
            long double re = 0.0L;
            long double im = 0.0L;
            direct.bin(k, re, im);
            worst = std::max(worst, static_cast<double>(std::fabs(out.re[k] - re)));
            worst = std::max(worst, static_cast<double>(std::fabs(out.im[k] - im)));
        }
        EXPECT_LT(worst, tolerance) << "N = " << n << (reverse ? " reverse" : " forward");
    }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwoUpTo65536, FourierAgainstDirectSum, ::testing::Range(1, 17),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "N" + std::to_string(1 << info.param);
                         });

// The transform as first written: the twiddle recurrence restarted in every block, each block's
// butterflies in turn, and the scaling by division. The stored spectra were made this way, so the
// transform must give exactly these bits.
Signal blockByBlockTransform(const Signal& in, bool reverse)
{
    const std::size_t n = in.re.size();
    Signal out{std::vector<double>(n), std::vector<double>(n)};
    int bits = 0;
    while ((std::size_t{1} << bits) < n)
        ++bits;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t j = 0;
        for (int b = 0; b < bits; ++b)
            j |= ((i >> b) & 1U) << (bits - 1 - b);
        out.re[j] = in.re[i] / static_cast<double>(n);
        out.im[j] = in.im[i] / static_cast<double>(n);
    }
    for (std::size_t blockSize = 2, half = 1; blockSize <= n; half = blockSize, blockSize *= 2) {
        const double delta =
            (reverse ? -6.28318530717958 : 6.28318530717958) / static_cast<double>(blockSize);
        const double halfSine = std::sin(0.5 * delta);
        const double alpha = 2.0 * halfSine * halfSine;
        const double beta = std::sin(delta);
        for (std::size_t start = 0; start < n; start += blockSize) {
            double wRe = 1.0;
            double wIm = 0.0;
            for (std::size_t k = start; k < start + half; ++k) {
                const std::size_t m = k + half;
                const double tRe = wRe * out.re[m] - wIm * out.im[m];
                const double tIm = wRe * out.im[m] + wIm * out.re[m];
                out.re[m] = out.re[k] - tRe;
                out.im[m] = out.im[k] - tIm;
                out.re[k] += tRe;
                out.im[k] += tIm;
                const double wImOld = wIm;
                wIm = wIm - (alpha * wIm - beta * wRe);
                wRe = wRe - (beta * wImOld + alpha * wRe);
            }
        }
    }
    return out;
}

TEST(FourierEdgeCases, GivesTheBitsOfTheBlockByBlockTransform)
{
    util::RecordedMessages messages;
    for (const int n : {2, 4, 8, 64, 1024, 8192}) {
        Signal in = randomSignal(n, 77U + static_cast<unsigned>(n));
        in.re[0] = 3e-310;  // a subnormal input, scaled by the product where division was used
        for (const bool reverse : {false, true}) {
            const Signal fast = transform(in, reverse, messages);
            const Signal reference = blockByBlockTransform(in, reverse);
            EXPECT_EQ(fast.re, reference.re) << n << (reverse ? " reverse" : " forward");
            EXPECT_EQ(fast.im, reference.im) << n << (reverse ? " reverse" : " forward");
        }
    }
}

TEST(FourierEdgeCases, TwoPointsGiveHalfSumAndHalfDifference)
{
    const Signal in{{3.0, 1.5}, {-2.0, 0.25}};
    for (const bool reverse : {false, true}) {
        util::RecordedMessages messages;
        const Signal out = transform(in, reverse, messages);
        EXPECT_DOUBLE_EQ(out.re[0], 2.25);
        EXPECT_DOUBLE_EQ(out.im[0], -0.875);
        EXPECT_DOUBLE_EQ(out.re[1], 0.75);
        EXPECT_DOUBLE_EQ(out.im[1], -1.125);
    }
}

TEST(FourierEdgeCases, UnitImpulseGivesOneOverNEverywhere)
{
    for (const int n : {4, 256, 65536}) {
        Signal in{std::vector<double>(static_cast<std::size_t>(n), 0.0),
                  std::vector<double>(static_cast<std::size_t>(n), 0.0)};
        in.re[0] = 1.0;
        for (const bool reverse : {false, true}) {
            util::RecordedMessages messages;
            const Signal out = transform(in, reverse, messages);
            const double expected = 1.0 / n;
            EXPECT_TRUE(std::all_of(out.re.begin(), out.re.end(), [=](double v) { return v == expected; }))
                << "N = " << n;
            EXPECT_TRUE(std::all_of(out.im.begin(), out.im.end(), [](double v) { return v == 0.0; }))
                << "N = " << n;
        }
    }
}

Signal exponential(int n, int k0, double sign)
{
    Signal s{std::vector<double>(static_cast<std::size_t>(n)),
             std::vector<double>(static_cast<std::size_t>(n))};
    for (int j = 0; j < n; ++j) {
        const double angle = sign * 2.0 * std::numbers::pi * static_cast<double>(j) * k0 / n;
        s.re[static_cast<std::size_t>(j)] = std::cos(angle);
        s.im[static_cast<std::size_t>(j)] = std::sin(angle);
    }
    return s;
}

void expectSingleLine(const Signal& out, int k0, const std::string& what)
{
    for (std::size_t k = 0; k < out.re.size(); ++k) {
        const double expectedRe = static_cast<int>(k) == k0 ? 1.0 : 0.0;
        EXPECT_NEAR(out.re[k], expectedRe, 1e-12) << what << " bin " << k;
        EXPECT_NEAR(out.im[k], 0.0, 1e-12) << what << " bin " << k;
    }
}

TEST(FourierEdgeCases, ForwardCarriesThePositiveExponent)
{
    // exp(-2 pi i n k0 / N) lands on k0 forward; exp(+2 pi i n k0 / N) lands on k0 in reverse and
    // on its mirror N - k0 forward.
    for (const auto& [n, k0] : {std::pair{64, 5}, std::pair{4096, 1000}}) {
        util::RecordedMessages messages;
        expectSingleLine(transform(exponential(n, k0, -1.0), false, messages), k0, "forward of exp(-)");
        expectSingleLine(transform(exponential(n, k0, +1.0), true, messages), k0, "reverse of exp(+)");
        expectSingleLine(transform(exponential(n, k0, +1.0), false, messages), n - k0, "forward of exp(+)");
    }
}

TEST(FourierEdgeCases, ForwardThenReverseReturnsTheInputDividedByN)
{
    const int n = 1024;
    const Signal in = randomSignal(n, 99);
    util::RecordedMessages messages;
    const Signal back = transform(transform(in, false, messages), true, messages);
    for (std::size_t i = 0; i < in.re.size(); ++i) {
        EXPECT_NEAR(back.re[i], in.re[i] / n, 1e-16) << "sample " << i;
        EXPECT_NEAR(back.im[i], in.im[i] / n, 1e-16) << "sample " << i;
    }
}

TEST(FourierEdgeCases, WritesOnlyTheFirstNumSamplesOutputs)
{
    const Signal in = randomSignal(16, 5);
    std::vector<double> re(20, 42.0);
    std::vector<double> im(20, 42.0);
    util::RecordedMessages messages;
    ASSERT_TRUE(Fourier(8, in.re, in.im, re, im, false, messages));
    for (std::size_t i = 8; i < 20; ++i) {
        EXPECT_EQ(re[i], 42.0);
        EXPECT_EQ(im[i], 42.0);
    }
    EXPECT_NE(re[0], 42.0);
}

std::string lengthMessage(int n)
{
    return "Error in procedure Fourier:\r\n NumSamples is " + std::to_string(n) +
           ", which is not a positive integer power of two.";
}

TEST(FourierRefusal, MessageTextIsExact)
{
    const std::vector<double> in(128, 1.0);
    std::vector<double> re(128, 0.0);
    std::vector<double> im(128, 0.0);
    util::RecordedMessages messages;
    EXPECT_FALSE(Fourier(100, in, in, re, im, false, messages));
    ASSERT_EQ(messages.entries.size(), 1U);
    EXPECT_EQ(
        messages.entries[0].text,
        "Error in procedure Fourier:\r\n NumSamples is 100, which is not a positive integer power of two.");
    EXPECT_EQ(messages.entries[0].title, "Error!");
}

TEST(FourierRefusal, EveryUnsupportedLengthIsRefusedWithOutputsUntouched)
{
    std::vector<int> lengths;
    for (int n = 0; n <= 4096; ++n) {
        if (n < 2 || (n & (n - 1)) != 0) {
            lengths.push_back(n);
        }
    }
    for (const int n : {65537, 65535, 131072, 1 << 20, INT_MAX, -1, -2, -64, -65536, INT_MIN}) {
        lengths.push_back(n);
    }

    const Signal in = randomSignal(4096, 3);
    const std::vector<double> sentinel(4096, -7.5);
    std::vector<double> re = sentinel;
    std::vector<double> im = sentinel;
    for (const int n : lengths) {
        util::RecordedMessages messages;
        for (const bool reverse : {false, true}) {
            EXPECT_FALSE(Fourier(n, in.re, in.im, re, im, reverse, messages)) << "N = " << n;
        }
        ASSERT_EQ(messages.entries.size(), 2U) << "N = " << n;
        for (const auto& entry : messages.entries) {
            EXPECT_EQ(entry.text, lengthMessage(n));
            EXPECT_EQ(entry.title, "Error!");
        }
        ASSERT_TRUE(re == sentinel && im == sentinel) << "outputs changed for N = " << n;
    }
}

TEST(FourierRefusal, ArraysShorterThanNumSamplesAreRefusedWithoutAccess)
{
    const std::vector<double> full(8, 1.0);
    const std::vector<double> shortIn(7, 1.0);
    const std::vector<double> sentinel(8, -3.0);
    for (int shortOne = 0; shortOne < 4; ++shortOne) {
        std::vector<double> re(shortOne == 2 ? 7 : 8, -3.0);
        std::vector<double> im(shortOne == 3 ? 7 : 8, -3.0);
        const std::vector<double>& realIn = shortOne == 0 ? shortIn : full;
        const std::vector<double>& imagIn = shortOne == 1 ? shortIn : full;
        util::RecordedMessages messages;
        EXPECT_FALSE(Fourier(8, realIn, imagIn, re, im, false, messages)) << "array " << shortOne;
        ASSERT_EQ(messages.entries.size(), 1U);
        EXPECT_EQ(messages.entries[0].title, "Error!");
        EXPECT_EQ(messages.entries[0].text.rfind("Error in procedure Fourier:\r\n NumSamples is 8", 0), 0U);
        EXPECT_TRUE(std::all_of(re.begin(), re.end(), [](double v) { return v == -3.0; }));
        EXPECT_TRUE(std::all_of(im.begin(), im.end(), [](double v) { return v == -3.0; }));
    }
}

TEST(FourierRefusal, OverlappingArraysAreRefused)
{
    std::vector<double> data(16, 1.0);
    std::vector<double> other(16, 0.0);
    const std::vector<double> before = data;
    const std::span<double> first(data.data(), 8);
    const std::span<double> second(data.data() + 8, 8);
    const std::span<double> shifted(data.data() + 4, 8);
    util::RecordedMessages messages;

    EXPECT_FALSE(Fourier(8, first, second, first, other, false, messages));    // in place
    EXPECT_FALSE(Fourier(8, other, other, shifted, first, false, messages));   // outputs overlap
    EXPECT_FALSE(Fourier(8, shifted, other, second, other, false, messages));  // output over input
    EXPECT_EQ(messages.entries.size(), 3U);
    EXPECT_EQ(data, before);
}

}  // namespace
}  // namespace velmora::processing
