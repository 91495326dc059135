// The sequence panel's editing: the layout of the steps and the step a click selects, the
// Parameters cells of the current step, the chooser's items and what a choice stores, the value
// boxes, the step buttons with the markers, the initial-condition button and the phase-row editor.
#include "model/controls.h"
#include "model/operator_choices.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "workbench/sequence_panel_editor.h"
#include "workbench/workbench.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::workbench {
namespace {

using model::ControlId;
namespace ctl = model::ctl;

ControlId cell(int index)
{
    return {"Label3", index};
}

ControlId valueBox(int index)
{
    return {"Text1", index};
}

std::vector<std::string> numbered(const std::string& prefix, const std::string& suffix = "")
{
    std::vector<std::string> names;
    for (int i = 1; i <= 10; ++i)
        names.push_back(prefix + std::to_string(i) + suffix);
    return names;
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SequencePanelEditorTest : public ::testing::Test {
protected:
    SequencePanelEditorTest() : bench(messages, dir.path()), editor(bench)
    {
        bench.spinSystem().rebuild();
        bench.setPreparationOnlyRun([this](Workbench&) { ++preparations; });
    }

    model::PulseSequence& sequence() { return bench.sequence(); }
    const std::string& caption(ControlId id) { return bench.controls().caption(id); }
    const std::string& text(ControlId id) { return bench.controls().text(id); }
    void type(int box, const std::string& value) { bench.controls().setText(valueBox(box), value); }
    // A choice in a cell of the current step, as the window makes it.
    bool choose(int cellIndex, const std::string& choice)
    {
        return editor.pickCell(cellIndex) && editor.choose(choice);
    }

    testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench;
    SequencePanelEditor editor;
    int preparations = 0;
};

// ----- Layout and selection -------------------------------------------------------------------------

TEST(SequenceLayout, StepsWithDelaysHaveEqualSpansBetweenTheMargins)
{
    model::PulseSequence sequence;
    ASSERT_TRUE(sequence.setDelay(2, "d3"));
    const SequenceLayout layout = layoutSteps(sequence, 1300.0);

    ASSERT_EQ(layout.stepCount(), 2);
    EXPECT_DOUBLE_EQ(layout.stepLeft(0), 100.0);
    EXPECT_DOUBLE_EQ(layout.stepRight(2), 1200.0);
    EXPECT_DOUBLE_EQ(layout.unit, 1100.0 / 3.0);
    for (int s = 0; s <= 2; ++s)
        EXPECT_NEAR(layout.stepRight(s) - layout.stepLeft(s), 1100.0 / 3.0, 1e-9) << "step " << s;
}

TEST(SequenceLayout, AStepWithoutADelayIsAThirdOfAUnit)
{
    const model::PulseSequence sequence;  // d2, d1, then step 2 without a delay
    const SequenceLayout layout = layoutSteps(sequence, 1300.0);

    const double unit = 1100.0 / (1.0 + 1.0 + 1.0 / 3.0);
    EXPECT_NEAR(layout.unit, unit, 1e-9);
    EXPECT_NEAR(layout.stepRight(0) - layout.stepLeft(0), unit, 1e-9);
    EXPECT_NEAR(layout.stepRight(1) - layout.stepLeft(1), unit, 1e-9);
    EXPECT_NEAR(layout.stepRight(2) - layout.stepLeft(2), unit / 3.0, 1e-9);
    EXPECT_NEAR(layout.stepRight(2), 1200.0, 1e-9);
}

TEST(SequenceLayout, TheFirstBoundaryAtOrRightOfTheClickClosesTheStep)
{
    model::PulseSequence sequence;
    ASSERT_TRUE(sequence.setDelay(2, "d3"));
    const SequenceLayout layout = layoutSteps(sequence, 1300.0);
    const double b1 = layout.stepRight(0);

    EXPECT_EQ(layout.stepAt(20.0), 0) << "left of the first boundary";
    EXPECT_EQ(layout.stepAt(100.0), 0);
    EXPECT_EQ(layout.stepAt(b1), 0);
    EXPECT_EQ(layout.stepAt(b1 + 0.01), 1);
    EXPECT_EQ(layout.stepAt(1200.0), 2);
    EXPECT_EQ(layout.stepAt(1200.01), 3) << "right of the last boundary: the acquisition step S + 1";
}

TEST_F(SequencePanelEditorTest, AClickMakesTheStepUnderItCurrent)
{
    EXPECT_EQ(editor.selectStepAt(40.0, 1300.0), 0);
    EXPECT_EQ(caption(ctl::CurrentStep), "0");
    EXPECT_EQ(editor.selectStepAt(1250.0, 1300.0), 3);
    EXPECT_EQ(caption(ctl::CurrentStep), "3");
    EXPECT_EQ(editor.currentStep(), 3);
    EXPECT_FALSE(editor.setCurrentStep(4));
}

// ----- Parameters cells -----------------------------------------------------------------------------

TEST_F(SequencePanelEditorTest, CellsShowTheCurrentStepsReferencesAndValues)
{
    ASSERT_TRUE(editor.setCurrentStep(1));
    EXPECT_EQ(caption(cell(kElementCell)), "p2");
    EXPECT_EQ(text(valueBox(kElementBox)), "5");
    EXPECT_EQ(caption(cell(kPhaseCell)), "f4");
    EXPECT_EQ(caption(cell(kElementCell + 1)), "dec");
    EXPECT_EQ(text(valueBox(kElementBox + 1)), "") << "dec has no value";
    EXPECT_EQ(caption(cell(kPhaseCell + 1)), "y");
    EXPECT_EQ(caption(cell(kElementCell + 2)), "none");
    EXPECT_EQ(text(valueBox(kElementBox + 2)), "0");
    EXPECT_EQ(caption(cell(kPowerCell)), "r1");
    EXPECT_EQ(text(valueBox(kPowerBox)), "60");
    EXPECT_EQ(caption(cell(kOffsetCell + 2)), "o3");
    EXPECT_EQ(text(valueBox(kOffsetBox + 2)), "0");
    EXPECT_EQ(caption(cell(kGradientCell)), "none");
    EXPECT_EQ(caption(cell(kDelayCell)), "d1");

    sequence().step(0).delay = 2.5;
    sequence().step(0).channels[2].phase = 2;
    ASSERT_TRUE(editor.setCurrentStep(0));
    EXPECT_EQ(caption(cell(kDelayCell)), "none");
    EXPECT_EQ(text(valueBox(kDelayBox)), "2.5") << "a literal shows in the value box";
    EXPECT_EQ(caption(cell(kPhaseCell + 2)), "-x");
}

// ----- Chooser --------------------------------------------------------------------------------------

TEST(SequenceChooser, ItemsListTheCellsElementsAndTheWorkingDirectorysFiles)
{
    const testing::ScratchDirectory dir;
    dir.writeBytes("a.rf", "0 1023 1\r\n");
    dir.writeBytes("B.RF", "0 1023 1\r\n");
    dir.writeBytes("ramp.GRD", "32767\r\n");
    dir.writeBytes("values.tab", "0 1\r\n");
    util::RecordedMessages messages;
    Workbench bench(messages, dir.path());
    SequencePanelEditor editor(bench);

    EXPECT_EQ(editor.cellChoices(kElementCell + 2),
              join(join(join({"dec", "none"}, numbered("p")), numbered("s", "_B.RF")), {"n_B.RF", "n_a.rf"}));
    EXPECT_EQ(editor.cellChoices(kPhaseCell),
              (std::vector<std::string>{"x", "y", "-x", "-y", "f4", "f5", "f6", "f7", "f8", "f9"}));
    EXPECT_EQ(editor.cellChoices(kGradientCell),
              join(join(join({"none"}, numbered("g")), numbered("s", "_ramp.GRD")), {"n_ramp.GRD"}));
    EXPECT_EQ(editor.cellChoices(kDelayCell), join({"none"}, numbered("d")));
    EXPECT_EQ(editor.cellChoices(kOffsetCell + 1), join({"none"}, numbered("o")));
    EXPECT_EQ(editor.cellChoices(kPowerCell), join({"none"}, numbered("r")));
    EXPECT_EQ(editor.cellChoices(kArrayMethodCell), (std::vector<std::string>{"Add", "Mult", "values.tab"}));
    // Steps 0..3 of the start-up sequence refer to p2, d1, d2, o1..o3 and r1..r3 (and "dec").
    EXPECT_EQ(editor.cellChoices(kArrayedParameterCell),
              (std::vector<std::string>{"none", "p2", "d1", "d2", "o1", "o2", "o3", "r1", "r2", "r3",
                                        "Ncycle", "T1", "T2", "Tcr", "Kex"}));
    EXPECT_TRUE(editor.cellChoices(16).empty());
}

TEST_F(SequencePanelEditorTest, PickingACellShowsTheChooserAndAChoiceHidesIt)
{
    ASSERT_TRUE(editor.pickCell(kDelayCell));
    EXPECT_TRUE(bench.controls().at(ctl::CellChooser).visible);
    EXPECT_EQ(bench.controls().at(ctl::CellChooser).items, editor.cellChoices(kDelayCell));
    EXPECT_EQ(editor.pickedCell(), kDelayCell);
    ASSERT_TRUE(editor.choose("d4"));
    EXPECT_FALSE(bench.controls().at(ctl::CellChooser).visible);
    EXPECT_FALSE(editor.pickedCell());
    EXPECT_EQ(sequence().step(0).delay, -14.0);
    EXPECT_EQ(caption(cell(kDelayCell)), "d4");
    EXPECT_EQ(text(valueBox(kDelayBox)), "2");
}

TEST_F(SequencePanelEditorTest, EveryStoredChoiceEndsInThePreparationOnlyRun)
{
    ASSERT_TRUE(editor.setCurrentStep(2));
    EXPECT_TRUE(choose(kPhaseCell + 1, "-y"));
    EXPECT_EQ(sequence().step(2).channels[1].phase, 3);
    EXPECT_TRUE(choose(kPowerCell + 2, "r5"));
    EXPECT_EQ(sequence().step(2).channels[2].power, -45.0);
    EXPECT_TRUE(choose(kOffsetCell, "none"));
    EXPECT_EQ(sequence().step(2).channels[0].offset, 0.0);
    EXPECT_TRUE(choose(kGradientCell, "g3"));
    EXPECT_EQ(sequence().step(2).gradient, -23.0);
    EXPECT_TRUE(choose(kElementCell + 2, "dec"));
    EXPECT_EQ(sequence().step(2).channels[2].content, model::kDecouplingCode);
    EXPECT_TRUE(choose(kArrayMethodCell, "Mult"));
    EXPECT_EQ(caption(ctl::ArrayMethod), "Mult");
    EXPECT_EQ(preparations, 6);

    EXPECT_FALSE(choose(kPhaseCell, "z"));
    EXPECT_EQ(preparations, 6) << "a refused choice is not prepared";
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].title, "Error!");
    EXPECT_EQ(sequence().step(2).channels[0].phase, 0);
}

