#include "processing/autophase.h"
#include "processing/display_arrays.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "workbench/automatic_phase.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/result_tables.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::processing {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// The pulse-acquire example (three doublets of doublets) run in a scratch folder; its spectrum as
// a record of one run, with an extra zero-order phase (degrees) and first-order phase (tenths of a
// degree per point) laid on in the display's convention.
class PulseAcquire : public ::testing::Test {
protected:
    PulseAcquire()
    {
        for (const char* file : {"pulse_acquire.mol", "pulse_acquire.psq"})
            std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / file, dir.path() / file);
        EXPECT_TRUE(workbench::openMolecule(bench, "pulse_acquire.mol").wasRead());
        EXPECT_TRUE(workbench::openSequence(bench, "pulse_acquire.psq").wasRead());
        EXPECT_EQ(workbench::startExperiment(bench, false), workbench::StartOutcome::Completed);
    }

    engine::SampleRecord turned(double zeroDegrees, double firstTenths) const
    {
        const engine::PreparedRun& run = bench.records().preparation->run;
        const engine::SampleRecord& signal = bench.records().preparation->signal;
        const int np = run.pointCount;
        engine::SampleRecord record(np, 0);
        for (int i = 1; i <= np; ++i) {
            const double phi = (zeroDegrees + firstTenths * (np / 2.0 - i) / 10.0) * kDegree;
            const std::complex<double> value =
                std::complex<double>(signal.at(1, i, run.lastRun), signal.at(2, i, run.lastRun)) *
                std::polar(1.0, phi);
            record.at(1, i, 0) = value.real();
            record.at(2, i, 0) = value.imag();
        }
        return record;
    }

    velmora::testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    workbench::Workbench bench{messages, dir.path()};
};

// The display of `record` phased with the bars at `phase`.
DisplayArrays phasedDisplay(const engine::SampleRecord& record, PhaseSetting phase)
{
    DisplayArrays display;
    const DisplayArrays::BuildRequest request{.signal = record,
                                              .timeDomain = record,
                                              .rp = static_cast<double>(phase.rp),
                                              .lp = static_cast<double>(phase.lp),
                                              .pointCount = record.lastSample(),
                                              .lastRun = 0};
    (void)display.build(request);
    return display;
}

// The most absorption any phase gives: every first order of the bar, each with the exact zero
// order (the angle of the spectrum's sum), searched one by one.
double bestAbsorption(const engine::SampleRecord& record)
{
    const int np = record.lastSample();
    double best = 0.0;
    for (int rp = -360; rp <= 360; ++rp) {
        std::complex<double> sum;
        for (int i = 1; i <= np; ++i)
            sum += std::complex<double>(record.at(1, i, 0), record.at(2, i, 0)) *
                   std::polar(1.0, -rp * (np / 2.0 - i) / 10.0 * kDegree);
        best = std::max(best, std::abs(sum));
    }
    return best;
}

TEST_F(PulseAcquire, AutomaticPhaseGivesNearlyTheBestAbsorptionFromAnyStart)
{
    ASSERT_TRUE(bench.records().spectraComputed);
    const int np = bench.records().preparation->run.pointCount;
    for (const auto& [zero, first] :
         {std::pair{0.0, 0.0}, std::pair{93.0, 0.0}, std::pair{-151.0, 37.0}, std::pair{200.0, -120.0}}) {
        const engine::SampleRecord record = turned(zero, first);
        std::vector<double> real(static_cast<std::size_t>(np)), imaginary(static_cast<std::size_t>(np));
        for (int i = 1; i <= np; ++i) {
            real[static_cast<std::size_t>(i) - 1] = record.at(1, i, 0);
            imaginary[static_cast<std::size_t>(i) - 1] = record.at(2, i, 0);
        }
        const PhaseSetting phase = automaticPhase(real, imaginary);
        const DisplayArrays display = phasedDisplay(record, phase);
        double absorption = 0.0;
        int tallest = 0;
        for (int i = 0; i < np; ++i) {
            absorption += display.at(0, 0, i);
            if (display.at(0, 2, i) > display.at(0, 2, tallest))
                tallest = i;
        }
        const double best = bestAbsorption(record);
        EXPECT_GE(absorption, 0.95 * best) << "start " << zero << " deg, " << first << " rp";
        EXPECT_GT(display.at(0, 0, tallest), 0.0) << "start " << zero << " deg, " << first << " rp";
    }
}

TEST_F(PulseAcquire, TheWorkbenchCommandSetsThePhaseBarsAndRephasesTheDisplay)
{
    const engine::SampleRecord record = turned(0.0, 0.0);
    ASSERT_TRUE(workbench::phaseAutomatically(bench));
    const PhaseSetting phase{bench.controls().at({"HScroll2", 0}).value,
                             bench.controls().at({"HScroll2", 1}).value};
    EXPECT_EQ(bench.controls().text({"Text2", 5}), std::to_string(phase.rp));
    EXPECT_EQ(bench.controls().text({"Text2", 6}), std::to_string(phase.lp));
    const DisplayArrays expected = phasedDisplay(record, phase);
    const DisplayArrays shown = workbench::spectrumDisplay(bench);  // what spectra.tsv holds
    const int np = record.lastSample();
    double absorption = 0.0;
    for (int i = 0; i < np; ++i) {
        ASSERT_NEAR(shown.at(0, 0, i), expected.at(0, 0, i), 1e-9) << "point " << i;
        absorption += shown.at(0, 0, i);
    }
    EXPECT_GE(absorption, 0.95 * bestAbsorption(record));
}

TEST(AutomaticPhase, ASilentSpectrumKeepsThePhaseAtZero)
{
    const std::vector<double> zeros(64, 0.0);
    const PhaseSetting phase = automaticPhase(zeros, zeros);
    EXPECT_EQ(phase.rp, 0);
    EXPECT_EQ(phase.lp, 0);
}

}  // namespace
}  // namespace velmora::processing
