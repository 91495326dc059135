// End-to-end runs of "velmora-cli exchange" in scratch working directories.
#include "support/program_run.h"
#include "support/scratch_directory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#ifdef VELMORA_HAVE_RENDER
#include <QImage>
#include <QString>
#endif

namespace velmora {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

using velmora::testing::Finished;
using velmora::testing::runProgram;
using velmora::testing::UserFolders;

class ExchangeCli : public ::testing::Test {
protected:
    ScratchDirectory scratch;

    // "velmora-cli exchange --workdir <scratch>" and `options`; HOME points into the scratch folder.
    Finished exchange(const std::vector<std::string>& options) const
    {
        std::vector<std::string> arguments = {VELMORA_CLI_PATH, "exchange", "--workdir",
                                              scratch.path().string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runProgram(arguments, scratch.path(), UserFolders{scratch.path(), scratch.path()});
    }
};

const std::vector<std::string> kTcpSweep = {
    "--set",       "Array=tcp", "--set",      "Ni=3",         "--set",     "step=300", "--set",
    "tcp=100",     "--set",     "Tp=2",       "--set",        "w1=250000", "--set",    "kex=1000",
    "--set",       "Pa=0.9",    "--set",      "ch_shift=200", "--set",     "Necho=8",  "--set",
    "Check1(7)=1", "--set",     "Text9=cpmg", "--grids",      "20",        "--seed",   "9"};

TEST_F(ExchangeCli, WritesTheTablePrintsTheListAndRepeatsOnAnyThreadCount)
{
    std::vector<std::string> one = kTcpSweep;
    one.insert(one.end(), {"--threads", "1"});
    const Finished first = exchange(one);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string table = readBytes(scratch.path() / "cpmg.dat");
    EXPECT_TRUE(table.starts_with(
        "Parameters\ttcp\tch_shift\tRex\tX\tX0\terr%\tRab\tRba\tPa\tKex_cal\tR2eff\tR2eff_rep\tR2eff_se\t"
        "Kex_cal_se\r\n"));
    EXPECT_NE(first.out.find("20 grid(s) of 4 point(s) (tcp x ch_shift), 200 histories a point, seed 9"),
              std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find("\n400\t200\t"), std::string::npos) << "the second tcp of the list";

    std::vector<std::string> two = kTcpSweep;
    two.insert(two.end(), {"--threads", "2"});
    const Finished second = exchange(two);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(readBytes(scratch.path() / "cpmg.dat"), table);
}

TEST_F(ExchangeCli, WithStrongCouplingOnTheSummaryNotesThatTheSwitchDoesNotApply)
{
    std::vector<std::string> options = kTcpSweep;
    options.insert(options.end(), {"--set", "strong-coupling=1", "--grids", "1"});
    const Finished run = exchange(options);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("note: the strong-coupling switch"), std::string::npos) << run.out;
}

TEST_F(ExchangeCli, RefusalsAndUsageErrors)
{
    const Finished negative = exchange({"--set", "tcp=-3", "--grids", "1"});
    EXPECT_EQ(negative.status, 1);
    EXPECT_EQ(negative.err, "Error!: negative value?\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "exchange.dat"));
    EXPECT_EQ(exchange({"--grids", "1001"}).status, 2);
    EXPECT_EQ(exchange({"--set", "kex=fast"}).status, 2);
    EXPECT_EQ(exchange({"--seed"}).status, 2);
}

TEST_F(ExchangeCli, HostileSettingsAreRefusedBeforeAnyFileIsTouched)
{
    const std::string earlier = "an earlier table\r\n";
    scratch.writeBytes("exchange.dat", earlier);
    std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / "cpmg_dispersion.psq",
                               scratch.path() / "cpmg_dispersion.psq");
    const std::vector<std::vector<std::string>> hostile = {{"tcp=1e12"},
                                                           {"kex=1e300"},
                                                           {"step=1e300"},
                                                           {"Ni=2147483647"},
                                                           {"Ni=46340", "Ni2=46340"},
                                                           {"Necho=1e10"},
                                                           {"ShapedPulse=/etc/hostname"},
                                                           {"ShapedPulse=../outside.RF"}};
    for (const std::vector<std::string>& assignments : hostile) {
        std::vector<std::string> options{"--psq", "cpmg_dispersion.psq", "--grids", "1"};
        for (const std::string& assignment : assignments)
            options.insert(options.end(), {"--set", assignment});
        const Finished refused = exchange(options);
        EXPECT_EQ(refused.status, 1) << assignments[0] << ": " << refused.err;
        EXPECT_TRUE(refused.err.starts_with("Error!: ")) << refused.err;
        EXPECT_EQ(readBytes(scratch.path() / "exchange.dat"), earlier) << assignments[0];
        EXPECT_FALSE(std::filesystem::exists(scratch.path() / "rem.psq")) << assignments[0];
    }
    const Finished threads = exchange({"--threads", "100000"});
    EXPECT_EQ(threads.status, 2);
    EXPECT_NE(threads.err.find("1 to 256"), std::string::npos) << threads.err;
}

#ifdef VELMORA_HAVE_RENDER
TEST_F(ExchangeCli, PngDrawsTheDispersionPlot)
{
    std::vector<std::string> options = kTcpSweep;
    options.push_back("--png");
    ASSERT_EQ(exchange(options).status, 0);
    const QImage image(QString::fromStdString((scratch.path() / "dispersion.png").string()));
    ASSERT_FALSE(image.isNull());
    int coloured = 0;
    int white = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            white += p == qRgb(255, 255, 255);
            coloured += qRed(p) < 100 && qGreen(p) < 100 && qBlue(p) < 100;
        }
    }
    EXPECT_GT(white, image.width() * image.height() / 2) << "a white background";
    EXPECT_GT(coloured, 500) << "axes, points and the fitted curve";
}
#endif

}  // namespace
}  // namespace velmora
