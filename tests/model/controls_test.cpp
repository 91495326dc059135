#include "model/controls.h"

#include <gtest/gtest.h>

namespace velmora::model {
namespace {

TEST(ControlsDefaults, RunBoxesCarryTheirDesignerTexts)
{
    Controls c;
    EXPECT_EQ(c.text(ctl::ArrayIncrement), "2");
    EXPECT_EQ(c.text(ctl::ScanCount), " 1");
    EXPECT_EQ(c.text(ctl::LastSlice), "127");
    EXPECT_EQ(c.text(ctl::SpectralWidth), "400");
    EXPECT_EQ(c.text(ctl::AcquisitionTime), "637.5");
    EXPECT_EQ(c.text(ctl::ArraySize), "31");
    EXPECT_EQ(c.text(ctl::PointCount), "256");
    EXPECT_EQ(c.text(ctl::IndirectSpectralWidth), "500");
    EXPECT_EQ(c.text(ctl::RelaxationT1), "1000");
    EXPECT_EQ(c.text(ctl::RelaxationT2), "100");
    EXPECT_EQ(c.text(ctl::CrossRelaxationTime), "3000");
    EXPECT_EQ(c.text(ctl::CorrelationPulse), "ahs1p256_32_32.RF");
    EXPECT_EQ(c.text(ctl::ExchangeRate), "1000");
    for (int i = 0; i <= 26; ++i)
        EXPECT_TRUE(c.contains({"Text14", i})) << i;
    EXPECT_FALSE(c.contains({"Text14", 27}));
}

TEST(ControlsDefaults, StartUpSettingsMakeAStatesCosy)
{
    Controls c;
    const ControlState& phases = c.at(ctl::PhaseCycle);
    ASSERT_EQ(phases.items.size(), 6u);
    EXPECT_EQ(phases.items[0], "01") << "f4 gives x, then y, in the two runs of an increment";
    for (int r = 1; r < 6; ++r)
        EXPECT_EQ(phases.items[r], "0");
    EXPECT_EQ(c.text(ctl::IndirectMethod), "States");
    EXPECT_EQ(c.at(ctl::IndirectMethod).items, (std::vector<std::string>{"States", "TPPI"}));
    EXPECT_EQ(c.text(ctl::DetectionChannel), "H1");
    EXPECT_EQ(c.at(ctl::DetectionChannel).items,
              (std::vector<std::string>{"H1", "C13", "N15", "all_x", "all_y", "all_xy"}));
    EXPECT_EQ(c.caption(ctl::ArrayMethod), "Add");
    EXPECT_EQ(c.caption(ctl::InitialCondition), "equilibrium");
}

TEST(ControlsDefaults, SwitchesAndWindowChoices)
{
    Controls c;
    EXPECT_EQ(c.caption(ctl::CrossRelaxation), "cross-relaxation");
    EXPECT_EQ(c.caption(ctl::T2FromT1), "T2=T1/");
    EXPECT_EQ(c.caption({"Check1", 28}), "MBSWIFT");
    EXPECT_TRUE(c.checked(ctl::JCoupling));
    EXPECT_FALSE(c.checked(ctl::T1Relaxation));
    EXPECT_EQ(c.text(ctl::DirectWindow), "Gauss");
    EXPECT_EQ(c.at(ctl::DirectWindow).items.back(), "new");
    EXPECT_EQ(c.text(ctl::ObjectProfile), "square");
    EXPECT_EQ(c.text({"Text4", 9}), "zv");
    EXPECT_EQ(c.text({"Text4", 7}), "0.001");
    EXPECT_EQ(c.text({"Text10", 0}), "60");
    EXPECT_EQ(c.text({"Text10", 2}), "50000");
    EXPECT_EQ(c.caption(ctl::SpectrumOrFid), "fid");
    EXPECT_EQ(c.text(ctl::SequenceFileName), "rem.psq");
}

TEST(ControlsAccess, UnknownControlsAreReportedByName)
{
    Controls c;
    try {
        (void)c.at({"Text14", 99});
        FAIL() << "expected an exception";
    } catch (const std::out_of_range& e) {
        EXPECT_NE(std::string(e.what()).find("Text14(99)"), std::string::npos);
    }
}

TEST(ControlsAccess, ParseFindsRegisteredControls)
{
    Controls c;
    const auto id = c.parse("Text14(12)");
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(c.text(*id), "256");
    EXPECT_TRUE(c.parse("Text3").has_value());
    EXPECT_FALSE(c.parse("Text14(99)").has_value());
    EXPECT_FALSE(c.parse("Text14(1").has_value());
    EXPECT_FALSE(c.parse("Text14()").has_value());
    EXPECT_FALSE(c.parse("Text14(-1)").has_value());
    EXPECT_FALSE(c.parse("").has_value());
}

TEST(ControlsAccess, SettersNotifyTheListenerAndResetRestoresDefaults)
{
    Controls c;
    std::vector<std::string> changed;
    c.setChangeListener([&](ControlId id) { changed.push_back(Controls::nameOf(id)); });
    c.setText(ctl::PointCount, "512");
    c.setChecked(ctl::T2Relaxation, true);
    c.setItems(ctl::InitialOperators, {"xH0", "yH1"});
    EXPECT_EQ(changed, (std::vector<std::string>{"Text14(12)", "Check1(7)", "List6(2)"}));
    EXPECT_EQ(c.at(ctl::InitialOperators).selected.size(), 2u);
    c.resetToDefaults();
    EXPECT_EQ(c.text(ctl::PointCount), "256");
    EXPECT_FALSE(c.checked(ctl::T2Relaxation));
}

}  // namespace
}  // namespace velmora::model
