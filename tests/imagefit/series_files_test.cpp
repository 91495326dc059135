// The image files of a series: folder series and series descriptions of big-endian cubes, the
// raw map files, and NIfTI series and maps, read back by the loaders and by the NIfTI library.
#include "imagefit/cube_files.h"
#include "imagefit/image_folder_settings.h"
#include "imagefit/map_files.h"
#include "imagefit/nifti_files.h"
#include "imagefit/synthetic_series.h"
#include "imagefit/vfa_fit.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>

namespace velmora::imagefit {
namespace {

using testing::ScratchDirectory;

// A series of `images` images whose voxel values encode image and position.
ImageSeries codedSeries(int nx, int ny, int nz, int images)
{
    ImageSeries series;
    series.resize(nx, ny, nz, images);
    for (int i = 0; i < images; ++i) {
        series.flipAngleRad[static_cast<std::size_t>(i)] = (i + 2) * kRadiansPerDegree;
        series.trSeconds[static_cast<std::size_t>(i)] = 0.0031;
        for (int z = 0; z < nz; ++z)
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x)
                    series.at(x, y, z, i) = 1000.0 * i + 100.0 * z + 10.0 * y + x;
    }
    series.updateLargestValue();
    return series;
}

TEST(CubeFiles, NamesGiveFlipAngleAndTrAndTheEdgeComesFromTheLength)
{
    const std::optional<ImageFileName> name = parseImageFileName("T1_05_TR3000.sgl");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->flipDegrees, 5);
    EXPECT_EQ(name->trMicroseconds, 3000);
    EXPECT_TRUE(parseImageFileName("t1_15_TR2500_b.sgl"));
    EXPECT_FALSE(parseImageFileName("T1_ab_TR3000.sgl"));
    EXPECT_FALSE(parseImageFileName("T1_05_TR30"));
    EXPECT_FALSE(parseImageFileName("XX_05_TR3000.sgl"));
    EXPECT_EQ(cubeEdge(4 * 64 * 64 * 64), 64);
    EXPECT_EQ(cubeEdge(4 * 64 * 64 * 64 + 17), 64);
    EXPECT_EQ(cubeEdge(4 * 7), 1);
    EXPECT_EQ(cubeEdge(3), 0);
}

TEST(CubeFiles, AFolderOfThirtyImagesLoadsAllThirtyInNameOrder)
{
    ScratchDirectory folder;
    const ImageSeries written = codedSeries(4, 4, 4, 30);
    for (int i = 0; i < 30; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "T1_%02d_TR%04d.sgl", i + 2, 3100);
        ASSERT_TRUE(writeCubeFile(folder.path() / name, written, i));
    }
    ASSERT_TRUE(util::writeTextFile(folder.path() / "notes.sgl", {"not an image"}));
    ImageSeries loaded;
    ASSERT_TRUE(loadImageFolder(folder.path(), {}, loaded));
    ASSERT_EQ(loaded.images(), 30);
    EXPECT_EQ(loaded.nx, 4);
    EXPECT_NEAR(loaded.flipAngleRad[29], 31 * kRadiansPerDegree, 1e-15);
    EXPECT_DOUBLE_EQ(loaded.trSeconds[0], 0.0031);
    EXPECT_EQ(loaded.data, written.data);  // float-exact values
    EXPECT_EQ(loaded.largestValue, 29333.0);
}

TEST(CubeFiles, TheCentralBlockOfALargerCubeIsTaken)
{
    ScratchDirectory folder;
    const ImageSeries cube = codedSeries(8, 8, 8, 1);
    ASSERT_TRUE(writeCubeFile(folder.path() / "T1_10_TR2000.sgl", cube, 0));
    ImageSeries block;
    ASSERT_TRUE(loadImageFolder(folder.path(), {4, 2, 6}, block));
    EXPECT_EQ(block.nx, 4);
    EXPECT_EQ(block.at(0, 0, 0, 0), cube.at(2, 3, 1, 0));
    EXPECT_EQ(block.at(3, 1, 5, 0), cube.at(5, 4, 6, 0));

    ImageSeries unchanged = block;
    const util::Outcome tooLarge = loadImageFolder(folder.path(), {9, 8, 8}, block);
    EXPECT_FALSE(tooLarge);
    EXPECT_NE(tooLarge.message().find("does not fit"), std::string::npos);
    EXPECT_EQ(block.data, unchanged.data);
}

