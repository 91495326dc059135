// The variable-flip-angle fit: its building blocks against direct computations, and the whole fit
// recovering known smooth maps from a noisy synthetic series.
#include "imagefit/b1_grid.h"
#include "imagefit/least_squares.h"
#include "imagefit/signal_model.h"
#include "imagefit/synthetic_series.h"
#include "imagefit/vfa_fit.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace velmora::imagefit {
namespace {

const std::vector<double> kAnglesDeg{3, 5, 8, 15, 20, 25};

std::vector<double> anglesRad()
{
    std::vector<double> angles;
    for (double a : kAnglesDeg)
        angles.push_back(a * kRadiansPerDegree);
    return angles;
}

TEST(B1Grid, DefaultRangeHoldsFifteenValuesWithTheirAngleTables)
{
    EXPECT_EQ(b1GridCount(0.1, 1.5), 15);
    EXPECT_EQ(b1GridCount(0.5, 0.5), 1);
    EXPECT_EQ(b1GridCount(0.7, 1.34), 7);  // 0.7 .. 1.3
    const std::vector<double> angles = anglesRad();
    const B1Grid grid(0.1, 1.5, angles);
    ASSERT_EQ(grid.count(), 15);
    EXPECT_NEAR(grid.value(14), 1.5, 1e-12);
    EXPECT_DOUBLE_EQ(grid.cosines(9)[4], std::cos(grid.value(9) * angles[4]));
    EXPECT_DOUBLE_EQ(grid.sines(3)[2], std::sin(grid.value(3) * angles[2]));
}

TEST(NormalEquations, PivotIsTheFirstRowWithANonZeroEntry)
{
    // The first column's leading entry is zero: elimination must swap in the second row.
    double matrix[9] = {0, 2, 1, 1, 1, 1, 2, 1, 3};
    double rhs[3] = {2 * 2 + 3, 1 + 2 + 3, 2 + 2 + 9};  // solution (1, 2, 3)
    ASSERT_TRUE(solveNormalEquations(matrix, rhs, 3));
    EXPECT_NEAR(rhs[0], 1.0, 1e-12);
    EXPECT_NEAR(rhs[1], 2.0, 1e-12);
    EXPECT_NEAR(rhs[2], 3.0, 1e-12);

    double singular[4] = {1, 2, 2, 4};
    double right[2] = {1, 2};
    EXPECT_FALSE(solveNormalEquations(singular, right, 2));
}

TEST(LeastSquares, LineAndCubicThroughExactDataAndTooFewPoints)
{
    const double x[5] = {-1, -0.5, 0, 0.5, 1};
    double y[5];
    for (int k = 0; k < 5; ++k)
        y[k] = 2.0 - 3.0 * x[k];
    const StraightLine line = fitStraightLine(x, y, 5);
    ASSERT_TRUE(line.ok);
    EXPECT_NEAR(line.intercept, 2.0, 1e-12);
    EXPECT_NEAR(line.slope, -3.0, 1e-12);

    for (int k = 0; k < 5; ++k)
        y[k] = 1.0 + 0.5 * x[k] - 2.0 * x[k] * x[k] + 0.25 * x[k] * x[k] * x[k];
    double c[4];
    ASSERT_TRUE(fitCubic(x, y, 5, c));
    EXPECT_NEAR(c[0], 1.0, 1e-10);
    EXPECT_NEAR(c[1], 0.5, 1e-10);
    EXPECT_NEAR(c[2], -2.0, 1e-10);
    EXPECT_NEAR(c[3], 0.25, 1e-10);
    EXPECT_FALSE(fitCubic(x, y, 3, c));
    EXPECT_FALSE(fitStraightLine(x, y, 1).ok);
}

// Signals of one pixel of known T1, B1 and amplitude, with the tables of a B1 factor.
struct KnownPixel {
    KnownPixel(double t1, double b1, double amplitude, double tableB1)
    {
        for (std::size_t i = 0; i < kAnglesDeg.size(); ++i) {
            const double angle = kAnglesDeg[i] * kRadiansPerDegree;
            signals.push_back(amplitude * spoiledSignal(angle, b1, tr[i], t1));
            cosines.push_back(std::cos(tableB1 * angle));
            sines.push_back(std::sin(tableB1 * angle));
        }
    }
    PixelSignals view() const
    {
        return {
            static_cast<int>(signals.size()), signals.data(), tr.data(), cosines.data(), sines.data(), true};
    }
    std::vector<double> tr = std::vector<double>(6, 0.003);
    std::vector<double> signals, cosines, sines;
};

TEST(T1Search, FindsTheT1OfANoiseFreePixelWithEqualRatios)
{
    const KnownPixel pixel(1.2, 0.9, 500.0, 0.9);
    // Independent check of the model: at the Ernst angle acos(E) the signal is largest.
    const double e = std::exp(-0.003 / 1.2);
    const double ernst = std::acos(e);
    EXPECT_GT(spoiledSignal(ernst, 1.0, 0.003, 1.2), spoiledSignal(ernst * 1.1, 1.0, 0.003, 1.2));
    EXPECT_GT(spoiledSignal(ernst, 1.0, 0.003, 1.2), spoiledSignal(ernst * 0.9, 1.0, 0.003, 1.2));
    EXPECT_NEAR(spoiledSignal(ernst, 1.0, 0.003, 1.2), std::sqrt((1 - e) / (1 + e)), 1e-12);

    util::UniformRandom random(5);
    const T1Estimate estimate = searchT1(pixel.view(), 0.05, 5.0, random);
    EXPECT_NEAR(estimate.t1Seconds, 1.2, 1.2 * 1e-3);
    EXPECT_NEAR(estimate.amplitude, 500.0, 0.5);
    EXPECT_NEAR(estimate.cost, 1.0 / 6.0, 1e-9);  // all r_i equal: sum r^2 / (sum r)^2 = 1/n
}

// Regression: a bounce off one end of a range narrower than 1.5 steps landed beyond the other end
// and was kept, so a pixel of T1 0.5 s searched in 1..2 s came back with T1 near 0.54 s.
TEST(T1Search, StaysInsideARangeNarrowerThanItsFirstStep)
{
    const KnownPixel pixel(0.5, 1.0, 1000.0, 1.0);
    for (int seed = 1; seed <= 20; ++seed) {
        util::UniformRandom random(seed);
        const T1Estimate estimate = searchT1(pixel.view(), 1.0, 2.0, random);
        EXPECT_GE(estimate.t1Seconds, 1.0) << seed;
        EXPECT_LT(estimate.t1Seconds, 2.0) << seed;
    }
}

TEST(FixedB1Fit, LineGivesT1AndASlopeOutsideZeroToOneGoesToTheSearch)
{
    FitSettings settings;
    util::UniformRandom random(3);
    double scratch[12];
    const KnownPixel pixel(0.8, 1.1, 300.0, 1.1);
    const FixedB1Fit line = fitWithFixedB1(pixel.view(), settings, random, scratch);
    EXPECT_FALSE(line.searched);
    EXPECT_NEAR(line.t1Seconds, 0.8, 1e-9);
    EXPECT_NEAR(line.amplitude, 300.0, 1e-7);
    EXPECT_NEAR(line.error, 0.0, 1e-18);

    // S_i proportional to sin(b a_i): S / sin is constant, the line's slope is 0.
    KnownPixel flat(0.8, 1.0, 1.0, 1.0);
    for (std::size_t i = 0; i < flat.signals.size(); ++i)
        flat.signals[i] = 100.0 * flat.sines[i];
    const FixedB1Fit search = fitWithFixedB1(flat.view(), settings, random, scratch);
    EXPECT_TRUE(search.searched);
    EXPECT_GE(search.t1Seconds, settings.t1MinSeconds);
    EXPECT_LT(search.t1Seconds, settings.t1MaxSeconds);
    EXPECT_DOUBLE_EQ(search.error, trialCost(flat.view(), search.t1Seconds).cost);

    // S_i = sin / (1 - cos): S / sin = S / tan + 1, slope 1, T1 = -TR / ln 1 has no finite value.
    for (std::size_t i = 0; i < flat.signals.size(); ++i)
        flat.signals[i] = 100.0 * flat.sines[i] / (1.0 - flat.cosines[i]);
    const FixedB1Fit unbounded = fitWithFixedB1(flat.view(), settings, random, scratch);
    EXPECT_TRUE(unbounded.searched);
    EXPECT_GE(unbounded.t1Seconds, settings.t1MinSeconds);
    EXPECT_LT(unbounded.t1Seconds, settings.t1MaxSeconds);
}

// Regression: the line took E from the first image's TR for every image, so a series of TRs 3, 6
// and 9 ms gave T1 0.09 s for 0.3 s, with B1 exact.
TEST(FixedB1Fit, ImagesOfDifferentTrsAreFittedEachWithItsOwnTr)
{
    KnownPixel pixel(0.3, 1.0, 1000.0, 1.0);
    pixel.tr = {0.003, 0.003, 0.006, 0.006, 0.009, 0.009};
    for (std::size_t i = 0; i < pixel.signals.size(); ++i) {
        const double e = std::exp(-pixel.tr[i] / 0.3);
        pixel.signals[i] = 1000.0 * (1.0 - e) * pixel.sines[i] / (1.0 - pixel.cosines[i] * e);
    }
    PixelSignals view = pixel.view();
    view.sameTr = false;
    util::UniformRandom random(3);
    double scratch[12];
    const FixedB1Fit fit = fitWithFixedB1(view, FitSettings{}, random, scratch);
    EXPECT_NEAR(fit.t1Seconds, 0.3, 0.3e-3);
    EXPECT_NEAR(fit.amplitude, 1000.0, 1.0);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A 64 x 64 x 3 series of the regular model with 1 % noise, fitted on its middle slice.
struct NoisyModel {
    NoisyModel()
    {
        SyntheticAcquisition acquisition;
        acquisition.noiseFraction = 0.01;
        acquisition.seed = 11;
        model = modelMaps(64, 64, ModelKind::Regular);
        series = syntheticSeries(model, 3, acquisition);
        settings.slice = 2;
        settings.slabHalfThickness = 1;
        settings.threshold = 0.1 * series.largestValue;
        settings.decidingImage = 2;
    }
    ModelMaps model;
    ImageSeries series;
    FitSettings settings;
};

TEST(VfaFit, RecoversKnownSmoothMapsFromANoisySeriesOnAnyThreadCount)
{
    const NoisyModel noisy;
    util::WorkPool onePool(1);
    FitMaps maps;
    ASSERT_TRUE(fitImageSeries(noisy.series, noisy.settings, onePool, nullptr, {}, maps));
    ASSERT_EQ(maps.rows, 64);
    ASSERT_EQ(maps.columns, 64);
    EXPECT_FALSE(maps.stopped);

    std::vector<double> t1Errors, b1Errors;
    int insideNotFitted = 0;
    for (int r = 0; r < maps.rows; ++r) {
        for (int c = 0; c < maps.columns; ++c) {
            const std::size_t k = maps.index(r, c);
            if (!noisy.model.inside(c, r)) {
                EXPECT_FALSE(maps.fitted(r, c)) << r << "," << c;
                continue;
            }
            if (!maps.fitted(r, c)) {
                ++insideNotFitted;
                continue;
            }
            t1Errors.push_back(std::fabs(maps.t1Seconds[k] / noisy.model.t1Seconds[k] - 1.0));
            b1Errors.push_back(std::fabs(maps.b1[k] / noisy.model.b1[k] - 1.0));
        }
    }
    ASSERT_GT(t1Errors.size(), 2000u);
    EXPECT_LT(insideNotFitted, 100);
    EXPECT_LT(median(t1Errors), 0.05);
    EXPECT_LT(median(b1Errors), 0.03);
    EXPECT_EQ(maps.fittedPixels, static_cast<int>(t1Errors.size()));
    EXPECT_LE(maps.smallestError, maps.largestError);

    util::WorkPool twoPool(2);
    FitMaps parallel;
    ASSERT_TRUE(fitImageSeries(noisy.series, noisy.settings, twoPool, nullptr, {}, parallel));
    EXPECT_EQ(parallel.t1Seconds, maps.t1Seconds);
    EXPECT_EQ(parallel.b1, maps.b1);
    EXPECT_EQ(parallel.amplitude, maps.amplitude);
    EXPECT_EQ(parallel.error, maps.error);
}

TEST(VfaFit, PixelsUnderTheThresholdEndUnfittedAndStayOutOfTheLaterPasses)
{
    NoisyModel noisy;
    // One inside pixel dips under the threshold on one slab slice only: it is not fitted.
    noisy.series.at(32, 32, 0, noisy.settings.decidingImage - 1) = 0.0;
    util::WorkPool pool(2);
    FitMaps maps;
    ASSERT_TRUE(fitImageSeries(noisy.series, noisy.settings, pool, nullptr, {}, maps));
    for (auto [r, c] : {std::pair{32, 32}, std::pair{0, 0}, std::pair{63, 10}}) {
        const std::size_t k = maps.index(r, c);
        EXPECT_EQ(maps.t1Seconds[k], 0.0);
        EXPECT_EQ(maps.amplitude[k], 0.0);
        EXPECT_EQ(maps.error[k], 0.0);
        EXPECT_EQ(maps.b1[k], 3.3333);
    }
    EXPECT_TRUE(maps.fitted(32, 33));
}

// A series of nx x ny x nz voxels whose every pixel has T1 `t1`, B1 `b1` and amplitude 1000, from
// the spoiled steady-state signal written out here: A (1 - E) sin(b a) / (1 - cos(b a) E).
ImageSeries uniformSeries(int nx, int ny, int nz, double t1, double b1)
{
    ImageSeries series;
    series.resize(nx, ny, nz, static_cast<int>(kAnglesDeg.size()));
    const double trSeconds = 0.003;
    const double e = std::exp(-trSeconds / t1);
    for (int i = 0; i < series.images(); ++i) {
        const double angle = b1 * kAnglesDeg[static_cast<std::size_t>(i)] * 3.14159265358979 / 180.0;
        series.flipAngleRad[static_cast<std::size_t>(i)] = anglesRad()[static_cast<std::size_t>(i)];
        series.trSeconds[static_cast<std::size_t>(i)] = trSeconds;
        const double signal = 1000.0 * (1.0 - e) * std::sin(angle) / (1.0 - std::cos(angle) * e);
        for (int z = 0; z < nz; ++z)
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x)
                    series.at(x, y, z, i) = signal;
    }
    series.updateLargestValue();
    return series;
}

// Regression: with no finite trial the T1 search returned its random start, so an all-zero pixel
// came back as T1 0.069 s and a pixel with one NaN image as a plausible T1.
TEST(VfaFit, AllZeroAndNonFinitePixelsEndUnfittedAndAreCounted)
{
    ImageSeries series = uniformSeries(12, 12, 3, 1.0, 1.0);
    for (int i = 0; i < series.images(); ++i)
        for (int z = 0; z < 3; ++z)
            series.at(5, 5, z, i) = 0.0;                               // row 5, column 5
    series.at(7, 5, 1, 3) = std::numeric_limits<double>::quiet_NaN();  // row 5, column 7
    FitSettings settings;
    settings.slice = 2;
    settings.slabHalfThickness = 1;
    settings.threshold = -1.0;  // every pixel above it, the zero one too
    util::WorkPool pool(2);
    FitMaps maps;
    ASSERT_TRUE(fitImageSeries(series, settings, pool, nullptr, {}, maps));
    for (const int column : {5, 7}) {
        EXPECT_FALSE(maps.fitted(5, column)) << column;
        EXPECT_EQ(maps.t1Seconds[maps.index(5, column)], 0.0);
    }
    EXPECT_EQ(maps.noFiniteFit, 2);
    EXPECT_EQ(maps.belowThreshold, 0);
    EXPECT_EQ(maps.fittedPixels, 142);
    EXPECT_NEAR(maps.t1Seconds[maps.index(5, 6)], 1.0, 0.05);
}

TEST(VfaFit, RangesAndWorkBeyondTheBoundsAreRefusedBeforeTheFit)
{
    const ImageSeries series = uniformSeries(8, 8, 3, 1.0, 1.0);
    FitSettings settings;
    settings.slice = 2;
    util::WorkPool pool(1);
    FitMaps maps;
    EXPECT_EQ(b1GridCount(0.1, 1e300), std::numeric_limits<int>::max());
    settings.b1Max = 1e6;
    EXPECT_NE(fitImageSeries(series, settings, pool, nullptr, {}, maps).message().find("B1 range"),
              std::string::npos);
    settings.b1Max = 10.0;  // 100 grid values: the most
    EXPECT_TRUE(fitImageSeries(series, settings, pool, nullptr, {}, maps));
    settings.b1Max = 1.5;
    settings.t1MinSeconds = 1e-6;
    EXPECT_FALSE(fitImageSeries(series, settings, pool, nullptr, {}, maps));
    // Narrower than the search can step into: every pixel would end unfitted.
    settings.t1MinSeconds = 1.0;
    settings.t1MaxSeconds = 1.000001;
    EXPECT_NE(fitImageSeries(series, settings, pool, nullptr, {}, maps).message().find("T1 range"),
              std::string::npos);
    settings.t1MinSeconds = 0.05;
    settings.t1MaxSeconds = 5.0;
    MemoryBudget budget;
    budget.bytes = 1000.0;
    FitMaps untouched;
    const util::Outcome tight = fitImageSeries(series, settings, pool, nullptr, {}, untouched, budget);
    EXPECT_NE(tight.message().find("memory"), std::string::npos) << tight.message();
    EXPECT_EQ(untouched.rows, 0);
}

TEST(VfaFit, GlobalRestrictionsHoldTheFinalT1AndAmplitudeAndCountThoseAtABound)
{
    // T1 4 s fitted in a range that ends at 2 s, amplitude 1000 under a maximum of 500; B1 fixed at
    // its truth so that it cannot make up for T1.
    const ImageSeries series = uniformSeries(10, 10, 3, 4.0, 1.0);
    FitSettings settings;
    settings.slice = 2;
    settings.t1MaxSeconds = 2.0;
    settings.b1Min = settings.b1Max = 1.0;
    settings.amplitudeMax = 500.0;
    util::WorkPool pool(2);
    FitMaps maps;
    ASSERT_TRUE(fitImageSeries(series, settings, pool, nullptr, {}, maps));
    ASSERT_EQ(maps.fittedPixels, 100);
    EXPECT_EQ(maps.t1AtBound, 100);
    EXPECT_EQ(maps.amplitudeAtBound, 100);
    for (std::size_t p = 0; p < 100; ++p) {
        EXPECT_NEAR(maps.t1Seconds[p], 2.0, 1e-4);
        EXPECT_EQ(maps.amplitude[p], 500.0);
    }
}

TEST(VfaFit, RefusesASlabOutsideTheBlockAndABadDecidingImage)
{
    const NoisyModel noisy;
    util::WorkPool pool(1);
    FitMaps maps;
    FitSettings settings = noisy.settings;
    settings.slice = 1;  // 1 - 1 < 1
    util::Outcome outcome = fitImageSeries(noisy.series, settings, pool, nullptr, {}, maps);
    EXPECT_EQ(outcome.message(), "NumberNsliceAverage  ? error ");
    settings.slice = 3;  // 3 + 1 > 3
    EXPECT_EQ(fitImageSeries(noisy.series, settings, pool, nullptr, {}, maps).message(),
              "NumberNsliceAverage  ? error ");
    // A slice typed at the end of the int range must not wrap round into the block.
    settings.slice = std::numeric_limits<int>::max();
    EXPECT_EQ(fitImageSeries(noisy.series, settings, pool, nullptr, {}, maps).message(),
              "NumberNsliceAverage  ? error ");
    EXPECT_EQ(maps.rows, 0);
    settings = noisy.settings;
    settings.decidingImage = 7;
    EXPECT_FALSE(fitImageSeries(noisy.series, settings, pool, nullptr, {}, maps));
}

TEST(VfaFit, StopEndsAtTheNextBlockOfRowsAndKeepsWhatWasDone)
{
    const NoisyModel noisy;
    util::WorkPool pool(1);
    util::RunControl control;
    ASSERT_TRUE(control.tryStart());
    int yields = 0;
    control.setYield([&] {
        if (++yields == 20)
            control.stop();
    });
    FitMaps maps;
    ASSERT_TRUE(fitImageSeries(noisy.series, noisy.settings, pool, &control, {}, maps));
    EXPECT_TRUE(maps.stopped);
    // Pass 1 did 20 blocks of 2 rows: row 32 has fitted pixels, row 45 was never reached.
    EXPECT_TRUE(maps.fitted(32, 32));
    for (int c = 0; c < maps.columns; ++c)
        EXPECT_FALSE(maps.fitted(45, c));
}

TEST(VfaFit, OrientationsAddressTheBlockAxesTheirWay)
{
    // The coronal series turned so that its slices lie along y (transverse) and x (sagittal)
    // gives the same maps.
    const NoisyModel noisy;
    const ImageSeries& cor = noisy.series;
    ImageSeries trans, sag;
    trans.resize(cor.nx, cor.nz, cor.ny, cor.images());
    sag.resize(cor.nz, cor.ny, cor.nx, cor.images());
    for (ImageSeries* turned : {&trans, &sag}) {
        turned->flipAngleRad = cor.flipAngleRad;
        turned->trSeconds = cor.trSeconds;
    }
    for (int i = 0; i < cor.images(); ++i)
        for (int z = 0; z < cor.nz; ++z)
            for (int y = 0; y < cor.ny; ++y)
                for (int x = 0; x < cor.nx; ++x) {
                    trans.at(x, z, y, i) = cor.at(x, y, z, i);  // row r = y sits on z, slice on y
                    sag.at(z, y, x, i) = cor.at(x, y, z, i);    // column c = x sits on z, slice on x
                }
    util::WorkPool pool(2);
    FitMaps corMaps, transMaps, sagMaps;
    FitSettings settings = noisy.settings;
    ASSERT_TRUE(fitImageSeries(cor, settings, pool, nullptr, {}, corMaps));
    settings.orientation = Orientation::Transverse;
    ASSERT_TRUE(fitImageSeries(trans, settings, pool, nullptr, {}, transMaps));
    settings.orientation = Orientation::Sagittal;
    ASSERT_TRUE(fitImageSeries(sag, settings, pool, nullptr, {}, sagMaps));
    EXPECT_EQ(transMaps.t1Seconds, corMaps.t1Seconds);
    EXPECT_EQ(sagMaps.b1, corMaps.b1);
    EXPECT_EQ(orientationFromText("TRANS"), Orientation::Transverse);
    EXPECT_FALSE(orientationFromText("axial"));
}

}  // namespace
}  // namespace velmora::imagefit
