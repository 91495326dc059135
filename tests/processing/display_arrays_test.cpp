// The display arrays: copies of the viewed data set with magnitude, the zero- and first-order phase
// correction on the copy, one-run rebuilds, the pulse views and the 2D map flag.
#include "processing/display_arrays.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <stdexcept>

namespace velmora::processing {
namespace {

constexpr double kTolerance = 1e-12;
constexpr int kPoints = 16;
constexpr int kLastRun = 1;

// Distinct values in every component, point and run, so a copy from the wrong place shows.
engine::SampleRecord patterned(double scale)
{
    engine::SampleRecord record(kPoints, kLastRun);
    for (int run = 0; run <= kLastRun; ++run) {
        for (int p = 1; p <= kPoints; ++p) {
            record.at(1, p, run) = scale * (1.0 + p + 100.0 * run);
            record.at(2, p, run) = scale * (0.5 - 2.0 * p + 30.0 * run);
            record.at(3, p, run) = -999.0;  // never read: the builder computes the magnitude
        }
    }
    return record;
}

class DisplayArraysTest : public ::testing::Test {
protected:
    DisplayArrays::BuildRequest request(const char* mode, bool all = true)
    {
        DisplayArrays::BuildRequest r{.signal = signal, .timeDomain = timeDomain};
        r.viewMode = mode;
        r.allRuns = all;
        r.pointCount = kPoints;
        r.lastRun = kLastRun;
        return r;
    }

    void expectEqualsSource(const engine::SampleRecord& source, int run)
    {
        for (int i = 0; i < kPoints; ++i) {
            const double x = source.at(1, i + 1, run);
            const double y = source.at(2, i + 1, run);
            EXPECT_NEAR(display.at(run, 0, i), x, kTolerance) << "run " << run << " point " << i;
            EXPECT_NEAR(display.at(run, 1, i), y, kTolerance);
            EXPECT_NEAR(display.at(run, 2, i), std::hypot(x, y), kTolerance);
        }
    }

