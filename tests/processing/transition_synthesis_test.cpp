// The synthesized acquisition from the lines of the exact strong-coupling path: a line that flips
// two spins decays at the mean of their T2 rates weighted by their shares, and the fast line sum
// equals the straightforward one.
#include "engine/recorded_operators.h"
#include "engine/run_records.h"
#include "engine/spin_tables.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"
#include "processing/synthesis.h"
#include "util/messages.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

namespace velmora::processing {
namespace {

struct LineAcquisition {
    engine::SpinTables spins;
    model::SequenceStep step;
    model::ElementTable elements;
    engine::RecordedOperators recorded;
    engine::DetectionRecord detection{0, 0, 0};
    std::vector<double> arrayed{0.0};
    std::vector<std::vector<engine::TransitionLine>> lines =
        std::vector<std::vector<engine::TransitionLine>>(engine::kRfChannelCount);
    util::RecordedMessages messages;
    SynthesisInput input{.spins = spins,
                         .acquisitionStep = step,
                         .elements = elements,
                         .recorded = recorded,
                         .detection = detection,
                         .messages = messages};

    LineAcquisition()
    {
        spins.count = 2;
        for (int s = 0; s < 2; ++s) {
            spins.slotState[s] = 1;
            spins.channel[s] = engine::kChannelH1;
        }
        spins.t2Ms[0] = 20.0;
        spins.t2Ms[1] = 80.0;
        input.pointCount = 256;
        input.spectralWidthHz = 500.0;
        input.lineBroadeningHz = 0.0;
        input.window = "Lorenz";
        input.t2Decay = true;
        input.arrayedValues = arrayed;
        input.transitions = &lines;
    }
};

TEST(TransitionSynthesis, ALineDecaysAtTheShareWeightedMeanOfItsSpinsRates)
{
    LineAcquisition a;
    engine::TransitionLine line;
    line.frequencyHz = 37.0;
    line.amplitude = {1500.0, -400.0};
    line.spinShare[0] = 0.25;
    line.spinShare[1] = 0.75;
    a.lines[engine::kChannelH1] = {line};
    const std::optional<SynthesisResult> result = synthesizeSpectra(a.input);
    ASSERT_TRUE(result);
    const double dwell = static_cast<float>(1.0 / 500.0);
    const double rate = 0.25 * 1000.0 / 20.0 + 0.75 * 1000.0 / 80.0;  // 1/s
    for (int k : {0, 1, 100, 255}) {
        const double t = k * dwell;
        const std::complex<double> expected =
            std::complex<double>(1.5, -0.4) *
            std::exp(std::complex<double>(-rate * t, 2.0 * std::numbers::pi * 37.0 * t));
        EXPECT_NEAR(result->timeDomain.at(1, k + 1, 0), expected.real(), 1e-6) << k;
        EXPECT_NEAR(result->timeDomain.at(2, k + 1, 0), expected.imag(), 1e-6) << k;
    }
}

TEST(TransitionSynthesis, TheFastLineSumEqualsTheStraightforwardOne)
{
    LineAcquisition a;
    std::mt19937 generator(9);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 40; ++i) {
        engine::TransitionLine line;
        line.frequencyHz = (u(generator) - 0.5) * 500.0;
        line.amplitude = {(u(generator) - 0.5) * 4000.0, (u(generator) - 0.5) * 4000.0};
        line.spinShare[0] = u(generator);
        line.spinShare[1] = 1.0 - line.spinShare[0];
        a.lines[engine::kChannelH1].push_back(line);
    }
    a.input.pointCount = 1024;
    const std::optional<SynthesisResult> fast = synthesizeSpectra(a.input);
    const std::optional<SynthesisResult> plain = synthesizeSpectraReference(a.input);
    ASSERT_TRUE(fast && plain);
    double largest = 0.0;
    double difference = 0.0;
    for (int p = 1; p <= 1024; ++p)
        for (int c = 1; c <= 3; ++c) {
            largest = std::max(largest, std::abs(plain->signal.at(c, p, 0)));
            difference = std::max(difference, std::abs(fast->signal.at(c, p, 0) - plain->signal.at(c, p, 0)));
        }
    EXPECT_GT(largest, 0.0);
    EXPECT_LT(difference, 1e-12 * largest);
}

}  // namespace
}  // namespace velmora::processing
