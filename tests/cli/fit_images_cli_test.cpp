// velmora-cli fit-images end to end: a synthetic series built, fitted and its maps written; a NIfTI
// series with its acquisition on the command line; refusals with their exit status.
#include "imagefit/cube_files.h"
#include "imagefit/map_files.h"
#include "imagefit/nifti_files.h"
#include "imagefit/synthetic_series.h"
#include "support/program_run.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

using velmora::testing::Finished;
using velmora::testing::runProgram;
using velmora::testing::UserFolders;

Finished fitImages(const ScratchDirectory& scratch, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {VELMORA_CLI_PATH, "fit-images"});
    return runProgram(arguments, scratch.path());
}

TEST(FitImagesCli, ModelSeriesIsBuiltFittedAndItsMapsWritten)
{
    ScratchDirectory scratch;
    const std::filesystem::path series = scratch.path() / "series";
    const std::string prefix = (scratch.path() / "maps").string();
    const Finished run =
        fitImages(scratch, {"--series", series.string(), "--model", "--block", "64,64,3", "--slice", "2",
                            "--deciding-image", "2", "--threads", "2", "--out", prefix});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("series: 6 images of 64 x 64 x 3; slice 2 (cor), slab +-1"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("fitted pixels: "), std::string::npos);
    EXPECT_NE(run.out.find("median T1: "), std::string::npos);
    EXPECT_EQ(imagefit::seriesImageFiles(series).size(), 6u);
    EXPECT_TRUE(std::filesystem::exists(series / "M_solution"));

    // The written T1 map against the model's own map file, both read back from disk.
    std::vector<double> t1, model;
    ASSERT_TRUE(imagefit::readRawMap(prefix + "_T1", 64 * 64, t1));
    ASSERT_EQ(std::filesystem::file_size(prefix + "_T1"), 64u * 64u * 4u);
    const std::vector<std::string> modelMaps = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(series))
            if (entry.path().string().ends_with("_mT1"))
                names.push_back(entry.path().string());
        return names;
    }();
    ASSERT_EQ(modelMaps.size(), 1u);
    ASSERT_TRUE(imagefit::readRawMap(modelMaps.front(), 64 * 64, model));
    int close = 0, fitted = 0;
    for (std::size_t k = 0; k < t1.size(); ++k) {
        if (model[k] > 0.0 && t1[k] > 0.0) {
            ++fitted;
            close += std::fabs(t1[k] / model[k] - 1.0) < 0.1 ? 1 : 0;
        }
    }
    EXPECT_GT(fitted, 2000);
    EXPECT_GT(close, fitted * 2 / 3);
    EXPECT_EQ(std::filesystem::exists(prefix + "_Err.nii.gz"), imagefit::niftiSupported());
}

TEST(FitImagesCli, NiftiSeriesTakesItsAcquisitionFromTheCommandLine)
{
    if (!imagefit::niftiSupported())
        GTEST_SKIP() << "built without the niftiio library";
    ScratchDirectory scratch;
    imagefit::SyntheticAcquisition acquisition;
    acquisition.noiseFraction = 0.01;
    const imagefit::ImageSeries series = imagefit::syntheticSeries(
        imagefit::modelMaps(32, 32, imagefit::ModelKind::SolutionTest), 3, acquisition);
    const std::filesystem::path nifti = scratch.path() / "vfa.nii";
    ASSERT_TRUE(imagefit::writeNiftiSeries(nifti, series));
    std::filesystem::remove(imagefit::acquisitionSideFile(nifti));
    const std::string prefix = (scratch.path() / "fit").string();

    const Finished missing = fitImages(scratch, {"--series", nifti.string(), "--out", prefix});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("give the flip angles and TR"), std::string::npos) << missing.err;

    const Finished run = fitImages(scratch, {"--series", nifti.string(), "--flip-angles", "3,5,8,15,20,25",
                                             "--tr-ms", "3", "--orientation", "cor", "--out", prefix});
    ASSERT_EQ(run.status, 0) << run.err;
    // One solution everywhere: T1 1 s and B1 1.
    EXPECT_TRUE(run.out.find("median T1: 0.9") != std::string::npos ||
                run.out.find("median T1: 1.0") != std::string::npos)
        << run.out;
    EXPECT_TRUE(run.out.find("median B1: 0.9") != std::string::npos ||
                run.out.find("median B1: 1.0") != std::string::npos)
        << run.out;
}

