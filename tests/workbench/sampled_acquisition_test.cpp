// Signals sampled during an acquisition pulse, processed into spectra: with a silent pulse the
// sampled record is an ordinary FID, so "swift" alone must put every line where the synthesized
// pulse-acquire experiment of the same spins puts it.
#include "processing/peaks.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::workbench {
namespace {

namespace ctl = model::ctl;

constexpr int kPoints = 256;
constexpr double kWidthHz = 1000.0;

class SampledAcquisitionTest : public ::testing::Test {
protected:
    SampledAcquisitionTest() { bench.spinSystem().rebuild(); }

    void spins(const std::vector<double>& ppm, const std::vector<std::array<double, 3>>& couplings = {})
    {
        model::SpinSystem& s = bench.spinSystem();
        for (int k = 0; k < model::SpinSystem::kSlots; ++k) {
            (void)s.setLabel(k, k < static_cast<int>(ppm.size()) ? "H" + std::to_string(k) : "");
            for (int j = 0; j < model::SpinSystem::kSlots; ++j)
                s.setCouplingHz(k, j, 0.0);
        }
        for (std::size_t k = 0; k < ppm.size(); ++k)
            s.setShiftPpm(static_cast<int>(k), ppm[k]);
        for (const auto& [i, j, hz] : couplings)
            s.setCouplingHz(static_cast<int>(i), static_cast<int>(j), hz);
        s.rebuild();
    }

    // A 90-degree pulse and, with `sampled`, a second step carrying a silent 256-point pulse on
    // which the signal is sampled; otherwise the synthesized acquisition after the pulse.
    void sequence(bool sampled)
    {
        model::PulseSequence& q = bench.sequence();
        while (q.stepCount() > 1)
            (void)q.deleteStep(0);
        for (int s = 0; s < model::PulseSequence::kStepSlots; ++s)
            for (int c = 0; c < 3; ++c)
                (void)q.setContent(s, c, "none");
        ASSERT_TRUE(q.setContent(1, 0, "p2"));
        q.setArrayedParameter("none");
        bench.controls().setText(ctl::ArraySize, "0");
        bench.controls().setText(ctl::SpectralWidth, "1000");
        bench.controls().setText(ctl::PointCount, std::to_string(kPoints));
        bench.controls().setText(ctl::LineBroadening1D, "0");
        bench.controls().setText(ctl::DirectWindow, "Lorenz");
        q.setPointStep(1);
        if (!sampled)
            return;
        ASSERT_TRUE(q.insertStep(1));
        std::string shape;
        for (int i = 0; i < kPoints; ++i)
            shape += "0 0 1\r\n";
        dir.writeBytes("silent.rf", shape);
        ASSERT_TRUE(q.setContent(2, 0, "n_silent.rf"));
        q.elements().setValue(51, kPoints / kWidthHz * 1e6);  // us: one point per dwell time
        ASSERT_TRUE(q.toggleAcquisition(2));
        bench.controls().setText(ctl::AcquisitionTime, std::to_string(kPoints / kWidthHz * 1000.0));
        bench.controls().setChecked(ctl::Swift, true);
    }

    // The frequencies of the strongest magnitude peaks of run 0's spectrum, in ascending order.
    std::vector<double> lines(bool sampled, int count)
    {
        sequence(sampled);
        EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed);
        EXPECT_TRUE(bench.records().spectraComputed);
        const engine::SampleRecord& spectra = bench.records().preparation->signal;
        std::vector<double> magnitude(kPoints);
        for (int k = 1; k <= kPoints; ++k)
            magnitude[static_cast<std::size_t>(k - 1)] = std::hypot(spectra.at(1, k, 0), spectra.at(2, k, 0));
        std::vector<double> found;
        for (const processing::SpectrumPeak& p : processing::strongestPeaks(magnitude, kWidthHz, count))
            found.push_back(p.frequencyHz);
        std::sort(found.begin(), found.end());
        return found;
    }

    velmora::testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};
};

TEST_F(SampledAcquisitionTest, OneProtonLandsWhereTheSynthesizedSpectrumPutsIt)
{
    spins({0.5});
    const std::vector<double> synthesized = lines(false, 1);
    const std::vector<double> sampled = lines(true, 1);
    ASSERT_EQ(synthesized.size(), 1u);
    ASSERT_EQ(sampled.size(), 1u);
    EXPECT_NEAR(synthesized[0], 85.0, kWidthHz / kPoints);
    EXPECT_NEAR(sampled[0], synthesized[0], 1e-9) << "not mirrored to " << -synthesized[0];
}

TEST_F(SampledAcquisitionTest, AnAsymmetricThreeSpinSystemKeepsItsMultiplets)
{
    spins({-1.5, 0.2, 1.8}, {{0, 1, 20.0}, {1, 2, 35.0}});
    const std::vector<double> synthesized = lines(false, 6);
    const std::vector<double> sampled = lines(true, 6);
    ASSERT_EQ(synthesized.size(), 6u) << "the six strongest lines of three multiplets";
    ASSERT_EQ(sampled.size(), synthesized.size());
    for (std::size_t i = 0; i < sampled.size(); ++i)
        EXPECT_NEAR(sampled[i], synthesized[i], kWidthHz / kPoints) << "line " << i;
}

TEST_F(SampledAcquisitionTest, ARefusedStepLeavesTheRunWithoutSpectraAndSaysWhy)
{
    spins({0.5});
    (void)lines(false, 1);  // spectra of an earlier run
    ASSERT_TRUE(util::fileExists(dir.path() / "aFT_XY.dat"));
    sequence(true);
    bench.controls().setChecked(ctl::ContinSwift, true);
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    EXPECT_FALSE(bench.records().spectraComputed);
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_NE(messages.entries.back().text.find("\"contin SWIFT\""), std::string::npos);
    EXPECT_FALSE(util::fileExists(dir.path() / "aFT_XY.dat")) << "no earlier spectrum looks current";
    const util::TextFileContent manifest = util::readTextLines(dir.path() / "run-manifest.txt");
    ASSERT_TRUE(manifest.ok);
    EXPECT_NE(std::find_if(manifest.lines.begin(), manifest.lines.end(),
                           [](const std::string& line) { return line.rfind("spectra\tnone: ", 0) == 0; }),
              manifest.lines.end());
}

}  // namespace
}  // namespace velmora::workbench
