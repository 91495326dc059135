// The indirect-dimension transform of States 2D runs: peak positions and signs in both dimensions,
// quadrature (no mirror peak), the extremes, the indirect window, zero filling, refusals, and a
// synthesis followed by the map.
#include "processing/map_2d.h"
#include "processing/synthesis.h"
#include "util/messages.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <vector>

namespace velmora::processing {
namespace {

constexpr double kTolerance = 1e-9;
constexpr int kPoints = 64;
constexpr double kIncrementMs = 1.0;  // indirect width 1000 Hz, 15.625 Hz per indirect point

// A 2D time-domain record whose channel-0 direct spectra hold, at direct point p (0-based), the
// indirect signal height * cos and height * sin of 2 pi f1 t1 in the runs 2k and 2k + 1.
struct Peak {
    int directPoint;
    double indirectHz;
    double height;
};

engine::SampleRecord statesRecord(int arraySize, const std::vector<Peak>& peaks)
{
    engine::SampleRecord record(kPoints, 2 * arraySize + 1);
    for (const Peak& peak : peaks) {
        for (int k = 0; k <= arraySize; ++k) {
            const double angle = 2.0 * std::numbers::pi * peak.indirectHz * k * kIncrementMs / 1000.0;
            record.at(1, peak.directPoint + 1, 2 * k) += peak.height * std::cos(angle);
            record.at(1, peak.directPoint + 1, 2 * k + 1) += peak.height * std::sin(angle);
        }
    }
    return record;
}

// Indirect index of f1: q = np/2 + f1 * np * t1 (positive indirect frequencies above the centre).
int indirectIndex(double hz)
{
    return kPoints / 2 + static_cast<int>(std::lround(hz * kPoints * kIncrementMs / 1000.0));
}

Map2D build(const engine::SampleRecord& record, util::Messages& messages, int arraySize, double lbHz = 0.0,
            const char* window = "Lorenz")
{
    Map2DInput in{.timeDomain = record, .messages = messages};
    in.pointCount = kPoints;
    in.arraySize = arraySize;
    in.lineBroadeningHz = lbHz;
    in.incrementMs = kIncrementMs;
    in.window = window;
    std::optional<Map2D> map = buildMap2D(in);
    if (!map)
        throw std::runtime_error("no map");
    return std::move(*map);
}

TEST(Map2DPeaks, StatesPairsGiveOnePeakPerSignWithTheRightExtremes)
{
    const int ni = kPoints - 1;
    const engine::SampleRecord record = statesRecord(ni, {{10, 125.0, 1.0}, {40, -250.0, -0.5}});
    util::RecordedMessages messages;
    const Map2D map = build(record, messages, ni);
    const int qPositive = indirectIndex(125.0);
    const int qNegative = indirectIndex(-250.0);
    ASSERT_EQ(qPositive, 40);
    ASSERT_EQ(qNegative, 16);
    for (int q = 0; q < kPoints; ++q) {
        for (int p = 0; p < kPoints; ++p) {
            double expected = 0.0;
            if (q == qPositive && p == 10)
                expected = 1.0;
            if (q == qNegative && p == 40)
                expected = -0.5;
            EXPECT_NEAR(map.at(q, p), expected, kTolerance) << "q " << q << " p " << p;
        }
    }
    EXPECT_NEAR(map.maximum, 1.0, kTolerance);
    EXPECT_NEAR(map.minimum, -0.5, kTolerance);
    EXPECT_TRUE(messages.entries.empty());
}

TEST(Map2DPeaks, ZeroFillingToNpScalesThePeakByTheSampledFraction)
{
    const int ni = kPoints / 2 - 1;  // 32 increments, transformed with 64 points
    const engine::SampleRecord record = statesRecord(ni, {{5, 125.0, 1.0}});
    util::RecordedMessages messages;
    const Map2D map = build(record, messages, ni);
    EXPECT_NEAR(map.at(indirectIndex(125.0), 5), 0.5, kTolerance);
    EXPECT_NEAR(map.maximum, 0.5, kTolerance);
}

TEST(Map2DPeaks, AnEmptyRecordGivesZeroExtremesNotTheStartValues)
{
    const engine::SampleRecord record(kPoints, 2 * 3 + 1);
    util::RecordedMessages messages;
    const Map2D map = build(record, messages, 3);
    EXPECT_EQ(map.maximum, 0.0);
    EXPECT_EQ(map.minimum, 0.0);
}

TEST(Map2DWindow, AnExponentialIndirectWindowLowersThePeakToItsMean)
{
    const int ni = kPoints - 1;
    const double lbHz = 20.0;
    const double a1 = lbHz * kIncrementMs / 1000.0;
    const engine::SampleRecord record = statesRecord(ni, {{7, 0.0, 1.0}});
    util::RecordedMessages messages;
    const Map2D map = build(record, messages, ni, lbHz, "Lorenz");
    // (1/np) sum over k of exp(-k a1): a geometric series.
    const double expected = (1.0 - std::exp(-kPoints * a1)) / (kPoints * (1.0 - std::exp(-a1)));
    EXPECT_NEAR(map.at(kPoints / 2, 7), expected, kTolerance);
}

TEST(Map2DWindow, OnlyTheExactNameGaussSelectsTheGaussianWindow)
{
    const int ni = kPoints - 1;
    const double lbHz = 20.0;
    const engine::SampleRecord record = statesRecord(ni, {{7, 0.0, 1.0}});
    util::RecordedMessages messages;
    const double lorenz = build(record, messages, ni, lbHz, "Lorenz").at(kPoints / 2, 7);
    const double lower = build(record, messages, ni, lbHz, "gauss").at(kPoints / 2, 7);
    const double gauss = build(record, messages, ni, lbHz, "Gauss").at(kPoints / 2, 7);
    EXPECT_DOUBLE_EQ(lower, lorenz);
    const double a1 = lbHz * kIncrementMs / 1000.0;
    double sum = 0.0;
    for (int k = 0; k <= ni; ++k)
        sum += std::exp(-(k * a1) * (k * a1));
    EXPECT_NEAR(gauss, sum / kPoints, kTolerance) << "(1/np) sum over k of exp(-(k a1)^2)";
}

TEST(Map2DRefusals, MoreIncrementsThanPointsAreRefusedWithAMessage)
{
    const engine::SampleRecord record(kPoints, 2 * kPoints + 1);
    util::RecordedMessages messages;
    Map2DInput in{.timeDomain = record, .messages = messages};
    in.pointCount = kPoints;
    in.arraySize = kPoints;  // Ni + 1 = np + 1
    EXPECT_FALSE(buildMap2D(in).has_value());
    ASSERT_EQ(messages.entries.size(), 1u);

    in.arraySize = kPoints - 1;
    in.pointCount = 48;
    EXPECT_FALSE(buildMap2D(in).has_value());
    ASSERT_EQ(messages.entries.size(), 2u);
    EXPECT_EQ(messages.entries[1].title, "Error!") << "the transform reports an unsupported length";
}

TEST(Map2DRefusals, ARecordWithoutTheRunsOfEveryIncrementIsRejected)
{
    const engine::SampleRecord record(kPoints, 4);
    util::RecordedMessages messages;
    Map2DInput in{.timeDomain = record, .messages = messages};
    in.pointCount = kPoints;
    in.arraySize = 2;  // needs runs 0..5
    EXPECT_THROW((void)buildMap2D(in), std::invalid_argument);
}

TEST(Map2DRefusals, AnIndirectBroadeningBeyondSinglePrecisionIsAnOverflowNotAMapOfNaN)
{
    const engine::SampleRecord record = statesRecord(3, {{7, 0.0, 1.0}});
    util::RecordedMessages messages;
    for (const char* window : {"Lorenz", "Gauss"})
        EXPECT_THROW((void)build(record, messages, 3, 1e200, window), std::overflow_error) << window;
    // A negative LB1 grows the exponential window: exp(3 x 3e5 x 1 ms) passes 1e308.
    EXPECT_THROW((void)build(record, messages, 3, -3e5, "Lorenz"), std::overflow_error);
    EXPECT_NO_THROW((void)build(record, messages, 3, -3e5, "Gauss")) << "exp(-k^2 a1^2) never grows";
    const Map2D broadest = build(record, messages, 3, 3.0e38, "Gauss");
    EXPECT_DOUBLE_EQ(broadest.at(kPoints / 2, 7), 1.0 / kPoints) << "the first increment alone";
}

TEST(Map2DThreads, TheMapIsTheSameOnAnyNumberOfThreads)
{
    const engine::SampleRecord record =
        statesRecord(20, {{5, 125.0, 1.0}, {40, -250.0, -0.5}, {63, 31.25, 2.0}});
    util::RecordedMessages messages;
    Map2DInput in{.timeDomain = record, .messages = messages};
    in.pointCount = kPoints;
    in.arraySize = 20;
    in.incrementMs = kIncrementMs;
    in.lineBroadeningHz = 3.0;
    const std::optional<Map2D> one = buildMap2D(in);
    ASSERT_TRUE(one.has_value());
    for (const int threads : {2, 3}) {
        in.threads = threads;
        const std::optional<Map2D> many = buildMap2D(in);
        ASSERT_TRUE(many.has_value());
        EXPECT_EQ(many->values, one->values) << threads << " threads";
        EXPECT_EQ(many->maximum, one->maximum);
        EXPECT_EQ(many->minimum, one->minimum);
    }
    EXPECT_GT(one->maximum, 0.1);  // the peaks are there: not a comparison of empty maps
}

TEST(Map2DProgress, EveryDirectPointIsAnnouncedInOrder)
{
    const engine::SampleRecord record(kPoints, 1);
    util::RecordedMessages messages;
    Map2DInput in{.timeDomain = record, .messages = messages};
    in.pointCount = kPoints;
    std::vector<int> seen;
    in.progress = [&seen](int p) { seen.push_back(p); };
    ASSERT_TRUE(buildMap2D(in).has_value());
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kPoints));
    for (int p = 0; p < kPoints; ++p)
        EXPECT_EQ(seen[static_cast<std::size_t>(p)], p);
}