// Regression: one NaN voxel made the default threshold NaN, and no pixel was fitted.
TEST(FitImagesCli, ANanVoxelLeavesTheThresholdAndTheOtherPixelsFitted)
{
    ScratchDirectory scratch;
    const std::filesystem::path series = scratch.path() / "series";
    const std::string prefix = (scratch.path() / "maps").string();
    ASSERT_EQ(fitImages(scratch, {"--series", series.string(), "--model", "--block", "32,32,3", "--slice",
                                  "2", "--out", prefix, "--quiet"})
                  .status,
              0);
    {
        // Voxel (16, 16) of the middle block slice of the first cube (edge 32, block slices 14..16).
        std::fstream cube(series / "T1_03_TR3000.sgl", std::ios::in | std::ios::out | std::ios::binary);
        cube.seekp(4 * ((15 * 32 + 16) * 32 + 16));
        const char nan[4] = {0x7f, static_cast<char>(0xc0), 0, 0};
        cube.write(nan, 4);
    }
    const Finished run = fitImages(scratch, {"--series", series.string(), "--block", "32,32,3", "--slice",
                                             "2", "--deciding-image", "2", "--out", prefix});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("threshold nan"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 with no finite fit"), std::string::npos) << run.out;
    std::vector<double> b1;
    ASSERT_TRUE(imagefit::readRawMap(prefix + "_B1", 32 * 32, b1));
    EXPECT_EQ(b1[16 * 32 + 16], static_cast<double>(static_cast<float>(imagefit::kUnfittedB1)));
    EXPECT_NE(b1[16 * 32 + 17], static_cast<double>(static_cast<float>(imagefit::kUnfittedB1)));
}

TEST(FitImagesCli, OptionsThatDoNotApplyAndThreadsBeyondTheCapAreRefused)
{
    ScratchDirectory scratch;
    const std::filesystem::path series = scratch.path() / "series";
    const std::string prefix = (scratch.path() / "maps").string();
    ASSERT_EQ(fitImages(scratch, {"--series", series.string(), "--model", "--block", "16,16,3", "--slice",
                                  "2", "--out", prefix, "--quiet"})
                  .status,
              0);
    std::filesystem::remove(prefix + "_T1");
    const Finished ignored =
        fitImages(scratch, {"--series", series.string(), "--flip-angles", "3,5,8,15,20,25", "--tr-ms", "3",
                            "--block", "16,16,3", "--out", prefix});
    EXPECT_EQ(ignored.status, 2);
    EXPECT_NE(ignored.err.find("--flip-angles and --tr-ms apply only to a NIfTI series"), std::string::npos)
        << ignored.err;
    EXPECT_FALSE(std::filesystem::exists(prefix + "_T1"));
    const Finished threads =
        fitImages(scratch, {"--series", series.string(), "--threads", "100000", "--out", prefix});
    EXPECT_EQ(threads.status, 2);
    EXPECT_NE(threads.err.find("1 to 256"), std::string::npos) << threads.err;
}

TEST(FitImagesCli, TheFourDLayoutWritesTheDecayMapsBesideTheDataSet)
{
    ScratchDirectory scratch;
    // 6 x 6 x 6 voxels over 6 echoes 4 ms apart, T2 30 ms in the lower half (z < 3) and 60 ms above.
    std::vector<double> values;
    for (int k = 0; k < 6; ++k)
        for (int v = 0; v < 216; ++v)
            values.push_back(800.0 * std::exp(-4.0 * k / (v < 108 ? 30.0 : 60.0)));
    const std::filesystem::path data = scratch.path() / "echoes.sgl";
    ASSERT_TRUE(util::writeBinaryFile(data, imagefit::bigEndianFloats(values.data(), values.size())));
    const Finished run = fitImages(scratch, {"--series", data.string(), "--layout", "4d", "--echo-ms", "4"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<double> t2;
    ASSERT_TRUE(imagefit::readRawMap(scratch.path() / "echoes_T2", 216, t2));
    EXPECT_NEAR(t2[0], 30.0, 0.3);
    EXPECT_NEAR(t2[215], 60.0, 0.6);
    for (const char* suffix : {"_trunc", "_INTEGRAL", "_MAX", "_f"})
        EXPECT_TRUE(std::filesystem::exists(scratch.path() / (std::string("echoes") + suffix))) << suffix;
    const Finished slice = fitImages(scratch, {"--series", data.string(), "--layout", "4d", "--slice", "2"});
    EXPECT_EQ(slice.status, 2);
    EXPECT_NE(slice.err.find("--slice"), std::string::npos) << slice.err;
}

TEST(FitImagesCli, RefusalsSayWhyAndWriteNothing)
{
    ScratchDirectory scratch;
    const std::filesystem::path series = scratch.path() / "series";
    const std::string prefix = (scratch.path() / "maps").string();
    const Finished slab = fitImages(scratch, {"--series", series.string(), "--model", "--block", "16,16,3",
                                              "--slice", "1", "--slab", "1", "--out", prefix});
    EXPECT_EQ(slab.status, 1);
    EXPECT_NE(slab.err.find("NumberNsliceAverage  ? error "), std::string::npos) << slab.err;
    EXPECT_FALSE(std::filesystem::exists(prefix + "_T1"));

    const Finished usage = fitImages(scratch, {"--series", series.string(), "--orientation", "axial"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("cor, trans or sag"), std::string::npos);
    EXPECT_EQ(fitImages(scratch, {"--slice", "2"}).status, 2);
    const Finished absent = fitImages(scratch, {"--series", (scratch.path() / "nothing").string()});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("cannot read"), std::string::npos);
}

}  // namespace
}  // namespace velmora
