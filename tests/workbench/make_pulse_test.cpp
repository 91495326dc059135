// "make pulse" on a workbench: the file read back by the numeric reader, the same bytes on a second
// make, the shape boxes' interlock from the command line's assignments, and refusals that name the
// box and write nothing.
#include "pulses/numeric_table.h"
#include "support/scratch_directory.h"
#include "workbench/control_override.h"
#include "workbench/generator_boxes.h"
#include "workbench/make_pulse.h"
#include "workbench/workbench.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace velmora::workbench {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

class MakePulse : public ::testing::Test {
protected:
    ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};

    void set(const std::string& assignment)
    {
        const util::Outcome outcome = applyControlOverride(bench, assignment);
        ASSERT_TRUE(outcome) << assignment << ": " << outcome.message();
    }
    bool ticked(int box) const { return bench.controls().checked({"Check2", box}); }

    // Makes nothing: the one message names `box`, and the directory stays empty.
    void expectRefusalNaming(const std::string& box)
    {
        messages.entries.clear();
        EXPECT_FALSE(makePulse(bench));
        ASSERT_EQ(messages.entries.size(), 1u);
        EXPECT_NE(messages.entries[0].text.find("\"" + box + "\""), std::string::npos)
            << messages.entries[0].text;
        EXPECT_EQ(messages.entries[0].title, "Error!");
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
};

TEST_F(MakePulse, GaussianFileReadsBackWithItsCountHeaderAndValues)
{
    set("Check2(0)=1");
    set("Text4(2)=256");
    set("Text4(3)=1");
    set("Text4(1)=30");
    set("Text3=gauss256");
    const std::optional<MadePulse> made = makePulse(bench);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->fileName, "gauss256.RF");

    pulses::NumericBuffer buffer;
    util::RecordedMessages readerMessages;
    const pulses::NumericReadResult read =
        pulses::readNumericTable({.path = dir.path() / "gauss256.RF", .firstRow = 1}, buffer, readerMessages);
    ASSERT_TRUE(read.fileFound);
    EXPECT_EQ(read.nextRow - 1, 256);
    EXPECT_TRUE(read.comments.starts_with("# mother 256 #\r# HS 1 #\r# R 1 #\r")) << read.comments;
    const double k = 2.0 * std::sqrt(std::log(1000.0));
    for (int i = 1; i <= 256; ++i) {
        const double x = std::abs((i - 1) / 256.0 - 0.5) * k;
        EXPECT_NEAR(buffer.at(i, 1), 1023.0 * std::exp(-x * x), 0.0005) << i;
        EXPECT_NEAR(buffer.at(i, 0), 30.0, 0.0005) << i;
        EXPECT_EQ(buffer.at(i, 2), 1.0);
    }
}

TEST_F(MakePulse, TheSameBoxesGiveTheSameBytes)
{
    set("Text4(9)=zv_rnd");
    set("Text4(4)=32");
    set("Text4(2)=64");
    ASSERT_TRUE(makePulse(bench));
    const std::string first = readBytes(dir.path() / "ttt.RF");
    bench.random().next();
    ASSERT_TRUE(makePulse(bench));
    EXPECT_EQ(readBytes(dir.path() / "ttt.RF"), first);
    // 64 gaps of 64 elements: an acquisition during it records one point per gap.
    EXPECT_TRUE(first.starts_with("# mother 64 #\r\n"));
}

TEST_F(MakePulse, FirstFourShapeBoxesExcludeOneAnotherAndNoneTickedMakesHsn)
{
    set("Check2(0)=1");
    EXPECT_TRUE(ticked(0));
    EXPECT_FALSE(ticked(3));
    set("Check2(4)=1");
    set("Check2(2)=1");
    EXPECT_FALSE(ticked(0));
    EXPECT_TRUE(ticked(2));
    EXPECT_TRUE(ticked(4)) << "the stripe box is not part of the interlock";
    EXPECT_EQ(workbench::chooseShape(bench.controls()), pulses::kShapeStripe) << "the last ticked box wins";

    for (int box = 0; box < 6; ++box)
        set("Check2(" + std::to_string(box) + ")=0");
    set("Text4(7)=0");
    const std::optional<MadePulse> made = makePulse(bench);
    ASSERT_TRUE(made);
    EXPECT_TRUE(ticked(3));
    EXPECT_EQ(bench.controls().text({"Text4", 7}), "0.001") << "a truncation of 0 takes the default";
    EXPECT_EQ(made->pulse.table.points[8192][1], 1.023) << "an HS1 sweep ends at the truncation";
}

TEST_F(MakePulse, ASourceOfTheLargestSizeAPulseFileHoldsIsTakenWhole)
{
    // The generator's own largest pulse fills the reader's rows 1..200000 to the last one.
    std::string source;
    for (int i = 0; i < pulses::kMaxPulseElements; ++i)
        source += "0\t1023\t1\r\n";
    dir.writeBytes("long.RF", source);
    set("Check2(2)=1");
    set("Text4(11)=long");
    set("Text4(2)=4");
    set("Text4(3)=1");
    set("Text4(13)=n");
    const std::optional<MadePulse> made = makePulse(bench);
    ASSERT_TRUE(made) << (messages.entries.empty() ? "" : messages.entries.back().text);
    std::string expected;
    for (int i = 0; i < 4; ++i)
        expected += "0.000\t1023.000\t1\r\n";
    EXPECT_EQ(readBytes(dir.path() / "ttt.RF"), expected);
}

TEST_F(MakePulse, RefusalsNameTheBoxAndWriteNothing)
{
    set("Check2(1)=1");
    expectRefusalNaming("ttt2=1     ttt1=");
    set("Check2(2)=1");
    set("Text4(11)=missing");
    expectRefusalNaming("shape");
    set("Check2(3)=1");
    set("Text4(3)=2.5");
    expectRefusalNaming("N pulse in gap");
    set("Text4(3)=0");
    set("Text4(4)=0");
    expectRefusalNaming("N pulse in gap");
    set("Text4(3)=4");
    set("Text4(2)=-1");
    expectRefusalNaming("Ngap");
    set("Text4(2)=16");
    set("Text4(9)=zz");
    expectRefusalNaming("method");
    set("Text4(9)=zv");
    set("Text3=../elsewhere");
    expectRefusalNaming("Name");
    set("Text3=ok");
    ASSERT_TRUE(makePulse(bench));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "ok.RF"));
}

}  // namespace
}  // namespace velmora::workbench
