// Backward linear prediction against the analytic sum of damped sinusoids it must refill.
#include "processing/linear_prediction.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::processing {
namespace {

// Three lines with different amplitudes, frequencies (cycles per sample) and decays.
std::complex<double> dampedSum(int n)
{
    const double pi = 3.14159265358979;
    const double amplitude[] = {1.0, 0.6, 0.3};
    const double cycles[] = {0.11, -0.23, 0.305};
    const double decay[] = {0.01, 0.02, 0.005};
    std::complex<double> x = 0.0;
    for (int k = 0; k < 3; ++k)
        x += amplitude[k] * std::exp(std::complex<double>(-decay[k] * n, 2.0 * pi * cycles[k] * n));
    return x;
}

TEST(LinearPrediction, RefillsEightLostSamplesOfDampedSinusoids)
{
    std::vector<std::complex<double>> fid(256);
    for (int n = 0; n < 256; ++n)
        fid[static_cast<std::size_t>(n)] = n < 8 ? 0.0 : dampedSum(n);
    ASSERT_TRUE(refillLeadingSamples(fid, 8, 8));
    for (int n = 0; n < 8; ++n)
        EXPECT_LT(std::abs(fid[static_cast<std::size_t>(n)] - dampedSum(n)), 1e-6) << "sample " << n;
}

TEST(LinearPrediction, TooFewKnownSamplesAreRefused)
{
    std::vector<std::complex<double>> fid(20, 1.0);
    EXPECT_FALSE(refillLeadingSamples(fid, 8, 8));
    EXPECT_EQ(fid[0], std::complex<double>(1.0));
}

}  // namespace
}  // namespace velmora::processing
