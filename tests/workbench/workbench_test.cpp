#include "support/scratch_directory.h"
#include "workbench/workbench.h"

#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

TEST(WorkbenchStartUp, ShapedElementsTakeTheFirstShapeFilesOfTheDirectory)
{
    const testing::ScratchDirectory dir;
    dir.writeBytes("zeta.rf", "0 1023 1\r\n");
    dir.writeBytes("Alpha.RF", "0 1023 1\r\n");
    dir.writeBytes("ramp.grd", "1\r\n");
    dir.writeBytes("notes.txt", "");
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());

    EXPECT_EQ(bench.sequence().elements().name(51), "s1_Alpha.RF") << "byte order puts upper case first";
    EXPECT_EQ(bench.sequence().elements().name(60), "s10_Alpha.RF");
    EXPECT_EQ(bench.sequence().elements().name(61), "s1_ramp.grd")
        << "extensions match without regard to case";
    EXPECT_TRUE(messages.entries.empty());
}

TEST(WorkbenchStartUp, WithoutShapeFilesTheElementsNameTheFallbackFiles)
{
    const testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    EXPECT_EQ(bench.sequence().elements().name(51), "s1_ttt.RF");
    EXPECT_EQ(bench.sequence().elements().name(70), "s10_ttt.GRD");
}

TEST(WorkbenchStartUp, WorkingDirectoryEndsInTheSeparatorAndNamesFiles)
{
    const testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    ASSERT_FALSE(bench.workingDirectory().empty());
    EXPECT_EQ(bench.workingDirectory().back(), '/');
    EXPECT_EQ(bench.pathOf("rem.mol"), dir.path() / "rem.mol");
    bench.setWorkingDirectory(dir.path().string() + "/");
    EXPECT_EQ(bench.workingDirectory(), dir.path().string() + "/") << "no doubled separator";
}

TEST(WorkbenchStartUp, ResetReturnsModelControlsAndFlagsToStartUp)
{
    const testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    ASSERT_TRUE(bench.sequence().insertStep(0));
    ASSERT_TRUE(bench.spinSystem().setLabel(3, "N3"));
    bench.controls().setText(model::ctl::PointCount, "1024");
    bench.setRunsPerValue(2);
    bench.setExchangeMode(true);

    bench.resetToDefaults();
    bench.spinSystem().rebuild();
    EXPECT_EQ(bench.sequence().stepCount(), 2);
    EXPECT_EQ(bench.spinSystem().spinCount(), 3);
    EXPECT_EQ(bench.controls().text(model::ctl::PointCount), "256");
    EXPECT_EQ(bench.runsPerValue(), 1);
    EXPECT_FALSE(bench.exchangeMode());
}

}  // namespace
}  // namespace velmora::workbench
