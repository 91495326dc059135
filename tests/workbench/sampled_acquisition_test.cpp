// Signals sampled during an acquisition pulse, processed into spectra: with a silent pulse the
// sampled record is an ordinary FID, so "swift" alone must put every line where the synthesized
// pulse-acquire experiment of the same spins puts it.
#include "engine/step_routine.h"
#include "processing/peaks.h"
#include "support/largest_difference.h"
#include "support/scratch_directory.h"
#include "util/number_format.h"
#include "util/text_file.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/result_tables.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
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

    // A gapped HS1 sweep over +-400 Hz in np gaps of two pulse and two silent elements, weak enough
    // for the linear regime, replaces the silent pulse; the receiver listens in the silent elements.
    void sweptAcquisition(bool gapped = true, int kPerGap = 4)
    {
        const int kElements = kPoints * kPerGap;
        const double beta = 5.3;  // sech truncated at 1 %
        const double durationS = kPoints / kWidthHz;
        const double dtS = durationS / kElements;
        std::string shape = "# mother " + std::to_string(kPoints) + " #\r\n";
        double phaseCycles = 0.0;
        for (int i = 0; i < kElements; ++i) {
            const double tau = 2.0 * (i + 0.5) / kElements - 1.0;
            const double offsetHz = 400.0 * std::tanh(beta * tau);
            phaseCycles += offsetHz * dtS;
            const bool on = !gapped || i % kPerGap < kPerGap / 2;
            const double amplitude = on ? (gapped ? 0.4 : 0.2) / std::cosh(beta * tau) : 0.0;
            shape += std::to_string(std::fmod(phaseCycles, 1.0) * 360.0) + " " + std::to_string(amplitude) +
                     " 1\r\n";
        }
        dir.writeBytes("silent.rf", shape);
        ASSERT_TRUE(bench.sequence().setContent(1, 0, "none"));
        // With F samples computed per acquired point, sw is the element rate: F x 1000 Hz.
        bench.controls().setText(ctl::SpectralWidth, std::to_string(kPerGap * kWidthHz));
        bench.controls().setChecked(ctl::ReceiverGapping, gapped);
        bench.controls().setChecked(gapped ? ctl::Correlation : ctl::ContinSwift, true);
    }

    // The complex spectrum of run 0 of the last run.
    std::vector<std::complex<double>> spectrum() const
    {
        const engine::SampleRecord& spectra = bench.records().preparation->signal;
        std::vector<std::complex<double>> values(kPoints);
        for (int k = 1; k <= kPoints; ++k)
            values[static_cast<std::size_t>(k - 1)] = {spectra.at(1, k, 0), spectra.at(2, k, 0)};
        return values;
    }

    // The magnitude spectrum of run 0 of the last run.
    std::vector<double> magnitude() const
    {
        const engine::SampleRecord& spectra = bench.records().preparation->signal;
        std::vector<double> values(kPoints);
        for (int k = 1; k <= kPoints; ++k)
            values[static_cast<std::size_t>(k - 1)] = std::hypot(spectra.at(1, k, 0), spectra.at(2, k, 0));
        return values;
    }

    // The frequencies of the strongest magnitude peaks of run 0's spectrum, in ascending order.
    enum class Sweep { None, Gapped, Continuous };
    std::vector<double> lines(bool sampled, int count, Sweep sweep = Sweep::None)
    {
        sequence(sampled);
        if (sweep != Sweep::None)
            sweptAcquisition(sweep == Sweep::Gapped);
        EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed);
        // A second Start from the boxes the first one left gives the same record.
        EXPECT_EQ(bench.controls().text(ctl::AcquisitionTime), "256");
        EXPECT_TRUE(bench.records().spectraComputed);
        std::vector<double> found;
        for (const processing::SpectrumPeak& p : processing::strongestPeaks(magnitude(), kWidthHz, count))
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