TEST_F(SequencePanelEditorTest, ChoosingD3AsTheArrayedParameterUpdatesNameIndexAndCell)
{
    ASSERT_TRUE(choose(kArrayedParameterCell, "d3"));
    EXPECT_EQ(sequence().arrayedName(), "d3");
    EXPECT_EQ(sequence().arrayedIndex(), 13);
    EXPECT_EQ(caption(ctl::ArrayedParameter), "d3");
    EXPECT_EQ(preparations, 1);
}

TEST_F(SequencePanelEditorTest, ChoicesAreRefusedWhileARunIsInProgress)
{
    ASSERT_TRUE(bench.runControl().tryStart());
    EXPECT_FALSE(choose(kDelayCell, "d4"));
    EXPECT_EQ(sequence().step(0).delay, -12.0);
    EXPECT_EQ(preparations, 0);
    bench.runControl().stop();
}

// ----- Value boxes ----------------------------------------------------------------------------------

TEST_F(SequencePanelEditorTest, EditingThePulseOfP1ChangesEveryStepThatUsesIt)
{
    ASSERT_TRUE(editor.setCurrentStep(1));
    ASSERT_TRUE(choose(kElementCell, "p1"));
    ASSERT_TRUE(editor.setCurrentStep(2));
    ASSERT_TRUE(choose(kElementCell, "p1"));
    EXPECT_EQ(caption(cell(kElementCell)), "p1");

    editor.clickValueBox(kElementBox);
    type(kElementBox, "7.5");
    ASSERT_TRUE(editor.editValue(kElementBox));
    EXPECT_EQ(sequence().elements().value(1), 7.5);
    EXPECT_EQ(sequence().step(2).channels[0].content, -1);
    ASSERT_TRUE(editor.setCurrentStep(1));
    EXPECT_EQ(text(valueBox(kElementBox)), "7.5") << "step 1 shows the same element";
}

