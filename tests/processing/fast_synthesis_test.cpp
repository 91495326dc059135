// The fast line sum against the straightforward synthesis on random spin systems: 1 to 10 spins on
// all three channels, random couplings and amplitudes (some below the threshold), slices on and off,
// every window, T2 from the spins or arrayed, one- and two-dimensional runs.
#include "engine/recorded_operators.h"
#include "engine/run_records.h"
#include "engine/spin_tables.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"
#include "processing/synthesis.h"
#include "util/messages.h"
#include "util/uniform_random.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace velmora::processing {
namespace {

// Largest difference of the two records relative to the largest magnitude in either.
double relativeDifference(const engine::SampleRecord& a, const engine::SampleRecord& b)
{
    double largest = 0.0;
    double difference = 0.0;
    for (int r = 0; r <= a.lastRun(); ++r) {
        for (int p = 0; p <= a.lastSample(); ++p) {
            for (int c = 0; c < engine::SampleRecord::kComponents; ++c) {
                largest = std::max({largest, std::abs(a.at(c, p, r)), std::abs(b.at(c, p, r))});
                difference = std::max(difference, std::abs(a.at(c, p, r) - b.at(c, p, r)));
            }
        }
    }
    return largest > 0.0 ? difference / largest : difference;
}

struct RandomAcquisition {
    engine::SpinTables spins;
    model::SequenceStep step;
    model::ElementTable elements;
    engine::RecordedOperators recorded;
    engine::DetectionRecord detection;
    std::vector<double> arrayed;
    util::RecordedMessages messages;
    SynthesisInput input{.spins = spins,
                         .acquisitionStep = step,
                         .elements = elements,
                         .recorded = recorded,
                         .detection = detection,
                         .messages = messages};

    // Case `c` picks the spin count, whether couplings are dense, slices, window and T2 in turn.
    RandomAcquisition(int c, util::UniformRandom& random)
    {
        const int count = 1 + c % 10;
        // Every pair coupled up to 6 spins; beyond, each spin coupled to about two others.
        const double couplingChance = count <= 6 ? 1.0 : 0.2;
        spins.count = count;
        for (int s = 0; s < count; ++s) {
            spins.slotState[s] = 1;
            spins.channel[s] = random.next() < 0.7 ? engine::kChannelH1 : (random.next() < 0.5 ? 1 : 2);
            spins.shiftHz[s] = (random.next() - 0.5) * 300.0;
            spins.t2Ms[s] = 20.0 + 400.0 * random.next();
            for (int t = 0; t < s; ++t) {
                const double j = random.next() < couplingChance ? 1.0 + 14.0 * random.next() : 0.0;
                spins.couplingHz[s][t] = j;
                spins.couplingHz[t][s] = j;
            }
        }
        recorded = engine::buildRecordedOperators(spins);

        const bool slices = c % 2 == 1;
        const bool twoD = c % 3 == 2;
        const bool arrayedT2 = c % 4 == 3;
        const std::array<std::string, 3> windows = {"Gauss", "Lorenz", "new"};
        step.gradient = slices ? 2.5 : 0.0;
        input.lastSlice = slices ? 6 : 0;
        input.lastRun = 3;
        input.runsPerValue = twoD ? 2 : 1;
        input.detectionChannel = c % 5 == 4 ? engine::kChannelC13 : engine::kChannelH1;
        input.pointCount = 128;
        input.spectralWidthHz = 700.0;
        input.lineBroadeningHz = 3.0;
        input.window = windows[static_cast<std::size_t>(c % 3)];
        input.t2Decay = c % 4 == 1;
        input.arrayedName = arrayedT2 ? "T2" : "d1";
        for (int r = 0; r <= input.lastRun; ++r)
            arrayed.push_back(30.0 + 100.0 * r);
        input.arrayedValues = arrayed;

        detection =
            engine::DetectionRecord(input.lastSlice, static_cast<int>(recorded.size()), input.lastRun);
        for (int r = 0; r <= input.lastRun; ++r) {
            for (int j = 0; j <= input.lastSlice; ++j) {
                for (int e = 0; e < static_cast<int>(recorded.size()); ++e) {
                    // A tenth of the amplitudes at or under the threshold, which must add nothing.
                    const double u = random.next();
                    detection.at(j, e, r) = u < 0.1 ? 0.05 * (u - 0.05) : 2000.0 * (u - 0.55);
                }
            }
        }
    }
};

TEST(FastSynthesis, AgreesWithTheStraightforwardRoutineOnRandomSpinSystems)
{
    util::UniformRandom random(13);
    for (int c = 0; c < 20; ++c) {
        const RandomAcquisition a(c, random);
        const std::optional<SynthesisResult> fast = synthesizeSpectra(a.input);
        const std::optional<SynthesisResult> reference = synthesizeSpectraReference(a.input);
        ASSERT_TRUE(fast && reference);
        EXPECT_LT(relativeDifference(fast->signal, reference->signal), 1e-9) << "case " << c;
        EXPECT_LT(relativeDifference(fast->timeDomain, reference->timeDomain), 1e-9) << "case " << c;
    }
}

}  // namespace
}  // namespace velmora::processing