// With several sampled runs the object-profile weighting puts the weighted sum of the other runs in
// the last run's place: the tables show the runs before it and that sum, not an invented last run.
TEST_F(SampledAcquisitionTest, SeveralRunsGiveTheRunsBeforeTheLastAndTheProfileSum)
{
    spins({0.5});
    sequence(true);
    bench.sequence().setArrayedParameter("d2");
    bench.controls().setText(ctl::ArraySize, "2");
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    const SpectraColumns columns = spectraColumns(bench);
    ASSERT_EQ(columns.runs.size(), 2u);
    ASSERT_TRUE(columns.sum.has_value());
    const engine::SampleRecord& spectra = bench.records().preparation->signal;
    for (int k = 1; k <= kPoints; ++k) {
        const double weighted = (columns.runs[0][1][static_cast<std::size_t>(k - 1)] +
                                 columns.runs[1][1][static_cast<std::size_t>(k - 1)]) /
                                1000.0;  // "square": weight 1, over 1000
        EXPECT_NEAR((*columns.sum)[1][static_cast<std::size_t>(k - 1)], weighted, 1e-9 * (1.0 + std::abs(weighted)));
        EXPECT_EQ((*columns.sum)[1][static_cast<std::size_t>(k - 1)], spectra.at(2, k, 2)) << "the last slot";
    }
    // spectra.tsv reads the same columns where the display holds them: runs 0 and 1, then the sum.
    ASSERT_TRUE(writeSpectraTable(bench, dir.path() / "spectra.tsv"));
    const util::TextFileContent table = util::readTextLines(dir.path() / "spectra.tsv");
    ASSERT_TRUE(table.ok);
    ASSERT_EQ(table.lines.size(), static_cast<std::size_t>(kPoints) + 1);
    for (int k = 1; k <= kPoints; ++k) {
        std::string expected = table.lines[static_cast<std::size_t>(k)].substr(
            0, table.lines[static_cast<std::size_t>(k)].find('\t'));
        for (const auto* parts : {&columns.runs[0], &columns.runs[1], &*columns.sum})
            for (const std::vector<double>& part : *parts)
                expected += "\t" + util::formatGeneral(part[static_cast<std::size_t>(k - 1)]);
        ASSERT_EQ(table.lines[static_cast<std::size_t>(k)], expected) << "line " << k;
    }
}

// The magnetisation tables of several sampled runs took the earlier runs off the weighted sum in the
// last run's place, as if it were their plain sum, and wrote that as the last run's column.
TEST_F(SampledAcquisitionTest, TheMagnetisationTablesOfSeveralSampledRunsLeaveTheSummedRunOut)
{
    spins({0.5});
    sequence(true);
    bench.sequence().setArrayedParameter("d2");
    bench.controls().setText(ctl::ArraySize, "2");
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    const engine::SampleRecord& time = bench.records().preparation->timeDomain;
    const util::TextFileContent x = util::readTextLines(dir.path() / "a_X.dat");
    const util::TextFileContent sum = util::readTextLines(dir.path() / "a_sum.dat");
    ASSERT_TRUE(x.ok);
    ASSERT_TRUE(sum.ok);
    ASSERT_EQ(x.lines.size(), static_cast<std::size_t>(kPoints));
    for (int k = 1; k <= kPoints; ++k) {
        const std::string expected = std::to_string(k) + "\t" +
                                     util::formatPattern(time.at(1, k, 0), "0.00") + "\t" +
                                     util::formatPattern(time.at(1, k, 1), "0.00");
        ASSERT_EQ(x.lines[static_cast<std::size_t>(k - 1)], expected) << "point " << k;
        const std::string summed =
            std::to_string(k) + "\t" + util::formatPattern(time.at(1, k, 2), "0.00") + "\t";
        ASSERT_TRUE(sum.lines[static_cast<std::size_t>(k - 1)].starts_with(summed))
            << "the weighted sum stays in a_sum.dat, point " << k;
    }
}

