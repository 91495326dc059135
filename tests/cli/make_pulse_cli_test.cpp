// "velmora-cli make-pulse" end to end: the file written from the boxes set on the command line, the
// interlock of the shape boxes, the preview picture, the help text, and the exit statuses of a
// refused box and of a command line that is not understood.
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

// Runs "velmora-cli make-pulse --workdir <scratch>/work" + options, with HOME and XDG_CONFIG_HOME in
// the scratch directory.
class MakePulseCli : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    std::filesystem::path work = scratch.path() / "work";

    void SetUp() override { std::filesystem::create_directory(work); }

    Finished makePulse(const std::vector<std::string>& options, bool inWork = true) const
    {
        std::vector<std::string> arguments = {VELMORA_CLI_PATH, "make-pulse"};
        if (inWork)
            arguments.insert(arguments.end(), {"--workdir", work.string()});
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runProgram(arguments, scratch.path(), UserFolders{scratch.path() / "home", scratch.path() / "config"});
    }
};

TEST_F(MakePulseCli, WritesTheNamedPulseFromTheBoxesAndTheLastTickedShapeWins)
{
    const Finished made =
        makePulse({"--set", "Check2(4)=1", "--set", "Check2(0)=1", "--set", "Check2(5)=0", "--set",
                   "Text4(2)=128", "--set", "Text4(3)=1", "--set", "Check2(4)=0", "--name", "g128"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("gauss, 128 elements"), std::string::npos) << made.out;
    const std::string file = readBytes(work / "g128.RF");
    EXPECT_TRUE(file.starts_with("# mother 128 #\r\n# HS 1 #\r\n")) << file.substr(0, 40);
    EXPECT_NE(file.find("\r\n0.000\t1023.000\t1\r\n"), std::string::npos) << "the centre at full amplitude";

    // Ticking the HSn box clears the Gaussian one, as a click does.
    const Finished hsn =
        makePulse({"--set", "Check2(0)=1", "--set", "Check2(3)=1", "--set", "Text4(3)=1", "--name", "h"});
    ASSERT_EQ(hsn.status, 0) << hsn.err;
    EXPECT_NE(hsn.out.find("HSn pulse, 256 elements"), std::string::npos) << hsn.out;
}

TEST_F(MakePulseCli, RefusedBoxExitsWithOneAndWritesNothingAndABadCommandLineWithTwo)
{
    const Finished refused = makePulse({"--set", "Text4(4)=1.5", "--name", "nothing"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Error!: the box \"N delay in gap\""), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(work / "nothing.RF"));

    EXPECT_EQ(makePulse({"--name", "sub/x"}).status, 1);
    EXPECT_EQ(makePulse({"--set", "Text99(1)=3"}).status, 2);
    EXPECT_EQ(makePulse({"--2d"}).status, 2);
    EXPECT_TRUE(std::filesystem::is_empty(work));
}

TEST_F(MakePulseCli, HelpListsTheShapesAndTheMethods)
{
    const Finished help = makePulse({"--help"}, false);
    ASSERT_EQ(help.status, 0);
    for (const char* word : {"gauss", "AddTwoPulse", "AddHarmonics", "HSn pulse", "Stripe", "FM_sin", "zv ",
                             "step", "brok", "zv_rnd", "zv_center", "zvn ", "zvnm", "zvt ", "zvtt"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

#ifdef VELMORA_HAVE_RENDER
TEST_F(MakePulseCli, PngIsThePreviewWithTheInvertedBandInTheProfile)
{
    const Finished made = makePulse({"--set", "Text4(3)=1", "--set", "Text4(6)=8", "--name", "inv", "--png"});
    ASSERT_EQ(made.status, 0) << made.err;
    QImage preview;
    ASSERT_TRUE(preview.load(QString::fromStdString((work / "inv.png").string())));
    ASSERT_EQ(preview.size(), QSize(900, 600));
    // The profile panel (bottom right): z is blue, near -1 (low in the panel) at its centre.
    int blueLow = 0;
    for (int y = 300 + 200; y < 600; ++y)
        blueLow += preview.pixelColor(675, y) == QColor(0, 0, 255) ? 1 : 0;
    EXPECT_GT(blueLow, 0);
}
#endif

}  // namespace
}  // namespace velmora
