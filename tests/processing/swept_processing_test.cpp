// The corrections of spectra recorded during a swept pulse, each checked against a spectrum built
// independently from a sum of damped lines: the phase-ramp removal, reference deconvolution, the
// Bloch-Siegert compensation and the band-wise correlation of a multi-band pulse.
#include "processing/bloch_siegert_compensation.h"
#include "processing/centred_spectrum.h"
#include "processing/multi_band_swift.h"
#include "processing/phase_step.h"
#include "processing/ramp_correction.h"
#include "processing/reference_deconvolution.h"
#include "processing/run_transform.h"
#include "util/number_format.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::processing {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPoints = 256;
constexpr double kWidthHz = 1000.0;

struct Line {
    double hz;
    double amplitude;
    double fwhmHz;
};

// The FID of the lines in the sense of the processed records: a line at +f turns as exp(+2 pi i f t).
engine::SampleRecord fidOf(const std::vector<Line>& lines)
{
    engine::SampleRecord record(kPoints, 0);
    for (int n = 0; n < kPoints; ++n) {
        const double t = n / kWidthHz;
        std::complex<double> value;
        for (const Line& l : lines)
            value += l.amplitude * std::exp(std::complex<double>(-kPi * l.fwhmHz * t, 2.0 * kPi * l.hz * t));
        record.at(1, n + 1, 0) = value.real();
        record.at(2, n + 1, 0) = value.imag();
    }
    return record;
}

engine::SampleRecord spectrumOf(const std::vector<Line>& lines)
{
    engine::SampleRecord record = fidOf(lines);
    util::RecordedMessages messages;
    EXPECT_TRUE(transformRun(record, 0, kPoints, false, "n", "y", messages));
    return record;
}

double largestDifference(const engine::SampleRecord& a, const engine::SampleRecord& b)
{
    double difference = 0.0;
    for (int k = 1; k <= kPoints; ++k)
        difference =
            std::max(difference, std::hypot(a.at(1, k, 0) - b.at(1, k, 0), a.at(2, k, 0) - b.at(2, k, 0)));
    return difference;
}

double largestValue(const engine::SampleRecord& a)
{
    double largest = 0.0;
    for (int k = 1; k <= kPoints; ++k)
        largest = std::max(largest, std::hypot(a.at(1, k, 0), a.at(2, k, 0)));
    return largest;
}

// Lines a coupled three-spin system might give, off the point grid, decayed within the record.
const std::vector<Line> kMultiplets = {{-265.3, 1.0, 12.0}, {-244.9, 0.9, 12.0}, {18.2, 0.7, 12.0},
                                       {37.7, 0.8, 12.0},   {53.4, 0.6, 12.0},   {311.1, 1.0, 12.0},
                                       {346.6, 0.95, 12.0}};

// A delay of d dwells turns point k by 2 pi d (k - np/2 - 1) / np: the phase step with a = 2 pi d.
TEST(RampCorrection, ARampOfWholeAndPartDwellsComesBackAbsorptive)
{
    const engine::SampleRecord flat = spectrumOf(kMultiplets);
    util::RecordedMessages messages;
    for (const double dwells : {2.0, -1.0, 1.3}) {
        engine::SampleRecord ramped = flat;
        applyPhaseStep(ramped, 0, kPoints, 2.0 * kPi * dwells, 0.87);
        PhaseRamp found;
        ASSERT_TRUE(correctPhaseRamp(ramped, 0, kPoints, found, messages));
        EXPECT_NEAR(found.delayDwells, dwells, 0.005) << dwells;
        // Lines decayed to 0.006 % by the end leave next to nothing before the start; 0.005 dwell
        // would leave 0.016 rad at the spectrum's ends: 2 % of the tallest line.
        EXPECT_LT(largestDifference(ramped, flat), 0.02 * largestValue(flat)) << dwells;
    }
}