// In 2D the weighting writes the sum over the last run too; spectra.tsv listed it as that run's own.
TEST_F(SampledAcquisitionTest, ATwoDimensionalSampledRunListsTheProfileSumAsTheSum)
{
    spins({0.5});
    sequence(true);
    bench.sequence().setArrayedParameter("d2");
    bench.controls().setText(ctl::ArraySize, "1");
    bench.controls().setText(ctl::ArrayIncrement, "1");
    ASSERT_EQ(startExperiment(bench, true), StartOutcome::Completed);
    const SpectraColumns columns = spectraColumns(bench);
    ASSERT_EQ(columns.runs.size(), 3u) << "runs 0 to 2 of the four, the last being the sum";
    ASSERT_TRUE(columns.sum.has_value());
    const engine::SampleRecord& spectra = bench.records().preparation->signal;
    for (int k = 1; k <= kPoints; ++k) {
        double weighted = 0.0;  // "square": weight 1, over 1000
        for (const auto& run : columns.runs)
            weighted += run[0][static_cast<std::size_t>(k - 1)] / 1000.0;
        ASSERT_NEAR((*columns.sum)[0][static_cast<std::size_t>(k - 1)], weighted,
                    1e-9 * (1.0 + std::abs(weighted)));
        ASSERT_EQ((*columns.sum)[0][static_cast<std::size_t>(k - 1)], spectra.at(1, k, 3)) << "the last slot";
    }
}

TEST_F(SampledAcquisitionTest, TheModelSpectrumHasThePulseAcquireLines)
{
    spins({-1.5, 0.2, 1.8}, {{0, 1, 20.0}, {1, 2, 35.0}});
    for (int k = 0; k < 3; ++k)
        bench.spinSystem().setT2Ms(k, 60.0);
    bench.spinSystem().rebuild();
    bench.controls().setChecked(ctl::T2Relaxation, true);
    const std::vector<double> synthesized = lines(false, 6);
    bench.controls().setChecked(ctl::ModelSpectrum, true);
    const std::vector<double> modelled = lines(true, 6);
    ASSERT_EQ(modelled.size(), synthesized.size());
    for (std::size_t i = 0; i < modelled.size(); ++i)
        EXPECT_NEAR(modelled[i], synthesized[i], kWidthHz / kPoints) << "line " << i;
}

class SweptAcquisitionTest : public SampledAcquisitionTest, public ::testing::WithParamInterface<bool> {};

// Gapped: "swift" with "correlation"; continuous: "contin SWIFT" then "swift".
TEST_P(SweptAcquisitionTest, ProcessingASweepGivesThePulseAcquireSpectrum)
{
    const Sweep sweep = GetParam() ? Sweep::Gapped : Sweep::Continuous;
    spins({-1.5, 0.2, 1.8}, {{0, 1, 20.0}, {1, 2, 35.0}});
    for (int k = 0; k < 3; ++k)
        bench.spinSystem().setT2Ms(k, 60.0);
    bench.spinSystem().rebuild();
    bench.controls().setChecked(ctl::T2Relaxation, true);
    // First-order lines: each shift split by its two couplings (170 MHz, so 1 ppm is 170 Hz).
    std::vector<double> expected;
    const double shiftHz[3] = {-1.5 * 170.0, 0.2 * 170.0, 1.8 * 170.0};
    const double couplingHz[3][2] = {{20.0, 0.0}, {20.0, 35.0}, {35.0, 0.0}};
    for (int k = 0; k < 3; ++k)
        for (double a : {-0.5, 0.5})
            for (double b : {-0.5, 0.5})
                expected.push_back(shiftHz[k] + a * couplingHz[k][0] + b * couplingHz[k][1]);
    const auto nearest = [](const std::vector<double>& in, double f) {
        double best = 1e9;
        for (double g : in)
            best = std::min(best, std::abs(g - f));
        return best;
    };
    const std::vector<double> synthesized = lines(false, 6);
    const std::vector<double> synthesizedMagnitude = magnitude();
    const std::vector<std::complex<double>> synthesizedSpectrum = spectrum();
    const std::vector<double> swept = lines(true, 6, sweep);
    const std::vector<double> sweptMagnitude = magnitude();
    const std::vector<std::complex<double>> sweptSpectrum = spectrum();
    ASSERT_EQ(swept.size(), 6u);
    for (double f : swept)
        EXPECT_LE(nearest(expected, f), kWidthHz / kPoints) << "swept line at " << f;
    for (double f : synthesized)
        EXPECT_LE(nearest(expected, f), kWidthHz / kPoints) << "pulse-acquire line at " << f;
    // The same multiplet pattern: the magnitude spectra agree in shape.
    double both = 0.0, a2 = 0.0, b2 = 0.0;
    for (std::size_t i = 0; i < sweptMagnitude.size(); ++i) {
        both += sweptMagnitude[i] * synthesizedMagnitude[i];
        a2 += sweptMagnitude[i] * sweptMagnitude[i];
        b2 += synthesizedMagnitude[i] * synthesizedMagnitude[i];
    }
    EXPECT_GT(both / std::sqrt(a2 * b2), 0.9);
    std::complex<double> overlap = 0.0;
    for (std::size_t i = 0; i < sweptSpectrum.size(); ++i)
        overlap += sweptSpectrum[i] * std::conj(synthesizedSpectrum[i]);
    EXPECT_GT(std::abs(overlap) / std::sqrt(a2 * b2), 0.88)
        << "the sweep's phase is taken out (0.80 unmirrored) " << std::abs(overlap) / std::sqrt(a2 * b2);
}