TEST_F(SequencePanelEditorTest, ANonNumberRestoresTheTextRememberedAtTheClick)
{
    ASSERT_TRUE(editor.setCurrentStep(1));
    editor.clickValueBox(kElementBox);
    type(kElementBox, "5x");
    EXPECT_FALSE(editor.editValue(kElementBox));
    EXPECT_EQ(text(valueBox(kElementBox)), "5");
    EXPECT_EQ(sequence().elements().value(2), 5.0);

    // A negative number in a cell without an element would turn the entry into a reference.
    editor.clickValueBox(kElementBox + 2);
    type(kElementBox + 2, "-2");
    EXPECT_FALSE(editor.editValue(kElementBox + 2));
    EXPECT_EQ(text(valueBox(kElementBox + 2)), "0");
    EXPECT_EQ(sequence().step(1).channels[2].content, 0);
}

TEST_F(SequencePanelEditorTest, CellsWithoutAnElementStoreALiteralAndDecTakesNoValue)
{
    ASSERT_TRUE(editor.setCurrentStep(2));
    type(kDelayBox, "3");
    ASSERT_TRUE(editor.editValue(kDelayBox));
    EXPECT_EQ(sequence().step(2).delay, 3.0);
    EXPECT_EQ(caption(cell(kDelayCell)), "none");
    EXPECT_EQ(sequence().step(1).delay, -11.0) << "other steps keep their delays";

    type(kElementBox + 2, "12.4");
    ASSERT_TRUE(editor.editValue(kElementBox + 2));
    EXPECT_EQ(sequence().step(2).channels[2].content, 12) << "a literal pulse in whole microseconds";
    EXPECT_EQ(text(valueBox(kElementBox + 2)), "12.4") << "the edited box keeps its text";

    editor.clickValueBox(kElementBox + 1);
    type(kElementBox + 1, "4");
    EXPECT_FALSE(editor.editValue(kElementBox + 1));
    EXPECT_EQ(sequence().step(2).channels[1].content, model::kDecouplingCode);
}