    engine::SampleRecord signal = patterned(1.0);
    engine::SampleRecord timeDomain = patterned(-3.0);
    DisplayArrays display;
};

TEST_F(DisplayArraysTest, WithoutPhaseTheArrayIsTheSourceWithItsModulus)
{
    ASSERT_FALSE(display.build(request("signalspec")));
    EXPECT_EQ(display.pointCount(), kPoints);
    EXPECT_EQ(display.lastRun(), kLastRun);
    for (int run = 0; run <= kLastRun; ++run)
        expectEqualsSource(signal, run);

    ASSERT_FALSE(display.build(request("signalfid")));
    for (int run = 0; run <= kLastRun; ++run)
        expectEqualsSource(timeDomain, run);
}

TEST_F(DisplayArraysTest, NinetyDegreesOfZeroOrderPhaseTurnsXYIntoYMinusX)
{
    DisplayArrays::BuildRequest r = request("signalspec");
    r.lp = 9.0;  // 10 lp = 90 degrees
    ASSERT_FALSE(display.build(r));
    for (int run = 0; run <= kLastRun; ++run) {
        for (int i = 0; i < kPoints; ++i) {
            const double x = signal.at(1, i + 1, run);
            const double y = signal.at(2, i + 1, run);
            EXPECT_NEAR(display.at(run, 0, i), y, 1e-12 * std::abs(x) + kTolerance);
            EXPECT_NEAR(display.at(run, 1, i), -x, 1e-12 * std::abs(y) + kTolerance);
            EXPECT_NEAR(display.at(run, 2, i), std::hypot(x, y), kTolerance) << "the modulus is not phased";
        }
    }
}

TEST_F(DisplayArraysTest, FirstOrderPhaseIsZeroAtPointHalfNpMinusOneAndGrowsOneDegreePerPointBelow)
{
    for (int p = 1; p <= kPoints; ++p) {
        signal.at(1, p, 0) = 1.0;
        signal.at(2, p, 0) = 0.0;
    }
    DisplayArrays::BuildRequest r = request("signalspec");
    r.rp = 10.0;
    ASSERT_FALSE(display.build(r));
    for (int i = 0; i < kPoints; ++i) {
        // (1, 0) times exp(-i phi) is (cos phi, -sin phi).
        const double phaseDegrees =
            std::atan2(-display.at(0, 1, i), display.at(0, 0, i)) * 180.0 / std::numbers::pi;
        EXPECT_NEAR(phaseDegrees, kPoints / 2 - 1 - i, 1e-9) << "point " << i;
    }
}

TEST_F(DisplayArraysTest, APhaseFarBeyondTheBarsTurnsByItsAngleModuloWholeTurns)
{
    // lp 9 + 36 x 1000 is 90 degrees plus 1000 turns; rp 3600 x 1000 turns every point by whole turns.
    DisplayArrays::BuildRequest r = request("signalspec");
    r.lp = 9.0 + 36.0 * 1000.0;
    r.rp = 3600.0 * 1000.0;
    ASSERT_FALSE(display.build(r));
    for (int i = 0; i < kPoints; ++i) {
        EXPECT_NEAR(display.at(0, 0, i), signal.at(2, i + 1, 0), 1e-9);
        EXPECT_NEAR(display.at(0, 1, i), -signal.at(1, i + 1, 0), 1e-9);
    }
    // So large that the angle itself overflows: still a rotation, which keeps every modulus.
    r.lp = 1e308;
    r.rp = -1e308;
    ASSERT_FALSE(display.build(r));
    for (int i = 0; i < kPoints; ++i)
        EXPECT_NEAR(std::hypot(display.at(1, 0, i), display.at(1, 1, i)), display.at(1, 2, i), 1e-9)
            << "point " << i;
}

TEST_F(DisplayArraysTest, ThePhaseActsOnAFreshCopySoRebuildingWithoutItRestoresTheSource)
{
    DisplayArrays::BuildRequest phased = request("signalspec");
    phased.lp = 4.5;
    phased.rp = -30.0;
    ASSERT_FALSE(display.build(phased));
    DisplayArrays::BuildRequest plain = request("signalspec", false);
    plain.currentRun = 1;
    ASSERT_FALSE(display.build(plain));
    expectEqualsSource(signal, 1);
    EXPECT_GT(std::abs(display.at(0, 0, 0) - signal.at(1, 1, 0)), 0.5) << "run 0 keeps its phase";
}

TEST_F(DisplayArraysTest, AOneRunRebuildTouchesOnlyThatRunAndKeepsTheArraysPointCount)
{
    ASSERT_FALSE(display.build(request("signalspec")));
    signal = patterned(2.0);
    DisplayArrays::BuildRequest r = request("signalspec", false);
    r.currentRun = 1;
    r.pointCount = 2 * kPoints;  // changed on the form since the run: no effect until the next run
    ASSERT_FALSE(display.build(r));
    EXPECT_EQ(display.pointCount(), kPoints);
    expectEqualsSource(signal, 1);
    EXPECT_NEAR(display.at(0, 0, 3), patterned(1.0).at(1, 4, 0), kTolerance);
}

TEST_F(DisplayArraysTest, PulseViewsWithoutAnAcquisitionPulseLeaveTheArrayAsItWas)
{
    ASSERT_FALSE(display.build(request("signalspec")));
    for (const char* mode : {"pulsefid", "pulsespec"}) {
        DisplayArrays::BuildRequest r = request(mode, false);
        r.currentRun = 0;
        ASSERT_FALSE(display.build(r));
        expectEqualsSource(signal, 0);
    }
}

TEST_F(DisplayArraysTest, PulseViewsCopyTheWaveformAndTheSpectrumOfTheAcquisitionPulse)
{
    pulses::AcquisitionPulseTables pulse;
    pulse.waveform.assign(kPoints + 1, {0.0, 0.0, 0.0, 0.0});
    pulse.spectrum.assign(kPoints + 1, {0.0, 0.0, 0.0, 0.0});
    for (int i = 1; i <= kPoints; ++i) {
        pulse.waveform[static_cast<std::size_t>(i)] = {3.0, 4.0, -1.0, -1.0};
        pulse.spectrum[static_cast<std::size_t>(i)] = {-5.0 * i, 12.0 * i, -1.0, -1.0};
    }
    DisplayArrays::BuildRequest r = request("pulsefid");
    r.acquisitionPulse = &pulse;
    ASSERT_FALSE(display.build(r));
    EXPECT_EQ(display.at(1, 0, 0), 3.0);
    EXPECT_EQ(display.at(1, 1, 0), 4.0);
    EXPECT_EQ(display.at(1, 2, 0), 5.0);

    r.viewMode = "pulsespec";
    ASSERT_FALSE(display.build(r));
    EXPECT_EQ(display.at(0, 0, 1), -10.0) << "point 1 of the display is row 2 of the table";
    EXPECT_EQ(display.at(0, 2, 1), 26.0);
}

TEST_F(DisplayArraysTest, TheCallerIsAskedForThe2DMapOnlyWhenAllowedForATwoDimensionalRun)
{
    DisplayArrays::BuildRequest r = request("signalspec");
    r.runsPerValue = 2;
    EXPECT_FALSE(display.build(r));
    r.mapAllowed = true;
    EXPECT_TRUE(display.build(r));
    r.runsPerValue = 1;
    EXPECT_FALSE(display.build(r));
}

TEST_F(DisplayArraysTest, NoPointsMeansNothingToDo)
{
    ASSERT_FALSE(display.build(request("signalspec")));
    DisplayArrays::BuildRequest r = request("signalfid");
    r.pointCount = 0;
    r.mapAllowed = true;
    r.runsPerValue = 2;
    EXPECT_FALSE(display.build(r));
    expectEqualsSource(signal, 0);
}

TEST_F(DisplayArraysTest, RebuildsOutsideTheArrayOrTheSourcesAreRefused)
{
    DisplayArrays::BuildRequest one = request("signalspec", false);
    EXPECT_THROW((void)display.build(one), std::out_of_range) << "no array before the first run";

    ASSERT_FALSE(display.build(request("signalspec")));
    one.currentRun = kLastRun + 1;
    EXPECT_THROW((void)display.build(one), std::out_of_range);

    DisplayArrays::BuildRequest tooLong = request("signalspec");
    tooLong.pointCount = 2 * kPoints;
    EXPECT_THROW((void)display.build(tooLong), std::out_of_range);
}

}  // namespace
}  // namespace velmora::processing
