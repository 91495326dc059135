// The spin-system panel's editing: the positions on the circle, which position a click selects,
// what the nuclei window shows, and how the nucleus chooser and the boxes change the spin system.
#include "model/controls.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "util/rounding.h"
#include "workbench/spin_panel_editor.h"
#include "workbench/workbench.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::workbench {
namespace {

using model::ControlId;
namespace ctl = model::ctl;

ControlId box(int index)
{
    return {"Text42", index};
}

class SpinPanelEditorTest : public ::testing::Test {
protected:
    SpinPanelEditorTest() : bench(messages, dir.path()), editor(bench) { bench.spinSystem().rebuild(); }

    model::SpinSystem& spins() { return bench.spinSystem(); }
    const std::string& text(ControlId id) { return bench.controls().text(id); }
    // A click at position i of the current spin count.
    SpinClick clickPosition(int i)
    {
        const TwipPoint p = spinPanelPosition(i, spins().spinCount());
        return editor.click(p.x, p.y);
    }

    testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench;
    SpinPanelEditor editor;
};

// ----- Geometry and selection ----------------------------------------------------------------------

TEST(SpinPanelGeometry, OneSpinAndItsBlankPositionSitAtTopAndBottom)
{
    EXPECT_EQ(spinPanelPositionCount(1), 2);
    const TwipPoint top = spinPanelPosition(0, 1);
    const TwipPoint bottom = spinPanelPosition(1, 1);
    EXPECT_DOUBLE_EQ(top.x, 1200.0);
    EXPECT_DOUBLE_EQ(top.y, 200.0);
    EXPECT_NEAR(bottom.x, 1200.0, 1e-9);
    EXPECT_DOUBLE_EQ(bottom.y, 1800.0);
}

TEST(SpinPanelGeometry, PositionsRunClockwiseFromTheTop)
{
    // Three spins and the blank position: top, right, bottom, left.
    EXPECT_NEAR(spinPanelPosition(1, 3).x, 2000.0, 1e-9);
    EXPECT_NEAR(spinPanelPosition(1, 3).y, 1000.0, 1e-9);
    EXPECT_NEAR(spinPanelPosition(3, 3).x, 400.0, 1e-9);
    EXPECT_NEAR(spinPanelPosition(3, 3).y, 1000.0, 1e-9);
}

TEST(SpinPanelGeometry, TenSpinsHaveNoBlankPosition)
{
    EXPECT_EQ(spinPanelPositionCount(9), 10);
    EXPECT_EQ(spinPanelPositionCount(10), 10);
    const TwipPoint eleventh = spinPanelPosition(10, 10);
    EXPECT_FALSE(spinPanelPositionAt(10, eleventh.x, eleventh.y));
    const TwipPoint tenth = spinPanelPosition(9, 10);
    EXPECT_EQ(spinPanelPositionAt(10, tenth.x, tenth.y), 9);
}

TEST(SpinPanelGeometry, AClickMustFallStrictlyWithin200TwipsOfAPosition)
{
    // Position 0 of one spin lies exactly at (1200, 200).
    EXPECT_EQ(spinPanelPositionAt(1, 1399.0, 399.0), 0);
    EXPECT_EQ(spinPanelPositionAt(1, 1001.0, 1.0), 0);
    EXPECT_FALSE(spinPanelPositionAt(1, 1400.0, 200.0));
    EXPECT_FALSE(spinPanelPositionAt(1, 1200.0, 400.0));
    EXPECT_FALSE(spinPanelPositionAt(1, 1000.0, 200.0));
    EXPECT_FALSE(spinPanelPositionAt(1, 1200.0, 0.0));
    // The blank position at (1200, 1800): the panel ends at y = 2000.
    EXPECT_EQ(spinPanelPositionAt(1, 1200.0, 1999.0), 1);
    EXPECT_FALSE(spinPanelPositionAt(1, 1200.0, 2000.0));
    EXPECT_FALSE(spinPanelPositionAt(1, 1200.0, 1000.0)) << "between the positions";
}

TEST(SpinPanelGeometry, SingleValuesShowTheirShortestText)
{
    EXPECT_EQ(spinValueText(0.4), "0.4");
    EXPECT_EQ(spinValueText(util::toSingle(0.4)), "0.4");
    EXPECT_EQ(spinValueText(util::toSingle(1.0 / 3.0)), "0.33333334");
    EXPECT_EQ(spinValueText(1.0 / 3.0), "0.333333333333333") << "a value no single holds keeps 15 digits";
    EXPECT_EQ(spinValueText(140.0), "140");
    EXPECT_EQ(spinValueText(-0.5), "-0.5");
}

// ----- Click ----------------------------------------------------------------------------------------

TEST_F(SpinPanelEditorTest, ClickOnASpinFillsTheNucleiWindow)
{
    ASSERT_EQ(clickPosition(1), SpinClick::Selected);
    EXPECT_EQ(editor.selectedSpin(), 1);
    EXPECT_EQ(bench.controls().caption(ctl::SelectedSpinLabel), "H1");
    EXPECT_EQ(text(box(0)), "30");
    EXPECT_EQ(text(box(1)), "0");
    EXPECT_EQ(text(box(2)), "140");
    for (int j = 3; j <= 9; ++j)
        EXPECT_EQ(text(box(j)), "") << "no spin " << j;
    EXPECT_EQ(text(box(kShiftPpmBox)), "0.4");
    EXPECT_EQ(text(box(kShiftHzBox)), "68") << "0.4 ppm at 170 MHz";
    EXPECT_EQ(text(box(kT1Box)), "1000");
    EXPECT_EQ(text(box(kT2Box)), "100");
    EXPECT_EQ(bench.controls().at(ctl::NucleusChooser).items,
              (std::vector<std::string>{"", "H1", "C1", "N1"}));
    EXPECT_EQ(text(ctl::NucleusChooser), "H1");
}

TEST_F(SpinPanelEditorTest, ClicksOutsideSelectNothingAndExchangeModeIgnoresThem)
{
    EXPECT_EQ(editor.click(1200.0, 1000.0), SpinClick::Outside);
    EXPECT_EQ(editor.click(2600.0, 1000.0), SpinClick::Outside);
    EXPECT_FALSE(editor.selectedSpin());

    bench.setExchangeMode(true);
    EXPECT_EQ(clickPosition(0), SpinClick::Ignored);
    EXPECT_FALSE(editor.selectedSpin());
}

// ----- Nucleus chooser ------------------------------------------------------------------------------

TEST_F(SpinPanelEditorTest, ChoosingACarbonOnTheBlankPositionAddsASpin)
{
    bench.controls().setCaption(ctl::InitialCondition, "nonequilibrium");
    bench.controls().setItems(ctl::InitialOperators, {"H0x"});
    bench.controls().setVisible(ctl::InitialOperators, true);

    ASSERT_EQ(clickPosition(3), SpinClick::Selected) << "the blank position after three spins";
    EXPECT_EQ(bench.controls().caption(ctl::SelectedSpinLabel), "");
    EXPECT_EQ(bench.controls().at(ctl::NucleusChooser).items,
              (std::vector<std::string>{"", "H3", "C3", "N3"}));
    ASSERT_TRUE(editor.chooseNucleus("C3"));

    EXPECT_EQ(spins().spinCount(), 4);
    EXPECT_EQ(spins().label(3), "C3");
    EXPECT_EQ(spins().channel(3), 1);
    EXPECT_EQ(bench.controls().caption(ctl::SelectedSpinLabel), "C3");
    EXPECT_EQ(spinPanelPositionCount(spins().spinCount()), 5) << "a new blank position";
    EXPECT_EQ(bench.controls().caption(ctl::InitialCondition), "equilibrium");
    EXPECT_TRUE(bench.controls().at(ctl::InitialOperators).items.empty());
    EXPECT_FALSE(bench.controls().at(ctl::InitialOperators).visible);
}

TEST_F(SpinPanelEditorTest, ANewSpinStartsFromAnEmptySlotNotFromAnEarlierMoleculesLeftovers)
{
    // What a four-spin molecule read before a three-spin one leaves in slot 3.
    spins().setShiftPpm(3, 7.25);
    spins().setT2Ms(3, 12.0);
    spins().setCouplingHz(0, 3, 9.0);
    ASSERT_EQ(clickPosition(3), SpinClick::Selected);
    ASSERT_TRUE(editor.chooseNucleus("H3"));
    EXPECT_EQ(spins().shiftPpm(3), 0.0);
    EXPECT_EQ(spins().t2Ms(3), 100.0);
    EXPECT_EQ(spins().couplingHz(0, 3), 0.0);
    EXPECT_EQ(bench.controls().text(box(kShiftPpmBox)), "0");
}

TEST_F(SpinPanelEditorTest, DeletingSpinOneOfThreeRenumbersTheSpinBehindIt)
{
    spins().setShiftPpm(2, 77.0);
    spins().setT1Ms(2, 500.0);
    spins().setCouplingHz(0, 2, 7.0);
    ASSERT_EQ(clickPosition(1), SpinClick::Selected);
    ASSERT_TRUE(editor.chooseNucleus(""));

    EXPECT_EQ(spins().spinCount(), 2);
    EXPECT_EQ(spins().label(1), "C1");
    EXPECT_EQ(spins().shiftPpm(1), 77.0);
    EXPECT_EQ(spins().t1Ms(1), 500.0);
    EXPECT_EQ(spins().couplingHz(0, 1), 7.0) << "the former J(0, 2)";
    EXPECT_TRUE(spins().isEmpty(2));
    for (int j = 0; j < 3; ++j)
        EXPECT_EQ(text(box(j)), "0");
    EXPECT_EQ(text(box(kShiftPpmBox)), "");
    EXPECT_FALSE(editor.selectedSpin()) << "slot 1 now holds the carbon";
    EXPECT_FALSE(editor.chooseNucleus("H1")) << "no selection until the next click";
    EXPECT_EQ(spins().label(1), "C1");
}

TEST_F(SpinPanelEditorTest, TheLastSpinCannotBeDeleted)
{
    ASSERT_TRUE(spins().setLabel(1, ""));
    ASSERT_TRUE(spins().setLabel(2, ""));
    spins().rebuild();
    ASSERT_EQ(clickPosition(0), SpinClick::Selected);
    EXPECT_FALSE(editor.chooseNucleus(""));
    EXPECT_EQ(spins().label(0), "H0");

    EXPECT_TRUE(editor.chooseNucleus("N0")) << "changing its nucleus is allowed";
    EXPECT_EQ(spins().label(0), "N0");
}

// ----- Boxes ----------------------------------------------------------------------------------------

TEST_F(SpinPanelEditorTest, EditedBoxesAreReadBackWithShiftAndRelaxationAtSinglePrecision)
{
    ASSERT_EQ(clickPosition(0), SpinClick::Selected);
    model::Controls& controls = bench.controls();
    controls.setText(box(1), "12.3");
    controls.setText(box(kShiftPpmBox), "0.1");
    controls.setText(box(kT1Box), "1234.567");
    controls.setText(box(kT2Box), "2e2");
    ASSERT_TRUE(editor.editBox(kShiftPpmBox));

    EXPECT_EQ(spins().couplingHz(0, 1), 12.3) << "couplings keep double precision";
    EXPECT_EQ(spins().couplingHz(1, 0), 12.3);
    EXPECT_EQ(spins().shiftPpm(0), static_cast<double>(0.1f));
    EXPECT_NE(spins().shiftPpm(0), 0.1);
    EXPECT_EQ(spins().t1Ms(0), static_cast<double>(1234.567f));
    EXPECT_EQ(spins().t2Ms(0), 200.0);
    EXPECT_EQ(text(box(kShiftHzBox)), "17") << "0.1 ppm at 170 MHz";
    EXPECT_EQ(text(box(kShiftPpmBox)), "0.1") << "the edited box keeps the typed text";
}

TEST_F(SpinPanelEditorTest, ABoxWithoutANumberIsRefusedAndTheModelKept)
{
    ASSERT_EQ(clickPosition(1), SpinClick::Selected);
    const double before = spins().couplingHz(1, 0);
    ASSERT_NE(before, 0.0);
    bench.controls().setText(box(0), "3o");
    bench.controls().setText(box(kShiftPpmBox), "-");
    EXPECT_FALSE(editor.editBox(kShiftPpmBox));
    EXPECT_EQ(spins().couplingHz(1, 0), before);
    EXPECT_EQ(text(box(0)), spinValueText(before)) << "the boxes show the model again";
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_NE(messages.entries.front().text.find("is not a number"), std::string::npos);
}

TEST_F(SpinPanelEditorTest, EditsAreRefusedWhileARunIsInProgress)
{
    ASSERT_EQ(clickPosition(0), SpinClick::Selected);
    ASSERT_TRUE(bench.runControl().tryStart());
    bench.controls().setText(box(kShiftPpmBox), "5");
    EXPECT_FALSE(editor.editBox(kShiftPpmBox));
    EXPECT_EQ(spins().shiftPpm(0), -0.5);
    EXPECT_EQ(text(box(kShiftPpmBox)), "-0.5") << "the box shows the model again";
    EXPECT_FALSE(editor.chooseNucleus("C0"));
    EXPECT_EQ(spins().label(0), "H0");
    bench.runControl().stop();
}

}  // namespace
}  // namespace velmora::workbench