TEST(CubeFiles, ADescriptionFileOrdersTheCubesOfOneFile)
{
    ScratchDirectory folder;
    const ImageSeries cubes = codedSeries(3, 3, 3, 3);
    // The file holds cubes 1, 2, 3; the description lists image 3 first.
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 3; ++i) {
        const std::vector<unsigned char> one = bigEndianFloats(
            cubes.data.data() + cubes.voxelsPerImage() * static_cast<std::size_t>(i), cubes.voxelsPerImage());
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    const std::filesystem::path file = folder.path() / "T1_series";
    ASSERT_TRUE(util::writeBinaryFile(file, bytes));
    ASSERT_TRUE(
        util::writeTextFile(folder.path() / "T1_series.txt",
                            {"T1_25_TR4000_image_03", "T1_03_TR3000_image_01", "T1_08_TR3000_image_02"}));
    ImageSeries series;
    ASSERT_TRUE(loadSeriesDescription(file, {}, series));
    ASSERT_EQ(series.images(), 3);
    EXPECT_NEAR(series.flipAngleRad[0], 25 * kRadiansPerDegree, 1e-15);
    EXPECT_DOUBLE_EQ(series.trSeconds[0], 0.004);
    EXPECT_EQ(series.at(1, 2, 0, 0), cubes.at(1, 2, 0, 2));
    EXPECT_EQ(series.at(1, 2, 0, 1), cubes.at(1, 2, 0, 0));

    ASSERT_TRUE(util::writeTextFile(folder.path() / "T1_series.txt", {"T1_25_TR4000_image_07"}));
    EXPECT_FALSE(loadSeriesDescription(file, {}, series));
    EXPECT_EQ(series.images(), 3);
}

TEST(CubeFiles, TruncatedAndMisnamedFilesAreRefusedWithTheSeriesUnchanged)
{
    ScratchDirectory folder;
    const ImageSeries cube = codedSeries(4, 4, 4, 1);
    ASSERT_TRUE(writeCubeFile(folder.path() / "T1_10_TR2000.sgl", cube, 0));
    ImageSeries series = cube;
    // A second image of only 3 bytes: edge 0.
    ASSERT_TRUE(util::writeBinaryFile(folder.path() / "T1_20_TR2000.sgl", {1, 2, 3}));
    EXPECT_FALSE(loadImageFolder(folder.path(), {}, series));
    std::filesystem::remove(folder.path() / "T1_20_TR2000.sgl");
    ASSERT_TRUE(util::writeBinaryFile(folder.path() / "T1_x0_TR2000.sgl", std::vector<unsigned char>(256)));
    const util::Outcome misnamed = loadImageFolder(folder.path(), {}, series);
    EXPECT_NE(misnamed.message().find("T1_x0_TR2000.sgl"), std::string::npos);
    EXPECT_EQ(series.data, cube.data);
    EXPECT_FALSE(loadImageFolder(folder.path() / "missing", {}, series));
}

// Regression: the cube edge was taken from length / lines, so a description with one line too many
// read 5 cubes at the offsets of 6 smaller ones and the fit went on with wrong maps.
TEST(CubeFiles, ADescriptionWhoseLinesDoNotMatchTheDataLengthIsRefused)
{
    ScratchDirectory folder;
    const ImageSeries cubes = codedSeries(4, 4, 4, 5);
    const std::filesystem::path file = folder.path() / "T1_series";
    ASSERT_TRUE(util::writeBinaryFile(file, bigEndianFloats(cubes.data.data(), cubes.data.size())));
    std::vector<std::string> lines;
    for (int k = 1; k <= 6; ++k)
        lines.push_back("T1_0" + std::to_string(k + 2) + "_TR3000_image_0" + std::to_string(k));
    ASSERT_TRUE(util::writeTextFile(folder.path() / "T1_series.txt", lines));

    ImageSeries series = cubes;
    const util::Outcome outcome = loadSeriesDescription(file, {}, series);
    EXPECT_FALSE(outcome);
    for (const std::string& named :
         {file.string(), file.string() + ".txt", std::string("1280 bytes"), std::string("lists 6 images")})
        EXPECT_NE(outcome.message().find(named), std::string::npos) << outcome.message();
    EXPECT_EQ(series.data, cubes.data);
}

