// Slice weights of the object profiles, gradient factors across the slices and shift offsets of a step.
#include "engine/slice_profile.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::engine {
namespace {

constexpr double kTwoPi = 6.28318530717958;

double sum(const std::vector<double>& v)
{
    return std::accumulate(v.begin(), v.end(), 0.0);
}

// Weight of slice s relative to slice `reference`.
double relative(const std::vector<double>& w, int s, int reference)
{
    return w[static_cast<std::size_t>(s)] / w[static_cast<std::size_t>(reference)];
}

SpinTables hydrogenCarbonNitrogen()
{
    SpinTables spins;
    spins.count = 3;
    spins.slotState = {3, 3, 3};
    spins.nucleusConstant = {kNucleusConstantH1, kNucleusConstantC13, kNucleusConstantN15};
    spins.channel = {kChannelH1, kChannelC13, kChannelN15};
    spins.shiftHz = {85.0, 4275.6, -120.0};
    return spins;
}

// --- Slice weights ---------------------------------------------------------------------------------

TEST(SliceWeights, EveryProfileSumsToOne)
{
    for (const std::string profile : {"square", "gauss", "shape1", "shape2", "other"}) {
        for (const int lastSlice : {1, 10, 63, 127}) {
            const std::vector<double> w = sliceWeights(profile, lastSlice);
            ASSERT_EQ(w.size(), static_cast<std::size_t>(lastSlice + 1));
            EXPECT_NEAR(sum(w), 1.0, 1e-14) << profile << " " << lastSlice;
        }
    }
}

TEST(SliceWeights, SquareAndUnknownProfilesAreUniform)
{
    for (const std::string profile : {"square", "Square", "lorentz", ""}) {
        const std::vector<double> w = sliceWeights(profile, 63);
        for (const double weight : w)
            EXPECT_DOUBLE_EQ(weight, 1.0 / 64.0) << profile;
    }
}

TEST(SliceWeights, GaussFallsToExpMinusFourAtTheEdges)
{
    const int lastSlice = 126;
    const std::vector<double> w = sliceWeights("GAUSS", lastSlice);
    const int centre = lastSlice / 2;
    EXPECT_NEAR(relative(w, 0, centre), std::exp(-4.0), 1e-12);
    EXPECT_NEAR(relative(w, lastSlice, centre), std::exp(-4.0), 1e-12);
    for (int s = 0; s <= lastSlice; ++s) {
        const double x = 4.0 * (s - centre) / lastSlice;
        EXPECT_NEAR(relative(w, s, centre), std::exp(-x * x), 1e-12) << s;
    }
}

TEST(SliceWeights, Shape1StepsThroughItsFiveBands)
{
    // S = 127: the band edges S/5 = 25.4, 2S/5 = 50.8, 3S/5 = 76.2 and 4S/5 = 101.6.
    const std::vector<double> w = sliceWeights("shape1", 127);
    const int centre = 64;
    const std::array<std::pair<int, double>, 10> expected = {{{0, 0.25},
                                                              {25, 0.25},
                                                              {26, 0.5},
                                                              {50, 0.5},
                                                              {51, 1.0},
                                                              {76, 1.0},
                                                              {77, 0.5},
                                                              {101, 0.5},
                                                              {102, 0.25},
                                                              {127, 0.25}}};
    for (const auto& [s, level] : expected)
        EXPECT_DOUBLE_EQ(relative(w, s, centre), level) << s;
}

TEST(SliceWeights, Shape2IsFullThenEmptyToTheMiddleThenHalf)
{
    // S = 128: S/4 = 32 and S/2 = 64 both belong to the empty band.
    const std::vector<double> w = sliceWeights("shape2", 128);
    EXPECT_DOUBLE_EQ(relative(w, 31, 0), 1.0);
    EXPECT_EQ(w[32], 0.0);
    EXPECT_EQ(w[64], 0.0);
    EXPECT_DOUBLE_EQ(relative(w, 65, 0), 0.5);
    EXPECT_DOUBLE_EQ(relative(w, 128, 0), 0.5);
    // 32 slices at 1 and 64 at 0.5: the first slice carries 1/64 of the sample.
    EXPECT_DOUBLE_EQ(w[0], 1.0 / 64.0);
}

TEST(SliceWeights, ASingleSliceCarriesTheWholeSample)
{
    for (const std::string profile : {"square", "gauss", "shape1", "shape2"}) {
        const std::vector<double> w = sliceWeights(profile, 0);
        ASSERT_EQ(w.size(), 1U);
        EXPECT_EQ(w[0], 1.0) << profile;
    }
    EXPECT_THROW(static_cast<void>(sliceWeights("square", -1)), std::invalid_argument);
}

// --- Gradient factors ------------------------------------------------------------------------------

TEST(SliceGradientFactors, RunLinearlyFromMinusHalfToPlusHalfOfTheScale)
{
    const SpinTables spins = hydrogenCarbonNitrogen();
    const int lastSlice = 63;
    const double gradientValue = 10.0;
    const double protonScale = gradientValue * 26.7519 / kTwoPi;
    std::array<double, kSpinSlots> factors{};
    for (int s = 0; s <= lastSlice; ++s) {
        gradientFactors(spins, gradientValue, s, lastSlice, factors);
        const double position = static_cast<double>(s) / lastSlice - 0.5;
        EXPECT_NEAR(factors[0], position * protonScale, 1e-12) << s;
        // Heteronuclei feel the gradient in proportion to their gyromagnetic ratio, with its sign.
        EXPECT_NEAR(factors[1], factors[0] * kNucleusConstantC13 / kNucleusConstantH1, 1e-12) << s;
        EXPECT_NEAR(factors[2], factors[0] * kNucleusConstantN15 / kNucleusConstantH1, 1e-12) << s;
    }
    gradientFactors(spins, gradientValue, 0, lastSlice, factors);
    EXPECT_NEAR(factors[0], -0.5 * protonScale, 1e-12);
    gradientFactors(spins, gradientValue, lastSlice, lastSlice, factors);
    EXPECT_NEAR(factors[0], 0.5 * protonScale, 1e-12);
}

TEST(SliceGradientFactors, ASingleSliceSitsAtTheCentreAndFeelsNoGradient)
{
    const SpinTables spins = hydrogenCarbonNitrogen();
    std::array<double, kSpinSlots> factors{};
    factors.fill(99.0);
    gradientFactors(spins, 10.0, 0, 0, factors);
    EXPECT_EQ(factors[0], 0.0);
    EXPECT_EQ(factors[1], 0.0);
    EXPECT_EQ(slicePosition(0, 0), 0.0);
}

TEST(SliceGradientFactors, StepGradientValueResolvesLikeAContentCode)
{
    model::PulseSequence sequence;
    model::ElementTable& elements = sequence.elements();
    model::SequenceStep step;
    step.gradient = -22;  // g2 = 1 at start-up
    elements.setValue(22, 7.5);
    EXPECT_EQ(stepGradientValue(step, elements, "d1", 3.0), 7.5);
    EXPECT_EQ(stepGradientValue(step, elements, "G2", 3.0), 3.0);  // g2 arrayed
    step.gradient = 0.0;
    EXPECT_EQ(stepGradientValue(step, elements, "d1", 3.0), 0.0);
}

// --- Shift offsets ---------------------------------------------------------------------------------

TEST(SliceShiftOffsets, AreMinusTwoPiTimesShiftPlusTheOffsetOfTheSpinsChannel)
{
    const SpinTables spins = hydrogenCarbonNitrogen();
    model::PulseSequence sequence;
    model::ElementTable& elements = sequence.elements();
    elements.setValue(31, 100.0);  // o1
    elements.setValue(32, -50.0);  // o2
    model::SequenceStep step;
    step.channels[0].offset = -31;
    step.channels[1].offset = -32;
    step.channels[2].offset = 0.0;  // no offset on the 15N channel
    std::array<double, kSpinSlots> omega{};
    shiftOffsets(spins, step, elements, "d1", 0.0, omega);
    EXPECT_NEAR(omega[0], -kTwoPi * (85.0 + 100.0), 1e-9);
    EXPECT_NEAR(omega[1], -kTwoPi * (4275.6 - 50.0), 1e-9);
    EXPECT_NEAR(omega[2], -kTwoPi * -120.0, 1e-9);

    // An arrayed offset takes the run's value.
    shiftOffsets(spins, step, elements, "o1", 250.0, omega);
    EXPECT_NEAR(omega[0], -kTwoPi * (85.0 + 250.0), 1e-9);
    EXPECT_NEAR(omega[1], -kTwoPi * (4275.6 - 50.0), 1e-9);
}

}  // namespace
}  // namespace velmora::engine
