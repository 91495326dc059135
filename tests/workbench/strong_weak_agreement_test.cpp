// Random spin systems of 2 to 6 protons, with shifts at least 200 J apart, through random sequences
// of hard pulses, delays and phase cycles (and 2D runs) on both paths: where the weak-coupling
// approximation holds, the exact path's lines must lie within J^2/dv of the first-order lines and
// the intensities gathered at each first-order position must agree within J/dv of the largest line
// for every interval of free evolution the state passes (the delays and the acquisition).
#include "engine/spin_tables.h"
#include "engine/strong_acquisition.h"
#include "engine/strong_coupling.h"
#include "support/scratch_directory.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace velmora::workbench {
namespace {

namespace ctl = model::ctl;
using velmora::testing::ScratchDirectory;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Element indices: hard pulses p1..p3 (us), delays d1..d4 (ms), offsets o1..o3 (Hz), powers r1..r3.
constexpr int kFirstPulse = 1;
constexpr int kFirstDelay = 11;
constexpr int kFirstOffset = 31;
constexpr int kFirstPower = 41;

struct Case {
    int spins;
    bool twoD;
    unsigned seed;
};

class StrongWeakAgreement : public ::testing::TestWithParam<Case> {
protected:
    // Shifts dv 3^k (1 + e), |e| <= 0.1, so that no two sums of shifts over equal numbers of spins
    // come closer than about dv / 3 (a Zeeman state never meets another of its block); couplings
    // up to kLargestJ between every pair; all spins protons.
    void buildSpinSystem(std::mt19937& random)
    {
        model::SpinSystem& system = bench.spinSystem();
        const double mhz = system.protonFrequencyMHz();
        std::uniform_real_distribution<double> spread(-0.1, 0.1);
        std::uniform_real_distribution<double> coupling(-kLargestJ, kLargestJ);
        const int n = GetParam().spins;
        for (int k = 0; k < 11; ++k)
            ASSERT_TRUE(system.setLabel(k, k < n ? "H" + std::to_string(k) : ""));
        double power = 1.0;
        for (int k = 0; k < n; ++k, power *= 3.0)
            system.setShiftPpm(k, kBaseSeparationHz * power * (1.0 + spread(random)) / mhz);
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                system.setCouplingHz(i, j, coupling(random));
        system.rebuild();
    }

    // Steps of a hard pulse (none, 90, 180 or 54 degrees at 100 dB) with a fixed or cycled phase and
    // a delay of 0.2 to 3 ms; a receiver phase from the cycle; four scans; the operator record at
    // the acquisition.
    void buildSequence(std::mt19937& random)
    {
        model::PulseSequence& seq = bench.sequence();
        model::ElementTable& elements = seq.elements();
        const double ninetyUs = 0.05;  // 90 degrees at 100 dB
        elements.setValue(kFirstPulse, ninetyUs);
        elements.setValue(kFirstPulse + 1, 2.0 * ninetyUs);
        elements.setValue(kFirstPulse + 2, 0.6 * ninetyUs);
        std::uniform_real_distribution<double> delayMs(0.2, 3.0);
        for (int d = 0; d < 4; ++d)
            elements.setValue(kFirstDelay + d, delayMs(random));
        for (int c = 0; c < 3; ++c) {
            elements.setValue(kFirstOffset + c, 0.0);
            elements.setValue(kFirstPower + c, 100.0);
        }
        std::uniform_int_distribution<int> stepCount(2, 5);
        std::uniform_int_distribution<int> pulse(0, 3);
        std::uniform_int_distribution<int> phase(0, 5);  // 4, 5: cycled f4, f5
        std::uniform_int_distribution<int> delay(0, 3);
        const int steps = stepCount(random);
        ASSERT_TRUE(seq.setStepCount(steps));
        for (int s = 0; s <= steps + 1; ++s) {
            model::SequenceStep& step = seq.step(s);
            step = model::SequenceStep{};
            for (int c = 0; c < 3; ++c) {
                step.channels[static_cast<std::size_t>(c)].power = -(kFirstPower + c);
                step.channels[static_cast<std::size_t>(c)].offset = -(kFirstOffset + c);
            }
            if (s > steps)
                break;
            const int p = pulse(random);
            // The first step always pulses, so that every run has transverse magnetisation.
            step.channels[0].content = s == 0 ? -kFirstPulse : p == 0 ? 0 : -(kFirstPulse + p - 1);
            step.channels[0].phase = phase(random);
            step.delay = -(kFirstDelay + delay(random));
        }
        seq.step(steps + 1).channels[0].phase = 5;  // the receiver follows f5
        seq.setCycleBounds(0, 0);
        elements.setValue(model::element::kCycleCount, 0.0);
        seq.setPointStep(steps + 1);
        seq.setAcquisitionStep(model::PulseSequence::kNoAcquisition);
        if (GetParam().twoD) {
            // t1 between the first two pulses, in 0.5 ms increments.
            seq.step(0).delay = -kFirstDelay;
            seq.setArrayedParameter(elements.name(kFirstDelay));
            bench.controls().setText(ctl::ArraySize, "3");
            bench.controls().setText(ctl::ArrayIncrement, "0.5");
        } else {
            seq.setArrayedParameter("none");
            bench.controls().setText(ctl::ArraySize, "0");
        }
        std::uniform_int_distribution<int> digit(0, 3);
        std::vector<std::string> rows;
        for (int r = 0; r < model::PulseSequence::kPhaseRows; ++r) {
            std::string row;
            for (int i = 0; i < 4; ++i)
                row += static_cast<char>('0' + digit(random));
            rows.push_back(row);
        }
        bench.controls().setItems(ctl::PhaseCycle, rows);
        bench.controls().setText(ctl::ScanCount, "4");
    }