INSTANTIATE_TEST_SUITE_P(GappedAndContinuous, SweptAcquisitionTest, ::testing::Bool());

// With four computed samples per acquired point (sw = 4000 Hz), the spectra span 1000 Hz: the
// table's frequency column runs from +500 Hz down.
TEST_F(SampledAcquisitionTest, TheSpectraTableOfASweepIsLabelledWithTheAcquiredWidth)
{
    spins({0.5});
    (void)lines(true, 1, Sweep::Gapped);
    ASSERT_TRUE(writeSpectraTable(bench, dir.path() / "spectra.tsv"));
    const util::TextFileContent table = util::readTextLines(dir.path() / "spectra.tsv");
    ASSERT_TRUE(table.ok);
    ASSERT_EQ(table.lines.size(), static_cast<std::size_t>(kPoints) + 1);
    EXPECT_EQ(table.lines[1].substr(0, table.lines[1].find('\t')), "500");
    EXPECT_EQ(table.lines[2].substr(0, table.lines[2].find('\t')), "496.09375");
}

// "swift2" keeps the record an FID until its end: with "correlation" alone it gives the spectrum
// "swift" gives, and leaves the correlated FID in the time-domain record; with "reference
// deconvolution" ticked as well it writes the correction it applied, one line per point.
TEST_F(SampledAcquisitionTest, Swift2WithCorrelationGivesTheSwiftSpectrum)
{
    spins({-1.5, 0.2, 1.8}, {{0, 1, 20.0}, {1, 2, 35.0}});
    (void)lines(true, 6, Sweep::Gapped);
    const std::vector<std::complex<double>> swift = spectrum();
    bench.controls().setChecked(ctl::Swift, false);
    bench.controls().setChecked(ctl::Swift2, true);
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    ASSERT_TRUE(bench.records().spectraComputed);
    const std::vector<std::complex<double>> swift2 = spectrum();
    const testing::Deviation d = testing::deviationFrom(swift, swift2);
    EXPECT_GT(d.largest, 0.0);
    EXPECT_LT(d.difference, 1e-9 * d.largest);
    EXPECT_NE(bench.records().preparation->timeDomain.at(1, 1, 0), bench.records().sampled->at(1, 1, 0))
        << "the time-domain record holds the correlated FID";

    bench.controls().setChecked(ctl::ReferenceDeconvolution, true);
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    EXPECT_TRUE(bench.records().spectraComputed);
    const util::TextFileContent table = util::readTextLines(dir.path() / "aRefDec.dat");
    ASSERT_TRUE(table.ok);
    EXPECT_EQ(table.lines.size(), static_cast<std::size_t>(kPoints));
}

