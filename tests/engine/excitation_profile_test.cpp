// Pulses of the generator applied through the step routine to one proton at arrayed offsets: the
// HS1 inversion band, the Gaussian's excitation bandwidth against its length, against independent
// values (the adiabatic sweep's band; the Fourier transform of a Gaussian envelope).
#include "engine/excitation_profile.h"
#include "pulses/pulse_generator.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velmora::engine {
namespace {

constexpr double kPi = 3.14159265358979;

pulses::GeneratedPulse generated(const pulses::GeneratorSettings& s)
{
    util::UniformRandom random;
    pulses::GenerationResult result = pulses::generatePulse(s, {}, random);
    EXPECT_TRUE(result.pulse) << result.error;
    return result.pulse ? std::move(*result.pulse) : pulses::GeneratedPulse{};
}

TEST(ExcitationProfile, Hs1PulseInvertsItsSweptBandAndLeavesFarOffsetsAlone)
{
    pulses::GeneratorSettings s;
    s.gapCount = 256;
    s.pulsePerGap = 1;
    s.rValue = 8.0;
    const pulses::GeneratedPulse pulse = generated(s);
    const double lengthUs = 10000.0;
    // The sweep covers +-1/(2 R (Nd + Np)) cycles per element: Ngap / (R T) in all.
    const double bandHz = s.gapCount / (s.rValue * lengthUs * 1.0e-6);
    ASSERT_DOUBLE_EQ(bandHz, 3200.0);
    // Adiabatic: the peak nutation squared well above the sweep rate at the centre, 2 pi band beta / T.
    const double peakHz = 1500.0;

    const std::vector<double> offsets = offsetsAcross(2.0 * bandHz, 161);
    const std::vector<ProfilePoint> profile =
        excitationProfile(pulse.table, lengthUs, powerForNutationHz(peakHz), offsets);
    ASSERT_EQ(profile.size(), offsets.size());
    int inside = 0;
    int outside = 0;
    for (const ProfilePoint& p : profile) {
        if (std::abs(p.offsetHz) <= 0.4 * bandHz) {
            EXPECT_LT(p.mz, -0.95) << p.offsetHz;
            ++inside;
        } else if (std::abs(p.offsetHz) >= 0.85 * bandHz) {
            EXPECT_GT(p.mz, 0.95) << p.offsetHz;
            ++outside;
        }
        EXPECT_NEAR(p.mx * p.mx + p.my * p.my + p.mz * p.mz, 1.0, 1e-9);
    }
    EXPECT_GE(inside, 60);
    EXPECT_GE(outside, 20);
}

// Full width at half height of the transverse magnetisation, interpolated between offsets.
double transverseFwhmHz(const std::vector<ProfilePoint>& profile)
{
    double peak = 0.0;
    for (const ProfilePoint& p : profile)
        peak = std::max(peak, std::hypot(p.mx, p.my));
    double lower = 0.0;
    double upper = 0.0;
    for (std::size_t k = 1; k < profile.size(); ++k) {
        const double a = std::hypot(profile[k - 1].mx, profile[k - 1].my) - peak / 2.0;
        const double b = std::hypot(profile[k].mx, profile[k].my) - peak / 2.0;
        const double crossing =
            profile[k - 1].offsetHz + (profile[k].offsetHz - profile[k - 1].offsetHz) * a / (a - b);
        if (a < 0.0 && b >= 0.0)
            lower = crossing;
        else if (a >= 0.0 && b < 0.0)
            upper = crossing;
    }
    return upper - lower;
}

TEST(ExcitationProfile, GaussianBandwidthFallsInverselyWithItsLength)
{
    pulses::GeneratorSettings s;
    s.shape = pulses::kShapeGauss;
    s.gapCount = 256;
    s.pulsePerGap = 1;
    s.truncation = 0.001;
    const pulses::GeneratedPulse pulse = generated(s);
    // Small flip: the profile is the envelope's transform, exp(-(pi f T / k)^2) for the envelope
    // exp(-(k (t/T - 1/2))^2) with k = 2 sqrt(ln(1/q)): full width 2 k sqrt(ln 2) / (pi T).
    const double k = 2.0 * std::sqrt(std::log(1000.0));
    double widths[2] = {};
    for (int n = 0; n < 2; ++n) {
        const double lengthUs = 1000.0 * (n + 1);
        const double flipCycles = 10.0 / 360.0;
        // The integral is the mean amplitude relative to full: the flip is peak x T x integral.
        const double peakHz = flipCycles / (lengthUs * 1.0e-6 * pulse.integral);
        const double expectedHz = 2.0 * k * std::sqrt(std::log(2.0)) / (kPi * lengthUs * 1.0e-6);
        const std::vector<ProfilePoint> profile = excitationProfile(
            pulse.table, lengthUs, powerForNutationHz(peakHz), offsetsAcross(3.0 * expectedHz, 301));
        widths[n] = transverseFwhmHz(profile);
        EXPECT_NEAR(widths[n], expectedHz, 0.02 * expectedHz) << lengthUs;
        // The flip itself: on resonance Mxy = sin(10 degrees).
        EXPECT_NEAR(std::hypot(profile[150].mx, profile[150].my), std::sin(10.0 * kPi / 180.0), 0.002);
    }
    EXPECT_NEAR(widths[0] / widths[1], 2.0, 0.02);
}

}  // namespace
}  // namespace velmora::engine
