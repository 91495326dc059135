#include "support/scratch_directory.h"
#include "workbench/exchange_mode_switch.h"
#include "workbench/file_commands.h"
#include "workbench/workbench.h"

#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

using velmora::testing::ScratchDirectory;

TEST(ExchangeModeSwitch, RelabelsRowsShowsTheExchangeControlsAndTwoSwitchesRestoreEverything)
{
    ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};
    bench.resetToDefaults();
    const model::Controls before = bench.controls();

    // The working sequence is stored and read again: values set since it was last stored stay.
    bench.exchange().values[model::ExchangeSettings::Kex] = 1;
    ASSERT_TRUE(saveSequence(bench, "rem.psq"));
    bench.exchange().values[model::ExchangeSettings::Kex] = 777;
    bench.exchange().sweptName = "tcp";
    bench.controls().setText(model::ctl::SpectralWidth, "900");

    OrdinaryCaptions saved;
    ASSERT_TRUE(toggleExchangeMode(bench, saved));
    EXPECT_TRUE(bench.exchangeMode());
    EXPECT_EQ(bench.exchange().values[model::ExchangeSettings::Kex], 777);
    EXPECT_EQ(bench.controls().text(model::ctl::SpectralWidth), "900");
    Workbench reader{messages, dir.path()};
    ASSERT_TRUE(openSequence(reader, "rem.psq").wasRead());
    EXPECT_EQ(reader.exchange().values[model::ExchangeSettings::Kex], 777) << "stored at the switch";
    const model::Controls& c = bench.controls();
    EXPECT_EQ(c.caption({"Label10", 22}), "Tp");
    EXPECT_EQ(c.caption({"Label10", 29}), "ch_shift");
    EXPECT_EQ(c.caption(model::ctl::ArrayedParameter), "tcp");
    EXPECT_EQ(c.caption(model::ctl::SecondArrayedParameter), "ch_shift");
    EXPECT_EQ(c.caption({"Label3", 7}), "Ix");
    EXPECT_FALSE(c.at({"Label3", 0}).visible);
    EXPECT_FALSE(c.at(model::ctl::PhaseCycle).visible);
    EXPECT_TRUE(c.at({"Text9", 0}).visible);
    EXPECT_TRUE(c.at({"Label10", 48}).visible);
    EXPECT_TRUE(c.at({"Label3", 6}).visible);

    EXPECT_FALSE(toggleExchangeMode(bench, saved));
    for (const auto& id :
         {model::ControlId{"Label10", 22}, model::ControlId{"Label10", 15}, model::ControlId{"Label10", 19},
          model::ControlId{"Label10", 27}, model::ControlId{"Label10", 29}, model::ControlId{"Label3", 0},
          model::ControlId{"Label3", 6}, model::ControlId{"Label3", 7}, model::ControlId{"Label3", 15},
          model::ControlId{"Label10", 6}, model::ControlId{"Label10", 48}, model::ControlId{"Text9", 0},
          model::ControlId{"Text1", 11}, model::ControlId{"Text14", 2}, model::ControlId{"List5", 0},
          model::ControlId{"Command2", 0}})
        EXPECT_EQ(bench.controls().at(id), before.at(id)) << model::Controls::nameOf(id);
    EXPECT_EQ(bench.controls().text(model::ctl::SpectralWidth), "900") << "kept through both switches";
}

}  // namespace
}  // namespace velmora::workbench
