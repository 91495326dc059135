// The corrections of spectra recorded during a swept pulse, each checked against a spectrum built
// independently from a sum of damped lines: the phase-ramp removal, reference deconvolution, the
// Bloch-Siegert compensation and the band-wise correlation of a multi-band pulse.
#include "processing/centred_spectrum.h"
#include "processing/phase_step.h"
#include "processing/ramp_correction.h"
#include "processing/reference_deconvolution.h"
#include "processing/run_transform.h"

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
        difference = std::max(difference, std::hypot(a.at(1, k, 0) - b.at(1, k, 0), a.at(2, k, 0) - b.at(2, k, 0)));
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

}  // namespace
}  // namespace velmora::processing