// Under the smooth power profile of a correlation the correction takes whole dwells only (the
// chain's phase step has placed the record to within a fraction): a spectrum delayed by one or two
// dwells comes back as it was (up to one zero-order phase), and one already in place stays.
TEST(RampCorrection, UnderAPowerProfileWholeDwellsComeBack)
{
    std::vector<double> profile(kPoints);
    engine::SampleRecord flat =
        spectrumOf({{-300.0, 1.0, 10.0}, {-120.0, 0.8, 10.0}, {40.0, 1.0, 10.0}, {210.0, 0.9, 10.0}});
    for (int k = 1; k <= kPoints; ++k) {
        profile[static_cast<std::size_t>(k - 1)] = std::exp(-std::pow((k - kPoints / 2 - 1) / 90.0, 4.0));
        for (int c = 1; c <= 2; ++c)
            flat.at(c, k, 0) *= profile[static_cast<std::size_t>(k - 1)];
    }
    util::RecordedMessages messages;
    for (const int dwells : {0, 1, -2}) {
        engine::SampleRecord ramped = flat;
        applyPhaseStep(ramped, 0, kPoints, 2.0 * kPi * dwells, 0.0);
        PhaseRamp found;
        ASSERT_TRUE(correctPhaseRamp(ramped, 0, kPoints, found, messages, profile));
        EXPECT_EQ(found.delayDwells, dwells);
        std::complex<double> common;
        for (int k = 1; k <= kPoints; ++k)
            common += std::complex<double>(ramped.at(1, k, 0), ramped.at(2, k, 0)) *
                      std::complex<double>(flat.at(1, k, 0), -flat.at(2, k, 0));
        applyPhaseStep(ramped, 0, kPoints, 0.0, std::arg(common));
        EXPECT_LT(largestDifference(ramped, flat), 1e-9 * largestValue(flat)) << dwells;
    }
}

ComplexSamples samplesOf(const engine::SampleRecord& record)
{
    ComplexSamples values(kPoints);
    for (int k = 1; k <= kPoints; ++k)
        values[static_cast<std::size_t>(k - 1)] = {record.at(1, k, 0), record.at(2, k, 0)};
    return values;
}

double largestDifference(const ComplexSamples& a, const ComplexSamples& b)
{
    double difference = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference = std::max(difference, std::abs(a[i] - b[i]));
    return difference;
}

double largestValue(const ComplexSamples& a)
{
    double largest = 0.0;
    for (const std::complex<double>& x : a)
        largest = std::max(largest, std::abs(x));
    return largest;
}

TEST(ReferenceDeconvolution, LinesOfTheWrongWidthTakeTheChosenOne)
{
    util::RecordedMessages messages;
    const auto lines = [](double fwhmHz) {
        return std::vector<Line>{{-212.0, 0.6, fwhmHz}, {47.3, 0.5, fwhmHz}, {301.6, 1.0, fwhmHz}};
    };
    ComplexSamples fid = samplesOf(fidOf(lines(12.0)));
    ReferenceLine reference;
    std::vector<std::string> table;
    ASSERT_TRUE(deconvolveReferenceLine(fid, 1.0 / kWidthHz, 4.0, reference, table, messages));
    EXPECT_NEAR(reference.frequencyHz, 301.6, 0.5);
    ASSERT_EQ(table.size(), static_cast<std::size_t>(kPoints));
    EXPECT_EQ(table[0].substr(0, 2), "1\t");
    ComplexSamples corrected, wanted;
    ASSERT_TRUE(toCentredSpectrum(fid, corrected, messages));
    ASSERT_TRUE(toCentredSpectrum(samplesOf(fidOf(lines(4.0))), wanted, messages));
    // The other lines' tails under the reference are taken off as a straight line, which leaves
    // about 3 % of the tallest line in the correction here; a wrong width leaves over 50 %.
    EXPECT_LT(largestDifference(corrected, wanted), 0.05 * largestValue(wanted));
    ComplexSamples before;
    ASSERT_TRUE(toCentredSpectrum(samplesOf(fidOf(lines(12.0))), before, messages));
    EXPECT_GT(largestDifference(before, wanted), 0.5 * largestValue(wanted)) << "the widths were far apart";
}