    struct Lines {
        std::vector<std::vector<engine::TransitionLine>> perRun;  // the proton lines of every run
    };

    // Runs the sequence on one path and returns the proton lines of every run: on the exact path
    // those its synthesis sums; on the weak path those of the zz Hamiltonian from the whole state at
    // the acquisition (the operator record there), which are what the weak synthesis sums.
    Lines run(bool strong)
    {
        bench.controls().setChecked(ctl::StrongCoupling, strong);
        EXPECT_EQ(startExperiment(bench, GetParam().twoD), StartOutcome::Completed);
        EXPECT_TRUE(messages.entries.empty()) << messages.entries.front().text;
        const RunRecords& records = bench.records();
        const engine::DriverResult& driver = records.driver;
        const int lastRun = driver.operators.lastRun();
        spins = engine::makeSpinTables(bench.spinSystem());
        std::vector<double> omega(static_cast<std::size_t>(spins.count));
        for (int k = 0; k < spins.count; ++k)
            omega[static_cast<std::size_t>(k)] = kTwoPi * spins.shiftHz[static_cast<std::size_t>(k)];
        Lines lines;
        if (strong) {
            std::vector<double> values(static_cast<std::size_t>(lastRun) + 1, 0.0);
            const std::vector<std::vector<engine::TransitionLine>> all = engine::acquisitionLines(
                {bench.sequence(), spins, driver.acquisitionStates, "none", values, lastRun, 0.0, 0});
            for (int r = 0; r <= lastRun; ++r)
                lines.perRun.push_back(all[static_cast<std::size_t>(r) * engine::kRfChannelCount]);
            return lines;
        }
        engine::ExactEvolution cache;
        const engine::ZeemanHamiltonian weak = engine::zeemanHamiltonian(spins, omega, false);
        for (int r = 0; r <= lastRun; ++r) {
            // The record keeps what the listing can show (every coefficient above 2.5e-8 of a
            // proton's polarisation here): the state as far as the lines can tell it.
            std::vector<double> state(static_cast<std::size_t>(driver.operators.operatorCount()));
            for (int i = 0; i < driver.operators.operatorCount(); ++i)
                state[static_cast<std::size_t>(i)] = driver.operators.at(i, r);
            lines.perRun.push_back(
                engine::transitionLines(state, spins, engine::kChannelH1, weak, cache, 0.0));
        }
        return lines;
    }