// A proton at +85 Hz sampled under weak RF held 215 Hz below the carrier: the step routine turns
// it about the effective field, so its line moves up by about B1^2 / (2 x 300) Hz; "B-Scomp" puts
// it back at 85 Hz.
TEST_F(SampledAcquisitionTest, BlochSiegertCompensationUndoesTheShiftOfAnOffResonantField)
{
    spins({0.5});
    bench.spinSystem().setT2Ms(0, 60.0);
    bench.spinSystem().rebuild();
    bench.controls().setChecked(ctl::T2Relaxation, true);
    sequence(true);
    const model::PulseSequence& q = bench.sequence();
    const double b1PeakHz = engine::rfAmplitudeRadPerS(
                                engine::referenceValue(q.step(2).channels[0].power, q.elements(), "", 0.0)) /
                            (2.0 * 3.14159265358979);
    constexpr double kB1Hz = 60.0;
    ASSERT_GE(b1PeakHz, kB1Hz);
    // In the record's sense the conjugated pulse turns against its phase steps: +77.4 degrees per
    // 1 ms sample is RF at -215 Hz.
    std::string shape;
    for (int i = 0; i < kPoints; ++i)
        shape += std::to_string(std::fmod(77.4 * i, 360.0)) + " " +
                 std::to_string(1023.0 * kB1Hz / b1PeakHz) + " 1\r\n";
    dir.writeBytes("silent.rf", shape);
    bench.controls().setChecked(ctl::Swift, false);
    bench.controls().setChecked(ctl::Swift2, true);
    // The line's centre from the peak and its larger neighbour: the spectrum of a decaying line is
    // C / (1 - u w^i), w = exp(2 pi i / np), so 1 / value = alpha + beta w^i vanishes at the centre.
    const auto centreHz = [&] {
        EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed);
        const std::vector<std::complex<double>> s = spectrum();
        const std::vector<processing::SpectrumPeak> peak =
            processing::strongestPeaks(magnitude(), kWidthHz, 1);
        EXPECT_EQ(peak.size(), 1u);
        const int a = peak[0].point;
        const std::complex<double> w = std::polar(1.0, 2.0 * 3.14159265358979 / kPoints);
        const std::complex<double> wa = std::pow(w, a);
        const std::complex<double> ya = 1.0 / s[static_cast<std::size_t>(a)];
        const std::complex<double> beta = (1.0 / s[static_cast<std::size_t>(a + 1)] - ya) / (wa * (w - 1.0));
        double centre = std::arg(-(ya - beta * wa) / beta) * kPoints / (2.0 * 3.14159265358979);
        centre += kPoints * std::round((a - centre) / kPoints);
        return (kPoints / 2 - centre) * kWidthHz / kPoints;
    };
    const double shifted = centreHz();
    bench.controls().setChecked(ctl::BSCompensation, true);
    const double compensated = centreHz();
    // Steps of 77.4 degrees leave 0.93 of B1 at -215 Hz and put the rest one sample rate away:
    // about 5 Hz instead of the 6 Hz of a smooth sweep.
    EXPECT_GT(shifted - 85.0, 4.0);
    EXPECT_NEAR(compensated, 85.0, 0.1) << "shifted to " << shifted;
}