TEST_F(SequencePanelEditorTest, TheRedBoxSetsTheCycleCountAndEditsWaitForTheRunToEnd)
{
    type(kCycleCountBox, "3");
    ASSERT_TRUE(editor.editValue(kCycleCountBox));
    EXPECT_EQ(sequence().cycleCount(), 3.0);

    ASSERT_TRUE(editor.setCurrentStep(1));
    ASSERT_TRUE(bench.runControl().tryStart());
    type(kElementBox, "9");
    EXPECT_FALSE(editor.editValue(kElementBox));
    EXPECT_EQ(sequence().elements().value(2), 5.0);
    EXPECT_EQ(text(valueBox(kElementBox)), "5") << "the box shows the model again";
    bench.runControl().stop();
}

// ----- Buttons --------------------------------------------------------------------------------------

TEST_F(SequencePanelEditorTest, InsertAndDeleteMoveTheMarkersAndTheCurrentStep)
{
    ASSERT_TRUE(editor.setCurrentStep(1));
    ASSERT_TRUE(editor.insertStep());
    EXPECT_EQ(sequence().stepCount(), 3);
    EXPECT_EQ(sequence().pointStep(), 3);
    EXPECT_EQ(sequence().step(2).channels[0].phase, 4) << "step 1 was copied";
    EXPECT_EQ(sequence().acquisitionStep(), model::PulseSequence::kNoAcquisition);

    ASSERT_TRUE(editor.setCurrentStep(3));
    ASSERT_TRUE(editor.deleteStep());
    EXPECT_EQ(sequence().stepCount(), 2);
    EXPECT_EQ(editor.currentStep(), 2) << "deleting the last step makes S current";
    EXPECT_EQ(caption(ctl::CurrentStep), "2");
    EXPECT_EQ(sequence().pointStep(), 2);

    ASSERT_TRUE(editor.setCurrentStep(3));
    EXPECT_FALSE(editor.insertStep()) << "the acquisition step takes no insertion";
    EXPECT_FALSE(editor.deleteStep());
}

