#include "model/pulse_sequence.h"

#include <gtest/gtest.h>

namespace velmora::model {
namespace {

TEST(ElementTableDefaults, NamesAndValuesOfTheStartUpTable)
{
    ElementTable t;
    t.resetToDefaults("a.rf", "g.GRD");
    EXPECT_EQ(t.name(0), "Ncycle");
    EXPECT_EQ(t.name(1), "p1");
    EXPECT_EQ(t.name(20), "d10");
    EXPECT_EQ(t.name(21), "g1");
    EXPECT_EQ(t.name(40), "o10");
    EXPECT_EQ(t.name(41), "r1");
    EXPECT_EQ(t.name(51), "s1_a.rf");
    EXPECT_EQ(t.name(60), "s10_a.rf");
    EXPECT_EQ(t.name(61), "s1_g.GRD");
    EXPECT_EQ(t.name(70), "s10_g.GRD");
    EXPECT_EQ(t.name(71), "");
    EXPECT_EQ(t.name(131), "");
    EXPECT_EQ(t.name(132), "dec");
    EXPECT_EQ(t.name(133), "none");
    EXPECT_DOUBLE_EQ(t.value(2), 5.0);
    EXPECT_DOUBLE_EQ(t.value(3), 10.0);
    EXPECT_DOUBLE_EQ(t.value(4), 2.5);
    EXPECT_DOUBLE_EQ(t.value(12), 1.0);
    EXPECT_DOUBLE_EQ(t.value(20), 1.0);
    EXPECT_DOUBLE_EQ(t.value(24), 11.0);
    EXPECT_DOUBLE_EQ(t.value(45), 60.0);
    EXPECT_DOUBLE_EQ(t.value(55), 2000.0);
    EXPECT_DOUBLE_EQ(t.value(65), 0.0);
}

TEST(ElementTableNames, ShapeFileNameDropsTheSlotPrefix)
{
    EXPECT_EQ(ElementTable::shapeFileName("s1_x.rf"), "x.rf");
    EXPECT_EQ(ElementTable::shapeFileName("s10_x.rf"), "x.rf");
    EXPECT_EQ(ElementTable::shapeFileName("s1"), "");
    EXPECT_EQ(ElementTable::shapedElementName(53, "y.RF"), "s3_y.RF");
    EXPECT_EQ(ElementTable::shapedElementName(70, "z.GRD"), "s10_z.GRD");
}

TEST(ElementTableNames, FindIgnoresCaseAndHonoursTheRange)
{
    ElementTable t;
    EXPECT_EQ(t.find("D3"), 13);
    EXPECT_EQ(t.find("p1", 11, 20), std::nullopt);
    EXPECT_EQ(t.find("nothing"), std::nullopt);
}

TEST(PulseSequenceDefaults, StartUpSequenceIsTheTwoPulseCosy)
{
    PulseSequence q;
    EXPECT_EQ(q.stepCount(), 2);
    EXPECT_EQ(q.pointStep(), 2);
    EXPECT_EQ(q.acquisitionStep(), PulseSequence::kNoAcquisition);
    EXPECT_EQ(q.arrayedName(), "d1");
    EXPECT_EQ(q.arrayedIndex(), 11);
    EXPECT_EQ(q.step(1).channels[0].content, -2);
    EXPECT_EQ(q.step(1).channels[0].phase, 4);
    EXPECT_EQ(q.step(1).channels[1].content, kDecouplingCode);
    EXPECT_EQ(q.step(1).channels[1].phase, 1);
    EXPECT_EQ(q.step(2).channels[0].content, -2);
    EXPECT_EQ(q.step(3).channels[1].content, kDecouplingCode);
    EXPECT_EQ(q.step(3).channels[0].phase, 1);
    EXPECT_DOUBLE_EQ(q.step(0).delay, -12.0);
    EXPECT_DOUBLE_EQ(q.step(1).delay, -11.0);
    EXPECT_DOUBLE_EQ(q.step(2).delay, 0.0);
    for (int s = 0; s < PulseSequence::kStepSlots; ++s) {
        for (int k = 0; k < kChannelCount; ++k) {
            ASSERT_DOUBLE_EQ(q.step(s).channels[k].power, -(41.0 + k));
            ASSERT_DOUBLE_EQ(q.step(s).channels[k].offset, -(31.0 + k));
        }
        ASSERT_DOUBLE_EQ(q.step(s).gradient, 0.0);
    }
}

TEST(PulseSequenceChoices, ContentChoicesStoreTheirCodes)
{
    PulseSequence q;
    ASSERT_TRUE(q.setContent(1, 2, "dec"));
    EXPECT_EQ(q.step(1).channels[2].content, -132);
    ASSERT_TRUE(q.setContent(1, 2, "P3"));
    EXPECT_EQ(q.step(1).channels[2].content, -3);
    ASSERT_TRUE(q.setContent(1, 2, "s4_ttt.RF"));
    EXPECT_EQ(q.step(1).channels[2].content, -54);
    ASSERT_TRUE(q.setContent(1, 2, "none"));
    EXPECT_EQ(q.step(1).channels[2].content, 0);
}

TEST(PulseSequenceChoices, ChoicesACellCannotHoldAreRefusedWithoutChange)
{
    PulseSequence q;
    const util::Outcome wrongKind = q.setContent(1, 0, "d1");
    EXPECT_FALSE(wrongKind.ok());
    EXPECT_NE(wrongKind.message().find("d1"), std::string::npos);
    EXPECT_EQ(q.step(1).channels[0].content, -2);
    EXPECT_FALSE(q.setContent(1, 3, "p1"));
    EXPECT_FALSE(q.setContent(9, 0, "p1")) << "step 9 lies beyond S + 1";
    EXPECT_FALSE(q.setPhase(1, 0, 10));
    EXPECT_EQ(q.step(1).channels[0].phase, 4);
    EXPECT_FALSE(q.setPower(1, 0, "o1"));
    EXPECT_FALSE(q.setOffset(1, 0, "r1"));
    EXPECT_FALSE(q.setDelay(1, "p1"));
    EXPECT_FALSE(q.setGradient(1, "d1"));
    EXPECT_DOUBLE_EQ(q.step(1).delay, -11.0);
}

TEST(PulseSequenceChoices, ReferenceCellsStoreElementsOrNothing)
{
    PulseSequence q;
    ASSERT_TRUE(q.setPower(2, 1, "r7"));
    EXPECT_DOUBLE_EQ(q.step(2).channels[1].power, -47.0);
    ASSERT_TRUE(q.setOffset(2, 1, "none"));
    EXPECT_DOUBLE_EQ(q.step(2).channels[1].offset, 0.0);
    ASSERT_TRUE(q.setDelay(2, "d4"));
    EXPECT_DOUBLE_EQ(q.step(2).delay, -14.0);
    ASSERT_TRUE(q.setGradient(2, "g3"));
    EXPECT_DOUBLE_EQ(q.step(2).gradient, -23.0);
    ASSERT_TRUE(q.setPhase(2, 0, 7));
    EXPECT_EQ(q.step(2).channels[0].phase, 7);
}

TEST(PulseSequenceShapedSlots, NewShapeTakesTheFirstUnusedSlot)
{
    PulseSequence q;
    ASSERT_TRUE(q.setContent(1, 0, "s1_ttt.RF"));
    ASSERT_TRUE(q.setContent(2, 0, "n_sinc.rf"));
    EXPECT_EQ(q.step(2).channels[0].content, -52);
    EXPECT_EQ(q.elements().name(52), "s2_sinc.rf");
    EXPECT_EQ(q.elements().name(51), "s1_ttt.RF");
}

TEST(PulseSequenceShapedSlots, NewShapeOnAShapedChannelRenamesItsSlotForEveryStep)
{
    PulseSequence q;
    ASSERT_TRUE(q.setContent(1, 0, "s3_ttt.RF"));
    ASSERT_TRUE(q.setContent(2, 1, "s3_ttt.RF"));
    ASSERT_TRUE(q.setContent(1, 0, "n_other.rf"));
    EXPECT_EQ(q.step(1).channels[0].content, -53);
    EXPECT_EQ(q.step(2).channels[1].content, -53);
    EXPECT_EQ(q.elements().name(53), "s3_other.rf");
}

TEST(PulseSequenceShapedSlots, NewShapeIsRefusedWhenAllSlotsAreInUse)
{
    PulseSequence q;
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(q.insertStep(1));
    int slot = 51;
    for (int s = 0; s <= 2 && slot <= 60; ++s)
        for (int k = 0; k < 3 && slot <= 60; ++k)
            ASSERT_TRUE(q.setContent(s, k, q.elements().name(slot++)));
    ASSERT_TRUE(q.setContent(3, 0, q.elements().name(60)));
    const std::string before = q.elements().name(51);
    const int contentBefore = q.step(4).channels[0].content;
    const util::Outcome refused = q.setContent(4, 0, "n_new.rf");
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(refused.message().empty());
    EXPECT_EQ(q.step(4).channels[0].content, contentBefore);
    for (int m = 51; m <= 60; ++m)
        EXPECT_EQ(q.elements().name(m).find("new.rf"), std::string::npos);
    EXPECT_EQ(q.elements().name(51), before);
}

TEST(PulseSequenceShapedSlots, GradientShapesUseTheirOwnSlots)
{
    PulseSequence q;
    ASSERT_TRUE(q.setGradient(0, "n_ramp.GRD"));
    EXPECT_DOUBLE_EQ(q.step(0).gradient, -61.0);
    EXPECT_EQ(q.elements().name(61), "s1_ramp.GRD");
    ASSERT_TRUE(q.setGradient(1, "n_sine.GRD"));
    EXPECT_DOUBLE_EQ(q.step(1).gradient, -62.0);
    ASSERT_TRUE(q.setGradient(1, "n_trap.GRD"));
    EXPECT_DOUBLE_EQ(q.step(1).gradient, -62.0);
    EXPECT_EQ(q.elements().name(62), "s2_trap.GRD");
}

TEST(PulseSequenceSteps, InsertCopiesTheStepAndMovesTheMarkers)
{
    PulseSequence q;
    q.setAcquisitionStep(2);
    ASSERT_TRUE(q.insertStep(1));
    EXPECT_EQ(q.stepCount(), 3);
    EXPECT_EQ(q.step(1).channels[0].phase, 4) << "the inserted step copies the old step 1";
    EXPECT_EQ(q.step(2).channels[0].phase, 4);
    EXPECT_EQ(q.step(3).channels[0].content, -2);
    EXPECT_EQ(q.step(4).channels[0].phase, 1) << "the acquisition step S+1 moved up";
    EXPECT_EQ(q.pointStep(), 3);
    EXPECT_EQ(q.acquisitionStep(), 3);
}

TEST(PulseSequenceSteps, InsertStopsAtFiftyEightSteps)
{
    PulseSequence q;
    while (q.stepCount() < 57)
        ASSERT_TRUE(q.insertStep(0));
    EXPECT_TRUE(q.insertStep(57));
    EXPECT_EQ(q.stepCount(), 58);
    EXPECT_FALSE(q.insertStep(0));
    EXPECT_EQ(q.stepCount(), 58);
    EXPECT_FALSE(PulseSequence().insertStep(3)) << "beyond S";
}

TEST(PulseSequenceSteps, DeleteMovesStepsAndMarkersDown)
{
    PulseSequence q;
    ASSERT_TRUE(q.deleteStep(2));
    EXPECT_EQ(q.stepCount(), 1);
    EXPECT_EQ(q.pointStep(), 1) << "deleting the point step moves the point to the previous step";
    EXPECT_EQ(q.step(2).channels[0].phase, 1) << "the acquisition step S+1 moved down";
    EXPECT_EQ(q.acquisitionStep(), PulseSequence::kNoAcquisition) << "'no acquisition' is not a step";
    ASSERT_TRUE(q.deleteStep(0));
    ASSERT_FALSE(q.deleteStep(0)) << "S is 0";
    EXPECT_EQ(q.pointStep(), 0);
    EXPECT_FALSE(PulseSequence().deleteStep(3));
}

TEST(PulseSequenceSteps, RepeatedInsertAndDeleteNeverTurnsNoAcquisitionIntoAStep)
{
    PulseSequence q;
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(q.insertStep(0));
        ASSERT_TRUE(q.deleteStep(0));
    }
    EXPECT_GE(q.acquisitionStep(), PulseSequence::kStepSlots);
}

TEST(PulseSequenceCycle, BoundsStayOrderedAndInsideTheSequence)
{
    PulseSequence q;
    q.setCycleStart(2);
    EXPECT_EQ(q.cycleStart(), 2);
    EXPECT_EQ(q.cycleEnd(), 2);
    EXPECT_DOUBLE_EQ(q.cycleCount(), 1.0) << "a fresh block runs once more";
    q.setCycleEnd(1);
    EXPECT_EQ(q.cycleStart(), 1);
    EXPECT_EQ(q.cycleEnd(), 1);
    q.setCycleEnd(3);
    EXPECT_EQ(q.cycleEnd(), 1) << "an end beyond S falls back to the start";
    q.elements().setValue(0, 4.0);
    q.setCycleStart(0);
    EXPECT_DOUBLE_EQ(q.cycleCount(), 4.0);
    EXPECT_EQ(q.cycleStart(), 0);
    EXPECT_EQ(q.cycleEnd(), 1);
}

TEST(PulseSequenceCycle, InsertAndDeleteLeaveTheBlockAlone)
{
    PulseSequence q;
    q.setCycleStart(1);
    q.setCycleEnd(2);
    ASSERT_TRUE(q.insertStep(0));
    EXPECT_EQ(q.cycleStart(), 1);
    EXPECT_EQ(q.cycleEnd(), 2);
}

TEST(PulseSequenceAcquisition, OnlyAShapedStepAcquires)
{
    PulseSequence q;
    EXPECT_FALSE(q.toggleAcquisition(1));
    EXPECT_EQ(q.acquisitionStep(), PulseSequence::kNoAcquisition);
    ASSERT_TRUE(q.setContent(2, 1, "s1_ttt.RF"));
    EXPECT_TRUE(q.toggleAcquisition(2));
    EXPECT_EQ(q.acquisitionStep(), 2);
    EXPECT_TRUE(q.toggleAcquisition(2));
    EXPECT_EQ(q.acquisitionStep(), PulseSequence::kAcquisitionOff);
}

TEST(PulseSequenceAcquisition, RedrawCheckDropsAMarkerWithoutShape)
{
    PulseSequence q;
    ASSERT_TRUE(q.setContent(2, 0, "s1_ttt.RF"));
    ASSERT_TRUE(q.toggleAcquisition(2));
    q.enforceAcquisitionRule();
    EXPECT_EQ(q.acquisitionStep(), 2);
    ASSERT_TRUE(q.setContent(2, 0, "p2"));
    q.enforceAcquisitionRule();
    EXPECT_EQ(q.acquisitionStep(), PulseSequence::kNoAcquisition);
}

TEST(PulseSequenceArrayed, ArrayedParameterTakesTheElementIndex)
{
    PulseSequence q;
    q.setArrayedParameter("p3");
    EXPECT_EQ(q.arrayedIndex(), 3);
    EXPECT_EQ(q.arrayedName(), "p3");
    q.setArrayedParameter("T1");
    EXPECT_EQ(q.arrayedIndex(), 3) << "a name outside the element table keeps the index";
    EXPECT_EQ(q.arrayedName(), "T1");
    q.setArrayedParameter("Ncycle");
    EXPECT_EQ(q.arrayedIndex(), 0);
}

TEST(PhaseCycle, FixedCodesAreTheirOwnQuarterTurns)
{
    const std::vector<std::string> rows(6, "0");
    for (int code = 0; code < 4; ++code)
        EXPECT_EQ(phaseQuarterTurns(code, rows, 5), code);
}

TEST(PhaseCycle, VariablePhaseRowsRepeatEndToEnd)
{
    const std::vector<std::string> rows = {"0213", "01", "", "0x", "0", "0"};
    const int expected[] = {0, 2, 1, 3, 0, 2};
    for (int scan = 1; scan <= 6; ++scan)
        EXPECT_EQ(phaseQuarterTurns(4, rows, scan), expected[scan - 1]) << "scan " << scan;
    EXPECT_EQ(phaseQuarterTurns(5, rows, 2), 1);
    EXPECT_EQ(phaseQuarterTurns(5, rows, 3), 0);
    EXPECT_EQ(phaseQuarterTurns(6, rows, 7), 0) << "an empty row reads as x instead of looping forever";
    EXPECT_EQ(phaseQuarterTurns(7, rows, 2), 0) << "a non-digit reads as x";
}

}  // namespace
}  // namespace velmora::model