// Two gapped HS1 sweeps at once, over 100..400 Hz on either side, one at half the other's
// amplitude: taken whole, the correlation leaves the line in the weak band at about a quarter of
// the other; "MBSWIFT" weights each band by its own power and gives the pulse-acquire ratio.
TEST_F(SampledAcquisitionTest, MbswiftGivesEachBandOfATwoBandSweepItsOwnWeight)
{
    spins({-1.5, 1.8});  // -255 Hz and +306 Hz, one line in each band
    for (int k = 0; k < 2; ++k)
        bench.spinSystem().setT2Ms(k, 60.0);
    bench.spinSystem().rebuild();
    bench.controls().setChecked(ctl::T2Relaxation, true);
    const auto heights = [&] {
        EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed);
        const std::vector<double> m = magnitude();
        const auto near = [&](double hz) {
            double top = 0.0;
            for (int i = 0; i < kPoints; ++i)
                if (std::abs(processing::pointFrequencyHz(i, kPoints, kWidthHz) - hz) < 8.0)
                    top = std::max(top, m[static_cast<std::size_t>(i)]);
            return top;
        };
        return near(306.0) / near(-255.0);
    };
    const double pulseAcquire = (sequence(false), heights());

    sequence(true);
    sweptAcquisition();
    constexpr int kElements = kPoints * 4;
    const double dtS = kPoints / kWidthHz / kElements;
    std::string shape = "# mother " + std::to_string(kPoints) + " #\r\n";
    double lowCycles = 0.0, highCycles = 0.0;
    for (int i = 0; i < kElements; ++i) {
        const double tau = 2.0 * (i + 0.5) / kElements - 1.0;
        lowCycles += (-250.0 + 150.0 * std::tanh(5.3 * tau)) * dtS;
        highCycles += (250.0 + 150.0 * std::tanh(5.3 * tau)) * dtS;
        const double envelope = i % 4 < 2 ? 0.4 / std::cosh(5.3 * tau) : 0.0;
        const std::complex<double> rf =
            envelope * (std::polar(1.0, 2.0 * 3.14159265358979 * lowCycles) +
                        0.5 * std::polar(1.0, 2.0 * 3.14159265358979 * highCycles));
        shape += std::to_string(std::arg(rf) * 180.0 / 3.14159265358979) + " " +
                 std::to_string(std::abs(rf)) + " 1\r\n";
    }
    dir.writeBytes("silent.rf", shape);
    bench.controls().setChecked(ctl::Swift, false);
    bench.controls().setChecked(ctl::Swift2, true);
    bench.controls().setText(ctl::ProcessingBox21, "0.05");  // band edges at 5 % of the peak power
    const double whole = heights();
    bench.controls().setChecked(ctl::MultiBandSwift, true);
    const double byBand = heights();
    // The record turns against the pulse's phase steps, so the full-amplitude sweep written at
    // -250 Hz excites the band around +250 Hz: the +306 Hz line comes out about four times the other.
    EXPECT_GT(whole / pulseAcquire, 2.5);
    EXPECT_NEAR(byBand / pulseAcquire, 1.0, 0.2) << byBand << " " << pulseAcquire;
}

TEST_F(SampledAcquisitionTest, ARefusedStepLeavesTheRunWithoutSpectraAndSaysWhy)
{
    spins({0.5});
    (void)lines(false, 1);  // spectra of an earlier run
    ASSERT_TRUE(util::fileExists(dir.path() / "aFT_XY.dat"));
    sequence(true);
    bench.controls().setChecked(ctl::LoadExperimentalData, true);  // "nylon" is not in the folder
    EXPECT_EQ(startExperiment(bench, false), StartOutcome::StepRefused);
    EXPECT_FALSE(bench.records().spectraComputed);
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_NE(messages.entries.back().text.find("nylon"), std::string::npos);
    EXPECT_FALSE(util::fileExists(dir.path() / "aFT_XY.dat")) << "no earlier spectrum looks current";
    const util::TextFileContent manifest = util::readTextLines(dir.path() / "run-manifest.txt");
    ASSERT_TRUE(manifest.ok);
    EXPECT_NE(std::find_if(manifest.lines.begin(), manifest.lines.end(),
                           [](const std::string& line) { return line.rfind("spectra\tnone: ", 0) == 0; }),
              manifest.lines.end());
    EXPECT_NE(std::find_if(manifest.lines.begin(), manifest.lines.end(),
                           [](const std::string& line) {
                               return line.rfind("ended\trefused: ", 0) == 0 && line.find("nylon") != std::string::npos;
                           }),
              manifest.lines.end());
}