TEST_F(SequencePanelEditorTest, TheAcquisitionMarkerNeedsAShapedPulseAndFollowsItsStep)
{
    ASSERT_TRUE(editor.setCurrentStep(1));
    EXPECT_FALSE(editor.toggleAcquisition()) << "step 1 carries a hard pulse";
    ASSERT_TRUE(choose(kElementCell + 2, "s1_ttt.RF"));
    ASSERT_TRUE(editor.toggleAcquisition());
    EXPECT_EQ(sequence().acquisitionStep(), 1);

    ASSERT_TRUE(editor.setCurrentStep(0));
    ASSERT_TRUE(editor.insertStep());
    EXPECT_EQ(sequence().acquisitionStep(), 2);
    ASSERT_TRUE(editor.deleteStep());
    EXPECT_EQ(sequence().acquisitionStep(), 1);

    ASSERT_TRUE(editor.setCurrentStep(1));
    ASSERT_TRUE(editor.toggleAcquisition());
    EXPECT_EQ(sequence().acquisitionStep(), model::PulseSequence::kAcquisitionOff);
}

TEST_F(SequencePanelEditorTest, PointMarksTheCurrentStep)
{
    ASSERT_TRUE(editor.setCurrentStep(1));
    ASSERT_TRUE(editor.markPoint());
    EXPECT_EQ(sequence().pointStep(), 1);
}

TEST_F(SequencePanelEditorTest, CycleButtonsMarkTheBlockAndShowItsCount)
{
    ASSERT_TRUE(editor.setCurrentStep(1));
    ASSERT_TRUE(editor.markCycleStart());
    EXPECT_EQ(sequence().cycleStart(), 1);
    EXPECT_EQ(sequence().cycleEnd(), 1);
    EXPECT_EQ(sequence().cycleCount(), 1.0) << "a fresh block runs once more";
    EXPECT_EQ(text(ctl::CycleCountBox), "1");

    ASSERT_TRUE(editor.setCurrentStep(2));
    ASSERT_TRUE(editor.markCycleEnd());
    EXPECT_EQ(sequence().cycleEnd(), 2);

    ASSERT_TRUE(editor.setCurrentStep(3));
    ASSERT_TRUE(editor.markCycleEnd());
    EXPECT_EQ(sequence().cycleEnd(), 1) << "an end beyond S falls back to the start";
    EXPECT_EQ(sequence().cycleStart(), 1);
}

// ----- Initial condition and phase rows -------------------------------------------------------------

TEST_F(SequencePanelEditorTest, TheInitialConditionButtonShowsTheStartingOperators)
{
    editor.toggleInitialCondition();
    EXPECT_EQ(caption(ctl::InitialCondition), "nonequilibrium");
    EXPECT_TRUE(bench.controls().at(ctl::InitialOperators).visible);
    const std::vector<std::string>& items = bench.controls().at(ctl::InitialOperators).items;
    EXPECT_EQ(items, model::initialOperatorChoices(bench.spinSystem()));
    ASSERT_EQ(items.size(), 54u);
    EXPECT_EQ(items.front(), "H0x");

    editor.toggleInitialCondition();
    EXPECT_EQ(caption(ctl::InitialCondition), "equilibrium");
    EXPECT_FALSE(bench.controls().at(ctl::InitialOperators).visible);
}

TEST_F(SequencePanelEditorTest, ThePhaseRowEditorLoadsAndWritesBackItsRow)
{
    EXPECT_FALSE(editor.commitPhaseRow()) << "no row opened";
    ASSERT_TRUE(editor.openPhaseRow(0));
    EXPECT_EQ(text(ctl::PhaseRowEditor), "01");
    EXPECT_TRUE(bench.controls().at(ctl::PhaseRowEditor).visible);

    bench.controls().setText(ctl::PhaseRowEditor, "0213");
    ASSERT_TRUE(editor.commitPhaseRow());
    EXPECT_EQ(bench.controls().at(ctl::PhaseCycle).items,
              (std::vector<std::string>{"0213", "0", "0", "0", "0", "0"}));
    EXPECT_FALSE(editor.openPhaseRow(6));
    EXPECT_EQ(editor.phaseRow(), 0);
}

}  // namespace
}  // namespace velmora::workbench