// Regression: "T1_03_TR10000.sgl" was read as TR 1000 us, and fitted T1 a tenth of the truth.
TEST(CubeFiles, ANameWhoseTrRunsOnIsRefusedNotReadInPart)
{
    EXPECT_FALSE(parseImageFileName("T1_03_TR10000.sgl"));
    EXPECT_FALSE(parseImageFileName("T1_103_TR3000.sgl"));
    ScratchDirectory folder;
    const ImageSeries cube = codedSeries(2, 2, 2, 1);
    ASSERT_TRUE(writeCubeFile(folder.path() / "T1_03_TR10000.sgl", cube, 0));
    ImageSeries series;
    const util::Outcome outcome = loadImageFolder(folder.path(), {}, series);
    EXPECT_NE(outcome.message().find("T1_03_TR10000.sgl"), std::string::npos) << outcome.message();
    EXPECT_EQ(series.images(), 0);
}

TEST(CubeFiles, ASeriesBeyondTheMemoryBudgetIsRefusedBeforeItIsRead)
{
    ScratchDirectory folder;
    const ImageSeries cubes = codedSeries(8, 8, 8, 2);
    ASSERT_TRUE(writeImageFolder(folder.path(), cubes));
    ImageSeries series = cubes;
    MemoryBudget budget;
    budget.bytes = 4.0 * 1024;  // 2 x 512 voxels take 8 KiB as doubles
    budget.limitName = "a test limit";
    const util::Outcome outcome = loadImageFolder(folder.path(), {}, series, budget);
    EXPECT_NE(outcome.message().find("a test limit"), std::string::npos) << outcome.message();
    EXPECT_EQ(series.data, cubes.data);
    budget.bytes = 9.0 * 1024;
    EXPECT_TRUE(loadImageFolder(folder.path(), {}, series, budget));
}

TEST(ImageSeries, TheLargestValueIgnoresNonFiniteVoxels)
{
    ImageSeries series = codedSeries(3, 2, 2, 2);
    series.data.front() = std::numeric_limits<double>::quiet_NaN();
    series.data[5] = std::numeric_limits<double>::infinity();
    series.updateLargestValue();
    EXPECT_EQ(series.largestValue, 1112.0);
}

TEST(MapFiles, RawMapsAreBigEndianFloatsInRowOrderUnderTheDatedBaseName)
{
    ScratchDirectory folder;
    EXPECT_EQ(mapBaseName(folder.path(), 2026, 12, 8, Orientation::Sagittal), folder.path() / "2026_12_8sag");
    const std::filesystem::path path = folder.path() / "map";
    ASSERT_TRUE(writeRawMap(path, {1.0, -2.5, 3.3333}));
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes[0], 0x3F);  // 1.0f = 3F 80 00 00
    EXPECT_EQ(bytes[1], 0x80);
    EXPECT_EQ(bytes[4], 0xC0);  // -2.5f = C0 20 00 00
    EXPECT_EQ(bytes[5], 0x20);
    std::vector<double> back;
    ASSERT_TRUE(readRawMap(path, 3, back));
    EXPECT_EQ(back[2], static_cast<double>(3.3333f));
    EXPECT_FALSE(readRawMap(path, 4, back));
}

