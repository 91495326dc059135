// The preview of a made pulse: the frequency it shows stays within the steps between the pulse's
// own elements when filler elements surround the pulse.
#include "workbench/pulse_preview_data.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

TEST(PulsePreviewData, FillersAroundASweepAddNoFrequencyOfTheirOwn)
{
    MadePulse made;
    made.settings.gapCount = 64;
    made.settings.pulsePerGap = 1;
    made.settings.zerosAtStart = 4;
    made.settings.zerosAtEnd = 4;
    made.settings.rValue = 8.0;  // a sweep of an eighth of the element rate
    made.settings.header = false;
    util::UniformRandom random;
    pulses::GenerationResult generated = pulses::generatePulse(made.settings, {}, random);
    ASSERT_TRUE(generated.pulse) << generated.error;
    made.pulse = std::move(*generated.pulse);

    // The widest frequency of the sweep: the largest phase step between neighbouring elements of the
    // pulse body (elements 5..68), each step wrapped to half a turn.
    const auto& points = made.pulse.table.points;
    const double elementS = kPreviewLengthUs * 1.0e-6 / made.pulse.table.pointCount();
    double widestHz = 0.0;
    for (int p = 6; p <= 68; ++p) {
        const double stepDeg = std::remainder(points[p][0] - points[p - 1][0], 360.0);
        widestHz = std::max(widestHz, std::abs(stepDeg) / 360.0 / elementS);
    }

    const PulsePreviewData data = pulsePreviewData(made, 3);
    ASSERT_EQ(data.frequencyHz.size(), 72u);
    for (std::size_t i = 0; i < data.frequencyHz.size(); ++i)
        EXPECT_LE(std::abs(data.frequencyHz[i]), widestHz * (1.0 + 1e-12)) << "element " << i + 1;
    EXPECT_DOUBLE_EQ(data.frequencyHz.front(), data.frequencyHz[5])
        << "the leading fillers show the first step";
    EXPECT_DOUBLE_EQ(data.frequencyHz.back(), data.frequencyHz[67]) << "the trailing fillers keep the last";
}

}  // namespace
}  // namespace velmora::workbench