TEST(Map2DSynthesis, ASynthesizedStatesRunPutsTheCrossPeakAtBothFrequencies)
{
    // One proton at +sw/4 in the direct dimension; the pulse sequence leaves cos and sin of an
    // indirect evolution at 125 Hz in the runs of each increment. sw = 512 Hz, so direct point
    // np/4 (0-based) holds the line.
    const int ni = kPoints - 1;
    const double directHz = 128.0;
    const double indirectHz = 125.0;
    engine::SpinTables spins;
    spins.count = 1;
    spins.slotState[0] = 1;
    spins.shiftHz[0] = directHz;
    spins.t2Ms[0] = 1000.0;
    engine::RecordedOperator ix;
    ix.operatorIndex = 1;
    engine::RecordedOperators recorded;
    recorded.add(ix);
    engine::DetectionRecord detection(0, 1, 2 * ni + 1);
    for (int k = 0; k <= ni; ++k) {
        const double angle = 2.0 * std::numbers::pi * indirectHz * k * kIncrementMs / 1000.0;
        detection.at(0, 0, 2 * k) = 1000.0 * std::cos(angle);
        detection.at(0, 0, 2 * k + 1) = 1000.0 * std::sin(angle);
    }
    const model::SequenceStep acquisition;
    const model::ElementTable elements;
    const std::vector<double> arrayed(static_cast<std::size_t>(2 * ni + 2), 0.0);
    util::RecordedMessages messages;
    SynthesisInput in{.spins = spins,
                      .acquisitionStep = acquisition,
                      .elements = elements,
                      .recorded = recorded,
                      .detection = detection,
                      .messages = messages};
    in.pointCount = kPoints;
    in.spectralWidthHz = 512.0;
    in.lineBroadeningHz = 0.0;
    in.arrayedValues = arrayed;
    in.runsPerValue = 2;
    in.lastRun = 2 * ni + 1;
    const std::optional<SynthesisResult> spectra = synthesizeSpectra(in);
    ASSERT_TRUE(spectra.has_value());

    const Map2D map = build(spectra->timeDomain, messages, ni);
    const int p = kPoints / 4;
    const int q = indirectIndex(indirectHz);
    EXPECT_NEAR(map.at(q, p), 1.0, kTolerance);
    EXPECT_NEAR(map.maximum, 1.0, kTolerance);
    EXPECT_NEAR(map.at(kPoints - q, p), 0.0, kTolerance) << "no quadrature image";
    EXPECT_NEAR(map.minimum, 0.0, kTolerance);
}

}  // namespace
}  // namespace velmora::processing
