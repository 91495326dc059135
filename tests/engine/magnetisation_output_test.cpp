#include "engine/magnetisation_output.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::engine {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

// The last run's column once went missing: its record holds the sum of all runs, and only that sum
// was written (a_sum.dat).
TEST(MagnetisationFiles, EveryRunHasItsOwnColumnAndTheSumItsOwnFile)
{
    const ScratchDirectory dir;
    SampleRecord time(4, 2), spectrum(4, 2);
    for (int r = 0; r <= 2; ++r) {
        for (int n = 1; n <= 4; ++n) {
            // Run r's own signal, added to the last run as the synthesis does.
            const double own[] = {3.0 * (r + 1), 4.0 * (r + 1), -1.0 * n, n == 3 ? 10.0 : 0.0};
            for (const int target : r == 2 ? std::vector<int>{2} : std::vector<int>{r, 2}) {
                time.at(1, n, target) += own[0];
                time.at(2, n, target) += own[1];
                time.at(3, n, target) += own[2];
                spectrum.at(1, n, target) += own[3];
            }
        }
    }
    const std::vector<double> arrayed = {1.0, 1.5, 2.0};
    ASSERT_TRUE(writeMagnetisationFiles(dir.path(), {time, spectrum, 4, 400.0, arrayed}));
    EXPECT_EQ(readBytes(dir.path() / "a_X.dat"), "1\t3.00\t6.00\t9.00\r\n2\t3.00\t6.00\t9.00\r\n"
                                                 "3\t3.00\t6.00\t9.00\r\n4\t3.00\t6.00\t9.00\r\n");
    EXPECT_EQ(readBytes(dir.path() / "a_XY.dat").substr(0, 20), "1\t5.00\t10.00\t15.00\r\n");
    EXPECT_EQ(readBytes(dir.path() / "a_Z.dat").substr(0, 20), "1\t-1.00\t-1.00\t-1.00\r");
    EXPECT_EQ(readBytes(dir.path() / "a_sum.dat").substr(0, 21), "1\t18.00\t24.00\t30.00\r\n");
    EXPECT_EQ(readBytes(dir.path() / "aaa.dat"), "0\t1.000000\r\n1\t1.500000\r\n2\t2.000000\r\n");
    const util::TextFileContent frequencies = util::readTextLines(dir.path() / "aFT_last_freq.dat");
    ASSERT_EQ(frequencies.lines.size(), 4u);
    EXPECT_EQ(frequencies.lines[2], "3\t0.000000\t30.000000") << "point np/2 + 1 is zero frequency";
    EXPECT_EQ(frequencies.lines[0], "1\t200.000000\t0.000000");
    const util::TextFileContent centre = util::readTextLines(dir.path() / "aFT_XYcenter.dat");
    ASSERT_EQ(centre.lines.size(), 2u);
    EXPECT_EQ(centre.lines[0].substr(0, 2), "2\t");

    // Two-dimensional runs record every run on its own.
    ASSERT_TRUE(writeMagnetisationFiles(dir.path(), {time, spectrum, 4, 400.0, arrayed, false}));
    EXPECT_EQ(readBytes(dir.path() / "a_X.dat").substr(0, 19), "1\t3.00\t6.00\t18.00\r\n");
}

TEST(MagnetisationFiles, PhaseIsUnwrappedAndGivesTheFrequency)
{
    const ScratchDirectory dir;
    SampleRecord time(16, 0), spectrum(16, 0);
    for (int n = 1; n <= 16; ++n) {
        const double phase = 2 * 3.14159265358979 * 0.3 * n;  // 0.3 of a turn per dwell
        time.at(1, n, 0) = std::cos(phase);
        time.at(2, n, 0) = std::sin(phase);
    }
    ASSERT_TRUE(writeMagnetisationFiles(dir.path(), {time, spectrum, 16, 1000.0, {0.0}}));
    const util::TextFileContent frequency = util::readTextLines(dir.path() / "a_last_freq.dat");
    ASSERT_EQ(frequency.lines.size(), 16u);
    EXPECT_EQ(frequency.lines[9], "10\t300.000000");
    const util::TextFileContent phase = util::readTextLines(dir.path() / "a_last_phase.dat");
    EXPECT_EQ(phase.lines[15], "16\t1728.000000") << "no jump back at 180 degrees";
}

TEST(MagnetisationFiles, TheFilesAreTheSameOnAnyNumberOfThreads)
{
    const ScratchDirectory one, three;
    SampleRecord time(64, 5), spectrum(64, 5);
    for (int r = 0; r <= 5; ++r)
        for (int n = 1; n <= 64; ++n)
            for (int c = 1; c <= 3; ++c) {
                time.at(c, n, r) = std::sin(0.37 * n * c + r) * (r + 1);
                spectrum.at(c, n, r) = std::cos(0.11 * n * c - r) / (c + n);
            }
    const std::vector<double> arrayed = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
    ASSERT_TRUE(writeMagnetisationFiles(one.path(), {time, spectrum, 64, 400.0, arrayed, true, 1}));
    ASSERT_TRUE(writeMagnetisationFiles(three.path(), {time, spectrum, 64, 400.0, arrayed, true, 3}));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(one.path())) {
        ++files;
        EXPECT_EQ(readBytes(three.path() / entry.path().filename()), readBytes(entry.path()))
            << entry.path().filename();
    }
    EXPECT_EQ(files, 15);
}

TEST(MagnetisationFiles, MissingRecordsAreRefused)
{
    const ScratchDirectory dir;
    SampleRecord empty;
    EXPECT_FALSE(writeMagnetisationFiles(dir.path(), {empty, empty, 4, 400.0, {}}));
}

TEST(Decimation, KeepsEveryFthSample)
{
    SampleRecord signal(12, 1);
    for (int n = 1; n <= 12; ++n)
        for (int r = 0; r <= 1; ++r)
            signal.at(2, n, r) = 100 * r + n;
    decimate(signal, 3, 4);
    for (int r = 0; r <= 1; ++r)
        for (int n = 1; n <= 4; ++n)
            EXPECT_EQ(signal.at(2, n, r), 100 * r + 3 * n);
}

}  // namespace
}  // namespace velmora::engine
