// Four-dimensional data sets: the decay maps along the fourth axis against a series made here from
// S(t) = S0 exp(-t / T2) with known T2 per voxel, and the raw 4-D file's loader.
#include "imagefit/cube_files.h"
#include "imagefit/decay_maps.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace velmora::imagefit {
namespace {

constexpr double kSpacingMs = 5.0;
constexpr double kS0 = 1000.0;

// T2 of voxel v: 20 to 100 ms across the block.
double knownT2(std::size_t v, std::size_t voxels)
{
    return 20.0 + 80.0 * static_cast<double>(v) / static_cast<double>(voxels - 1);
}

// nx x ny x nz voxels over `points` echoes, Gaussian noise of sigma `noise` (image units).
ImageSeries decaySeries(int nx, int ny, int nz, int points, double noise)
{
    ImageSeries series;
    series.resize(nx, ny, nz, points);
    std::mt19937 engine(7);
    std::normal_distribution<double> gauss(0.0, noise);
    const std::size_t voxels = series.voxelsPerImage();
    for (int k = 0; k < points; ++k)
        for (std::size_t v = 0; v < voxels; ++v)
            series.data[v + voxels * static_cast<std::size_t>(k)] =
                kS0 * std::exp(-k * kSpacingMs / knownT2(v, voxels)) + (noise > 0.0 ? gauss(engine) : 0.0);
    series.updateLargestValue();
    return series;
}

TEST(DecayMaps, TheT2MapGivesBackTheKnownT2OfEveryVoxelWellAboveTheNoise)
{
    const ImageSeries series = decaySeries(8, 6, 4, 16, 0.005 * kS0);
    DecayMaps maps;
    ASSERT_TRUE(computeDecayMaps(series, kSpacingMs, 0.1 * series.largestValue, maps));
    const std::size_t voxels = series.voxelsPerImage();
    ASSERT_EQ(maps.fittedVoxels, static_cast<int>(voxels));
    for (std::size_t v = 0; v < voxels; ++v) {
        EXPECT_NEAR(maps.t2Ms[v] / knownT2(v, voxels), 1.0, 0.05) << v;
        EXPECT_LT(maps.fitQuality[v], 0.05) << v;
    }
}

TEST(DecayMaps, IntegralAndMaximumFollowTheFourthAxisAndAFlatVoxelHasNoT2)
{
    ImageSeries series = decaySeries(3, 2, 2, 8, 0.0);
    const std::size_t voxels = series.voxelsPerImage();
    for (int k = 0; k < 8; ++k)
        series.data[1 + voxels * static_cast<std::size_t>(k)] = 500.0;  // voxel 1 does not decay
    series.data[2 + voxels * 3] = std::numeric_limits<double>::quiet_NaN();
    DecayMaps maps;
    ASSERT_TRUE(computeDecayMaps(series, kSpacingMs, 10.0, maps));
    double trapezoid = 0.0;
    for (int k = 0; k < 8; ++k)
        trapezoid += (k == 0 || k == 7 ? 0.5 : 1.0) * kSpacingMs * kS0 *
                     std::exp(-k * kSpacingMs / knownT2(0, voxels));
    EXPECT_NEAR(maps.integral[0], trapezoid, 1e-9 * trapezoid);
    EXPECT_EQ(maps.maximum[0], kS0);
    EXPECT_NEAR(maps.t2Ms[0], knownT2(0, voxels), 1e-9);
    EXPECT_NEAR(maps.integral[1], 500.0 * 7 * kSpacingMs, 1e-9);
    EXPECT_EQ(maps.t2Ms[1], 0.0);
    EXPECT_EQ(maps.t2Ms[2], 0.0);
    EXPECT_EQ(maps.noDecay, 1);
    EXPECT_EQ(maps.nonFinite, 1);
}

TEST(DecayMaps, ARawFourDFileGivesItsCentralBlockAndAWrongLengthIsRefused)
{
    testing::ScratchDirectory folder;
    const ImageSeries whole = decaySeries(4, 4, 4, 4, 0.0);
    const std::filesystem::path path = folder.path() / "echoes";
    ASSERT_TRUE(util::writeBinaryFile(path, bigEndianFloats(whole.data.data(), whole.data.size())));
    ImageSeries block;
    double spacing = -1.0;
    ASSERT_TRUE(loadFourDSeries(path, {2, 2, 4}, block, spacing));
    EXPECT_EQ(block.images(), 4);
    EXPECT_EQ(spacing, 0.0);
    EXPECT_EQ(block.at(0, 0, 3, 2), static_cast<double>(static_cast<float>(whole.at(1, 1, 3, 2))));

    std::vector<unsigned char> bytes = bigEndianFloats(whole.data.data(), whole.data.size());
    bytes.resize(bytes.size() - 4);
    ASSERT_TRUE(util::writeBinaryFile(path, bytes));
    const util::Outcome cut = loadFourDSeries(path, {}, block, spacing);
    EXPECT_NE(cut.message().find("1020 bytes"), std::string::npos) << cut.message();
    EXPECT_EQ(block.nx, 2);
}

}  // namespace
}  // namespace velmora::imagefit