TEST(BlochSiegertCompensation, LinesMovedByAnOffResonantFieldComeBack)
{
    // RF of 40 Hz held 300 Hz below the carrier, 16 samples per point (in the record's sense a
    // phase step of +6.75 degrees per sample turns the conjugated pulse at -300 Hz): a line at f
    // moves by 40^2 / (2 (f + 300)); steps this small leave 99.9 % of the power at -300 Hz.
    constexpr int kSamples = 16;
    pulses::AcquisitionPulseTables pulse;
    pulse.sweep.assign(kSamples * kPoints + 1, {1.0, 6.75});
    pulse.sweep[1][1] = 0.0;  // the first sample has no step, as in prepared tables
    const double dwellS = 1.0 / kWidthHz;
    EXPECT_NEAR(blochSiegertShiftHz(100.0, pulse, kSamples, dwellS, 40.0), 1600.0 / (2.0 * 400.0), 0.005);
    EXPECT_NEAR(blochSiegertShiftHz(-450.0, pulse, kSamples, dwellS, 40.0), 1600.0 / (2.0 * -150.0), 0.01);

    const std::vector<Line> truth = {{100.0, 1.0, 6.0}, {-150.0, 0.8, 6.0}, {350.0, 0.6, 6.0}};
    std::vector<Line> shifted = truth;
    for (Line& l : shifted)
        l.hz += blochSiegertShiftHz(l.hz, pulse, kSamples, dwellS, 40.0);
    ComplexSamples fid = samplesOf(fidOf(shifted));
    std::vector<std::string> table;
    util::RecordedMessages messages;
    ASSERT_TRUE(compensateBlochSiegertShift(fid, dwellS, pulse, kSamples, 40.0, table, messages));
    ASSERT_EQ(table.size(), static_cast<std::size_t>(kPoints));
    EXPECT_EQ(table[0].substr(0, 6), "1\t500\t");
    ComplexSamples corrected, wanted, before;
    ASSERT_TRUE(toCentredSpectrum(fid, corrected, messages));
    ASSERT_TRUE(toCentredSpectrum(samplesOf(fidOf(truth)), wanted, messages));
    ASSERT_TRUE(toCentredSpectrum(samplesOf(fidOf(shifted)), before, messages));
    // The shift changes by under 1 % across a line, which stretches its shape as little.
    EXPECT_LT(largestDifference(corrected, wanted), 0.02 * largestValue(wanted));
    EXPECT_GT(largestDifference(before, wanted), 0.3 * largestValue(wanted)) << "shifts of 1 to 5 Hz";
}

// A pulse of two bands, the second with a quarter of the first's power, each with its own sweep
// phase: band by band both come out at full height, taken whole the second at a quarter.
TEST(MultiBandSwift, EachBandIsWeightedByItsOwnPower)
{
    pulses::AcquisitionPulseTables pulse;
    pulse.spectrum.assign(kPoints + 1, {});
    for (int row = 1; row <= kPoints; ++row) {
        const double size = row >= 40 && row <= 90 ? 1.0 : row >= 160 && row <= 220 ? 0.5 : 0.0;
        const double phase = 0.002 * (row - 128) * (row - 128);
        pulse.spectrum[static_cast<std::size_t>(row)] = {size * std::cos(phase), size * std::sin(phase), size,
                                                         0.0};
    }
    // Lines at 230 Hz and -250 Hz, in the mirrored rows of the two bands.
    util::RecordedMessages messages;
    ComplexSamples lines;
    ASSERT_TRUE(
        toCentredSpectrum(samplesOf(fidOf({{-230.0, 1.0, 6.0}, {250.0, 1.0, 6.0}})), lines, messages));
    // The record: the spectrum times the pulse as the record sees it, one dwell later.
    ComplexSamples recorded = lines;
    for (int i = 0; i < kPoints; ++i)
        recorded[static_cast<std::size_t>(i)] *= recordedPulseSpectrum(pulse, i, kPoints) *
                                                 std::polar(1.0, (0.5 - (i + 1.0) / kPoints) * 2.0 * kPi);
    ComplexSamples fid;
    ASSERT_TRUE(toFid(recorded, fid, messages));
    const std::vector<PulseBand> bands = pulseBands(pulse, kPoints, 0.01);
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_NEAR(std::min(bands[0].peakPower, bands[1].peakPower), 0.25, 1e-12);
    EXPECT_NEAR(std::max(bands[0].peakPower, bands[1].peakPower), 1.0, 1e-12);

    ComplexSamples byBand = fid, whole = fid, outBands, outWhole;
    const SamplingPhase oneDwell{2.0 * kPi, 0.0};
    ASSERT_TRUE(correlateBands(byBand, pulse, oneDwell, bands, messages));
    ASSERT_TRUE(correlateBands(whole, pulse, oneDwell, wholePulse(pulse, kPoints), messages));
    ASSERT_TRUE(toCentredSpectrum(byBand, outBands, messages));
    ASSERT_TRUE(toCentredSpectrum(whole, outWhole, messages));
    for (const PulseBand& band : bands) {
        const double weight = band.peakPower < 0.5 ? 0.25 : 1.0;
        for (int i = band.first; i <= band.last; ++i) {
            const auto at = static_cast<std::size_t>(i);
            EXPECT_LT(std::abs(outBands[at] - lines[at]), 1e-12) << i;
            EXPECT_LT(std::abs(outWhole[at] - weight * lines[at]), 1e-12) << i;
        }
    }
    EXPECT_LT(std::abs(outBands[10]), 1e-15) << "outside every band";
}

}  // namespace
}  // namespace velmora::processing