TEST(NiftiFiles, ASeriesWrittenAsNiftiFitsToTheSameMapsAsItsCubeFiles)
{
    if (!niftiSupported())
        GTEST_SKIP() << "built without the niftiio library";
    ScratchDirectory folder;
    SyntheticAcquisition acquisition;
    acquisition.noiseFraction = 0.01;
    acquisition.seed = 4;
    const ImageSeries series = syntheticSeries(modelMaps(32, 32, ModelKind::Regular), 3, acquisition);
    ASSERT_TRUE(writeImageFolder(folder.path(), series));
    const std::filesystem::path nifti = folder.path() / "series.nii.gz";
    ASSERT_TRUE(writeNiftiSeries(nifti, series));

    ImageSeries fromCubes, fromNifti;
    ASSERT_TRUE(loadImageFolder(folder.path(), {32, 32, 3}, fromCubes));
    Acquisition sideFile;
    ASSERT_TRUE(readAcquisitionFile(acquisitionSideFile(nifti), sideFile));
    EXPECT_EQ(sideFile.flipAnglesDeg, (std::vector<double>{3, 5, 8, 15, 20, 25}));
    ASSERT_TRUE(readNiftiSeries(nifti, sideFile, fromNifti));
    EXPECT_EQ(fromNifti.data, fromCubes.data);

    FitSettings settings;
    settings.slice = 2;
    settings.slabHalfThickness = 1;
    settings.threshold = 0.1 * fromCubes.largestValue;
    settings.decidingImage = 2;
    util::WorkPool pool(2);
    FitMaps cubeMaps, niftiMaps;
    ASSERT_TRUE(fitImageSeries(fromCubes, settings, pool, nullptr, {}, cubeMaps));
    ASSERT_TRUE(fitImageSeries(fromNifti, settings, pool, nullptr, {}, niftiMaps));
    EXPECT_EQ(niftiMaps.t1Seconds, cubeMaps.t1Seconds);
    EXPECT_EQ(niftiMaps.b1, cubeMaps.b1);
    EXPECT_GT(cubeMaps.fittedPixels, 500);

    // The maps as NIfTI volumes: one slice of columns x rows, the unit in the description.
    std::vector<std::string> written;
    ASSERT_TRUE(writeFitMaps(folder.path() / "fit", cubeMaps, fromCubes, settings, &written));
    EXPECT_EQ(written.size(), 8u);
    std::vector<double> values;
    int dims[4];
    std::string description;
    ASSERT_TRUE(readNiftiVolume(folder.path() / "fit_T1.nii.gz", values, dims, description));
    EXPECT_EQ(dims[1], 32);
    EXPECT_EQ(dims[2], 32);
    EXPECT_EQ(dims[3], 1);
    EXPECT_EQ(description, "T1 (s)");
    for (std::size_t k = 0; k < values.size(); ++k)
        ASSERT_EQ(values[k], static_cast<double>(static_cast<float>(cubeMaps.t1Seconds[k])));
}