// A silent shape of 256 elements without "# mother" under boxes left at np 1024 and at 1024 ms
// (sw 1000 Hz): the shape fixes np at 256 and the step samples once per 1 ms element, so the
// proton at 0.5 ppm (85 Hz) lands in the point nearest 85 Hz, and the untransformed record turns
// at 85 Hz.
TEST_F(SampledAcquisitionTest, AShapeWithoutMotherSamplesOncePerElementWhateverAtHeld)
{
    spins({0.5});
    for (const bool swift : {true, false}) {
        sequence(true);
        bench.controls().setChecked(ctl::Swift, swift);
        bench.controls().setText(ctl::PointCount, "1024");
        bench.controls().setText(ctl::AcquisitionTime, "1024");
        ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
        if (swift) {
            const std::vector<processing::SpectrumPeak> peaks =
                processing::strongestPeaks(magnitude(), kWidthHz, 1);
            ASSERT_EQ(peaks.size(), 1u);
            EXPECT_NEAR(peaks[0].frequencyHz, 85.0, kWidthHz / kPoints / 2.0);
        } else {
            const util::TextFileContent table = util::readTextLines(dir.path() / "a_last_freq.dat");
            ASSERT_TRUE(table.ok);
            ASSERT_GE(table.lines.size(), 3u);
            EXPECT_NEAR(std::stod(table.lines[2].substr(table.lines[2].find('\t') + 1)), 85.0, 1.0);
        }
    }
}

// Every step of the chain at the boxes' values of a new file, one at a time on the gapped sweep
// example, gives spectra ("Load experimental data:" needs the user's data file and is left out).
TEST_F(SampledAcquisitionTest, EveryChainStepAtItsDesignerValuesGivesSpectra)
{
    for (const char* name : {"swift_gapped.mol", "swift_gapped.psq", "hs1_gapped_acq.RF"})
        std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / name, dir.path() / name);
    const model::ControlId steps[] = {ctl::ModelSpectrum,    ctl::ContinSwift,  ctl::SweepWaveform,
                                      ctl::LinearPrediction, ctl::Noise,        ctl::PlotVectorEvolution,
                                      ctl::Correlation,      ctl::RampCorrection, ctl::Swift2,
                                      ctl::ReferenceDeconvolution, ctl::BSCompensation,
                                      ctl::MultiBandSwift,   ctl::ReSort};
    for (const model::ControlId step : steps) {
        ASSERT_TRUE(openMolecule(bench, "swift_gapped.mol").wasRead());
        ASSERT_TRUE(openSequence(bench, "swift_gapped.psq").wasRead());
        const model::Controls designer;
        for (const int box : {18, 20, 21, 4, 10})
            EXPECT_EQ(bench.controls().text({"Text14", box}), designer.text({"Text14", box})) << box;
        bench.controls().setChecked(ctl::ReceiverGapping, true);
        const std::string named = model::Controls::nameOf(step);
        const bool underSwift2 = named == model::Controls::nameOf(ctl::ReferenceDeconvolution) ||
                                 named == model::Controls::nameOf(ctl::BSCompensation) ||
                                 named == model::Controls::nameOf(ctl::MultiBandSwift);
        bench.controls().setChecked(underSwift2 ? ctl::Swift2 : ctl::Swift, true);
        bench.controls().setChecked(step, true);
        EXPECT_EQ(startExperiment(bench, false), StartOutcome::Completed) << named;
        EXPECT_TRUE(bench.records().spectraComputed) << named;
        bench.controls().setChecked(step, false);
        bench.controls().setChecked(underSwift2 ? ctl::Swift2 : ctl::Swift, false);
    }
}