    static constexpr double kLargestJ = 3.0;  // Hz
    static constexpr double kBaseSeparationHz = 200.0 * kLargestJ;

    ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};
    engine::SpinTables spins;
};

TEST_P(StrongWeakAgreement, LinesAndIntensitiesAgreeWithinTheOrderOfTheWeakCouplingApproximation)
{
    std::mt19937 random(GetParam().seed);
    std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / "cosy.psq",
                               dir.path() / "cosy.psq");
    ASSERT_TRUE(openSequence(bench, "cosy.psq").wasRead());
    buildSpinSystem(random);
    buildSequence(random);
    const Lines weak = run(false);
    const Lines strong = run(true);
    ASSERT_EQ(weak.perRun.size(), strong.perRun.size());

    // J and dv of the bounds: the largest coupling and the closest pair of shifts.
    double largestJ = 0.0;
    double closest = 1e300;
    for (int i = 0; i < spins.count; ++i)
        for (int j = i + 1; j < spins.count; ++j) {
            largestJ = std::max(
                largestJ,
                std::abs(spins.couplingHz[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)]));
            closest = std::min(closest, std::abs(spins.shiftHz[static_cast<std::size_t>(i)] -
                                                 spins.shiftHz[static_cast<std::size_t>(j)]));
        }
    ASSERT_GE(closest / kLargestJ, 200.0);
    const double positionBound = largestJ * largestJ / closest;
    // Each free-evolution interval (every step has a delay) mixes the Zeeman states of the exact
    // path by up to J/dv, and the acquisition once more: a pulse-acquire is within J/dv, and a
    // sequence of S + 1 intervals within (S + 2) J/dv.
    const double intensityBound = (bench.sequence().stepCount() + 2) * largestJ / closest;

    for (std::size_t r = 0; r < weak.perRun.size(); ++r) {
        const std::vector<engine::TransitionLine>& w = weak.perRun[r];
        const std::vector<engine::TransitionLine>& s = strong.perRun[r];
        double largest = 0.0;
        for (const engine::TransitionLine& line : w)
            largest = std::max(largest, std::abs(line.amplitude));
        ASSERT_GT(largest, 0.0) << "run " << r;
        // First-order positions: those of the weak lines, gathered where they coincide.
        std::vector<double> positions;
        for (const engine::TransitionLine& line : w)
            if (std::none_of(positions.begin(), positions.end(),
                             [&](double f) { return std::abs(f - line.frequencyHz) < 2.0 * positionBound; }))
                positions.push_back(line.frequencyHz);
        // Every exact line of more than first-order mixing strength lies at a first-order position.
        for (const engine::TransitionLine& line : s) {
            if (std::abs(line.amplitude) < intensityBound * largest)
                continue;
            double nearest = 1e300;
            for (double f : positions)
                nearest = std::min(nearest, std::abs(line.frequencyHz - f));
            EXPECT_LT(nearest, positionBound) << "run " << r << ", line at " << line.frequencyHz << " Hz";
        }
        // The intensity at each position, on both paths.
        for (double f : positions) {
            std::complex<double> weakSum;
            std::complex<double> strongSum;
            for (const engine::TransitionLine& line : w)
                if (std::abs(line.frequencyHz - f) < 2.0 * positionBound)
                    weakSum += line.amplitude;
            for (const engine::TransitionLine& line : s)
                if (std::abs(line.frequencyHz - f) < 2.0 * positionBound)
                    strongSum += line.amplitude;
            EXPECT_LT(std::abs(strongSum - weakSum), intensityBound * largest)
                << "run " << r << ", position " << f << " Hz: weak " << weakSum << ", exact " << strongSum;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RandomSystems, StrongWeakAgreement,
                         ::testing::Values(Case{2, false, 1}, Case{3, false, 2}, Case{4, false, 3},
                                           Case{5, false, 4}, Case{6, false, 5}, Case{3, true, 6},
                                           Case{4, true, 7}, Case{2, false, 11}, Case{2, false, 21}));

}  // namespace
}  // namespace velmora::workbench