TEST(NiftiFiles, DamagedFilesAndMismatchedAcquisitionsAreRefused)
{
    if (!niftiSupported())
        GTEST_SKIP() << "built without the niftiio library";
    ScratchDirectory folder;
    const ImageSeries series = codedSeries(6, 5, 4, 3);
    const std::filesystem::path nifti = folder.path() / "coded.nii";
    ASSERT_TRUE(writeNiftiSeries(nifti, series));
    ImageSeries loaded = series;
    EXPECT_FALSE(readNiftiSeries(nifti, {{3, 5}, {3}}, loaded));  // two angles, three volumes

    std::ifstream in(nifti, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(bytes.size() - 40);
    ASSERT_TRUE(util::writeBinaryFile(folder.path() / "cut.nii", bytes));
    EXPECT_FALSE(readNiftiSeries(folder.path() / "cut.nii", {{3, 5, 8}, {3}}, loaded));
    ASSERT_TRUE(util::writeBinaryFile(folder.path() / "junk.nii", std::vector<unsigned char>(400, 0xAB)));
    EXPECT_FALSE(readNiftiSeries(folder.path() / "junk.nii", {{3, 5, 8}, {3}}, loaded));
    EXPECT_EQ(loaded.data, series.data);
}

// Regression: the library fills the voxels of a cut compressed file with zeros and reports success.
TEST(NiftiFiles, ACutCompressedSeriesIsRefusedAsTheCutPlainOneIs)
{
    if (!niftiSupported())
        GTEST_SKIP() << "built without the niftiio library";
    ScratchDirectory folder;
    const ImageSeries series = codedSeries(16, 16, 8, 3);
    const std::filesystem::path nifti = folder.path() / "coded.nii.gz";
    ASSERT_TRUE(writeNiftiSeries(nifti, series));
    std::ifstream in(nifti, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(util::writeBinaryFile(folder.path() / "cut.nii.gz", bytes));

    ImageSeries loaded = series;
    const util::Outcome cut = readNiftiSeries(folder.path() / "cut.nii.gz", {{3, 5, 8}, {3}}, loaded);
    EXPECT_NE(cut.message().find("shorter than its header says"), std::string::npos) << cut.message();
    EXPECT_EQ(loaded.data, series.data);

    MemoryBudget budget;
    budget.bytes = 10000.0;  // 6144 voxels need 73728 bytes as floats and doubles
    const util::Outcome tight = readNiftiSeries(nifti, {{3, 5, 8}, {3}}, loaded, budget);
    EXPECT_NE(tight.message().find("memory"), std::string::npos) << tight.message();
    ASSERT_TRUE(readNiftiSeries(nifti, {{3, 5, 8}, {3}}, loaded));
    EXPECT_EQ(loaded.data, series.data);
}

// An ANALYZE-style header (no NIfTI magic) keeps a negative data offset, which passed the length
// check; the library then took the series' voxels from the end of the file, the header among them.
TEST(NiftiFiles, ANegativeDataOffsetIsRefusedBeforeTheDataAreRead)
{
    if (!niftiSupported())
        GTEST_SKIP() << "built without the niftiio library";
    ScratchDirectory folder;
    const ImageSeries series = codedSeries(6, 5, 4, 3);
    const std::filesystem::path nifti = folder.path() / "coded.nii";
    ASSERT_TRUE(writeNiftiSeries(nifti, series));
    std::ifstream in(nifti, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const float offset = -1e30f;  // vox_offset, at byte 108 of the little-endian header
    std::memcpy(bytes.data() + 108, &offset, sizeof offset);
    std::memset(bytes.data() + 344, 0, 4);  // no "n+1" magic
    bytes.resize(360);
    ASSERT_TRUE(util::writeBinaryFile(folder.path() / "offset.nii", bytes));

    ImageSeries loaded = series;
    const util::Outcome outcome = readNiftiSeries(folder.path() / "offset.nii", {{3, 5, 8}, {3}}, loaded);
    EXPECT_FALSE(outcome);
    EXPECT_NE(outcome.message().find("data offset"), std::string::npos) << outcome.message();
    EXPECT_EQ(loaded.data, series.data);
}

TEST(ImageFolderSettings, FirstOpeningCreatesTheFolderAndAChangeIsRememberedAtOnce)
{
    ScratchDirectory location;
    ImageFolderSettings settings;
    ASSERT_TRUE(openImageFolderSettings(location.path(), settings));
    EXPECT_EQ(settings.rememberedFolder, location.path() / "imagezv");
    EXPECT_EQ(util::readTextLines(settings.settingsFile).lines,
              std::vector<std::string>{(location.path() / "imagezv").string()});
    ASSERT_TRUE(rememberImageFolder(settings, location.path() / "scans"));
    ImageFolderSettings reopened;
    ASSERT_TRUE(openImageFolderSettings(location.path(), reopened));
    EXPECT_EQ(reopened.rememberedFolder, location.path() / "scans");
}

// Regression: a settings file that could not be read (here longer than any settings line) left the
// paths empty, and the window wrote its maps and model files into the current directory.
TEST(ImageFolderSettings, AnUnreadableSettingsFileStillLeavesTheWindowInItsFolder)
{
    ScratchDirectory location;
    const std::filesystem::path folder = location.path() / "imagezv";
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(util::writeTextFile(folder / "imagezv.ini", {std::string(70000, 'a')}));
    ImageFolderSettings settings;
    EXPECT_FALSE(openImageFolderSettings(location.path(), settings));
    EXPECT_EQ(settings.rememberedFolder, folder);
    EXPECT_EQ(settings.settingsFile, folder / "imagezv.ini");
}

}  // namespace
}  // namespace velmora::imagefit