// The spectrum of a swept acquisition against the transform of the ideal pulse-acquire FID of the
// same lines, written here: every line in the band within one point of its place and, once one
// common zero-order phase is taken out, within 10 degrees of its phase. Gapped sweeps with 4 and 8
// computed samples per acquired point, T2 30 ms, with and without "ramp correction".
class SweptPhaseTest : public SampledAcquisitionTest,
                       public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(SweptPhaseTest, EveryLineHasThePulseAcquirePlaceAndPhase)
{
    const auto [perPoint, ramp] = GetParam();
    const std::vector<double> ppm = {-1.9, -1.0, -0.1, 0.8, 1.7};
    spins(ppm);
    for (int k = 0; k < static_cast<int>(ppm.size()); ++k)
        bench.spinSystem().setT2Ms(k, 30.0);
    bench.spinSystem().rebuild();
    bench.controls().setChecked(ctl::T2Relaxation, true);
    sequence(true);
    sweptAcquisition(true, perPoint);
    bench.controls().setChecked(ctl::RampCorrection, ramp);
    ASSERT_EQ(startExperiment(bench, false), StartOutcome::Completed);
    ASSERT_TRUE(bench.records().spectraComputed);
    const std::vector<std::complex<double>> swept = spectrum();
    // The ideal FID, x(n) = sum of exp((2 pi i f - 1 / T2) n / 1000 Hz), by a direct transform;
    // point k holds (np/2 + 1 - k) x 1000 Hz / np (the spectra run from +sw/2 down).
    constexpr double kPi = 3.14159265358979323846;
    std::vector<std::complex<double>> ideal(kPoints);
    for (int k = 0; k < kPoints; ++k)
        for (int n = 0; n < kPoints; ++n)
            for (double p : ppm)
                ideal[static_cast<std::size_t>(k)] +=
                    std::exp(std::complex<double>(-n / kWidthHz / 0.030,
                                                  2.0 * kPi * n * (p * 170.0 / kWidthHz +
                                                                   static_cast<double>(k - kPoints / 2) / kPoints)));
    const auto peakNear = [](const std::vector<std::complex<double>>& s, int around) {
        int best = around;
        for (int k = around - 3; k <= around + 3; ++k)
            if (std::abs(s[static_cast<std::size_t>(k)]) > std::abs(s[static_cast<std::size_t>(best)]))
                best = k;
        return best;
    };
    std::vector<double> phaseDeg;
    std::complex<double> common;
    for (double p : ppm) {
        const int expected = kPoints / 2 - static_cast<int>(std::lround(p * 170.0 / kWidthHz * kPoints));
        const int k = peakNear(ideal, expected);
        EXPECT_LE(std::abs(peakNear(swept, k) - k), 1) << "line at " << p * 170.0 << " Hz";
        const std::complex<double> turn = swept[static_cast<std::size_t>(k)] / ideal[static_cast<std::size_t>(k)];
        common += turn / std::abs(turn);
        phaseDeg.push_back(std::arg(turn) * 180.0 / kPi);
    }
    // Each line within 10 degrees of the common phase, and what is left no ramp across the band
    // (a whole dwell taken for the timing left half an element: -45 degrees over sw at F = 4).
    const double commonDeg = std::arg(common) * 180.0 / kPi;
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (std::size_t l = 0; l < ppm.size(); ++l) {
        const double residual = std::remainder(phaseDeg[l] - commonDeg, 360.0);
        EXPECT_LE(std::abs(residual), 10.0) << "line at " << ppm[l] * 170.0 << " Hz";
        const double x = ppm[l] * 170.0 / kWidthHz;
        sx += x;
        sy += residual;
        sxx += x * x;
        sxy += x * residual;
    }
    const double n = static_cast<double>(ppm.size());
    EXPECT_LE(std::abs((n * sxy - sx * sy) / (n * sxx - sx * sx)), 10.0) << "degrees over sw";
}

INSTANTIATE_TEST_SUITE_P(FourAndEightSamplesPerPoint, SweptPhaseTest,
                         ::testing::Combine(::testing::Values(4, 8), ::testing::Bool()));

}  // namespace
}  // namespace velmora::workbench
