#include "support/scratch_directory.h"
#include "util/text_file.h"
#include "workbench/dispersion_command.h"
#include "workbench/workbench.h"

#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

using model::ExchangeSettings;
using velmora::testing::ScratchDirectory;

class DispersionCommand : public ::testing::Test {
protected:
    ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};

    void SetUp() override
    {
        bench.resetToDefaults();
        bench.exchange().lastRunIndex = 1;
        bench.exchange().values[ExchangeSettings::Necho] = 4;
    }
};

TEST_F(DispersionCommand, SavesTheSequenceFillsTheListAndWritesTheNamedTable)
{
    bench.controls().setText({"Text9", 0}, "cpmg");
    int gridsSeen = 0;
    const DispersionRun run = runDispersionCommand(
        bench, {5, 2, "2026-12-08"},
        {{}, [&](const exchange::PreparedDispersion&, const exchange::DispersionResults& r) {
             gridsSeen = r.gridsDone;
         }});
    ASSERT_EQ(run.outcome, DispersionOutcome::Completed);
    EXPECT_EQ(gridsSeen, 2);
    EXPECT_TRUE(util::fileExists(dir.path() / "rem.psq"));
    const std::vector<std::string>& list = bench.controls().at(model::ctl::ResultList).items;
    ASSERT_EQ(list.size(), 3u) << "the header and two points";
    EXPECT_EQ(list[0].substr(0, 13), "Kex\tch_shift\t");
    const util::TextFileContent table = util::readTextLines(dir.path() / "cpmg.dat");
    ASSERT_TRUE(table.ok);
    EXPECT_EQ(table.lines[1].substr(table.lines[1].find('\t') + 1), list[1]);
    EXPECT_FALSE(bench.runControl().running());
}

TEST_F(DispersionCommand, ARefusedOrBusyStartWritesNothing)
{
    bench.exchange().values[ExchangeSettings::Kex] = -5;
    EXPECT_EQ(runDispersionCommand(bench, {1, 1, ""}).outcome, DispersionOutcome::Refused);
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].text, "negative value?");
    bench.exchange().values[ExchangeSettings::Kex] = 100;
    bench.controls().setText({"Text9", 0}, "../outside");
    EXPECT_EQ(runDispersionCommand(bench, {1, 1, ""}).outcome, DispersionOutcome::Refused);
    ASSERT_TRUE(bench.runControl().tryStart());
    bench.controls().setText({"Text9", 0}, "exchange");
    EXPECT_EQ(runDispersionCommand(bench, {1, 1, ""}).outcome, DispersionOutcome::Busy);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "neither rem.psq nor a table";
}

TEST_F(DispersionCommand, WithStrongCouplingOnTheRunSaysTheSwitchDoesNotApplyAndGivesTheSameTable)
{
    bench.controls().setText({"Text9", 0}, "weak");
    const DispersionRun weak = runDispersionCommand(bench, {5, 1, "2026-12-08"});
    ASSERT_EQ(weak.outcome, DispersionOutcome::Completed);
    EXPECT_TRUE(weak.note.empty());
    bench.controls().setChecked(model::ctl::StrongCoupling, true);
    bench.controls().setText({"Text9", 0}, "strong");
    const DispersionRun strong = runDispersionCommand(bench, {5, 1, "2026-12-08"});
    ASSERT_EQ(strong.outcome, DispersionOutcome::Completed);
    EXPECT_NE(strong.note.find("strong-coupling"), std::string::npos) << strong.note;
    EXPECT_EQ(util::readTextLines(dir.path() / "strong.dat").lines,
              util::readTextLines(dir.path() / "weak.dat").lines);
}

}  // namespace
}  // namespace velmora::workbench
