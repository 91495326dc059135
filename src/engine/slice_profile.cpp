// Slice weights, gradient factors and shift offsets.
#include "engine/slice_profile.h"

#include "engine/step_routine.h"
#include "model/pulse_sequence.h"
#include "util/text_compare.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace velmora::engine {

namespace {

constexpr double kTwoPi = 6.28318530717958;
// Gyromagnetic ratio of 1H in 1e7 rad/(s T), which turns a gradient value into rad/s per position.
constexpr double kProtonGyromagneticRatio = 26.7519;

double rawWeight(std::string_view profile, double s, double lastSlice)
{
    if (util::equalsIgnoreCase(profile, "gauss")) {
        const double x = 4.0 * (s - lastSlice / 2.0) / lastSlice;
        return std::exp(-x * x);
    }
    if (util::equalsIgnoreCase(profile, "shape1")) {
        if (s < lastSlice / 5.0)
            return 0.25;
        if (s < 2.0 * lastSlice / 5.0)
            return 0.5;
        if (s < 3.0 * lastSlice / 5.0)
            return 1.0;
        if (s < 4.0 * lastSlice / 5.0)
            return 0.5;
        return 0.25;
    }
    if (util::equalsIgnoreCase(profile, "shape2")) {
        if (s < lastSlice / 4.0)
            return 1.0;
        if (s <= lastSlice / 2.0)
            return 0.0;
        return 0.5;
    }
    // "square" and any profile not listed: a uniform object.
    return 1.0;
}

}  // namespace

std::vector<double> sliceWeights(std::string_view profile, int lastSlice)
{
    if (lastSlice < 0)
        throw std::invalid_argument("the last slice index must not be negative");
    std::vector<double> weights(static_cast<std::size_t>(lastSlice) + 1, 1.0);
    if (lastSlice == 0)
        return weights;
    double sum = 0.0;
    for (int s = 0; s <= lastSlice; ++s) {
        weights[static_cast<std::size_t>(s)] = rawWeight(profile, s, lastSlice);
        sum += weights[static_cast<std::size_t>(s)];
    }
    for (double& w : weights)
        w /= sum;
    return weights;
}

double slicePosition(int slice, int lastSlice)
{
    if (lastSlice == 0)
        return 0.0;
    return static_cast<double>(slice) / static_cast<double>(lastSlice) - 0.5;
}

void gradientFactors(const SpinTables& spins, double gradientValue, int slice, int lastSlice,
                     std::span<double> factors)
{
    const double position = slicePosition(slice, lastSlice);
    for (int k = 0; k < spins.count; ++k) {
        factors[static_cast<std::size_t>(k)] = position * gradientValue *
                                               (spins.nucleusConstant[k] / kNucleusConstantH1) *
                                               kProtonGyromagneticRatio / kTwoPi;
    }
}

double stepGradientValue(const model::SequenceStep& step, const model::ElementTable& elements,
                         std::string_view arrayedName, double arrayedValue)
{
    return referenceValue(step.gradient, elements, arrayedName, arrayedValue);
}

void shiftOffsets(const SpinTables& spins, const model::SequenceStep& step,
                  const model::ElementTable& elements, std::string_view arrayedName, double arrayedValue,
                  std::span<double> offsetsRadPerS)
{
    for (int k = 0; k < spins.count; ++k) {
        const double offsetHz =
            referenceValue(step.channels[static_cast<std::size_t>(spins.channel[k])].offset, elements,
                           arrayedName, arrayedValue);
        offsetsRadPerS[static_cast<std::size_t>(k)] = -kTwoPi * (spins.shiftHz[k] + offsetHz);
    }
}

}  // namespace velmora::engine
