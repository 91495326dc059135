#include "model/spin_system.h"

#include <gtest/gtest.h>

namespace velmora::model {
namespace {

SpinSystem startUpSystem()
{
    SpinSystem s;
    s.rebuild();
    return s;
}

TEST(SpinSystemDefaults, StartUpMoleculeHasTwoProtonsAndACarbon)
{
    SpinSystem s;
    EXPECT_EQ(s.spinCount(), 1) << "the count is set by the first rebuild";
    s.rebuild();
    EXPECT_EQ(s.spinCount(), 3);
    EXPECT_EQ(s.label(0), "H0");
    EXPECT_EQ(s.label(1), "H1");
    EXPECT_EQ(s.label(2), "C2");
    EXPECT_TRUE(s.isEmpty(3));
    EXPECT_DOUBLE_EQ(s.couplingHz(1, 0), 30.0);
    EXPECT_DOUBLE_EQ(s.couplingHz(2, 1), 140.0);
    EXPECT_DOUBLE_EQ(s.t2Ms(0), 1000.0);
    EXPECT_DOUBLE_EQ(s.t2Ms(1), 100.0);
    EXPECT_EQ(s.slotState(2), SpinSystem::kOccupied);
    EXPECT_EQ(s.slotState(3), 0);
}

TEST(SpinSystemDerivedTables, NucleusConstantsChannelsAndHzShifts)
{
    SpinSystem s = startUpSystem();
    EXPECT_DOUBLE_EQ(s.nucleusConstant(0), 10000000.0);
    EXPECT_DOUBLE_EQ(s.nucleusConstant(2), 2515074.0);
    EXPECT_EQ(s.channel(0), 0);
    EXPECT_EQ(s.channel(2), 1);
    EXPECT_DOUBLE_EQ(s.shiftHz(0), -0.5 * 170.0);

    s.setShiftPpm(2, 100.0);
    s.rebuild();
    EXPECT_NEAR(s.shiftHz(2), 4275.6258, 1e-4);  // 100 x 170 / 1e7 x 2515074

    ASSERT_TRUE(s.setLabel(3, "N3"));
    s.setShiftPpm(3, 120.0);
    s.rebuild();
    EXPECT_DOUBLE_EQ(s.nucleusConstant(3), -1013984.0);
    EXPECT_EQ(s.channel(3), 2);
    EXPECT_GT(s.shiftHz(3), 0.0) << "the sign of the 15N ratio is not applied to the shift";
    EXPECT_NEAR(s.shiftHz(3), 120.0 * 170.0 / 1e7 * 1013984.0, 1e-9);
}

TEST(SpinSystemEditing, CouplingsStaySymmetric)
{
    SpinSystem s = startUpSystem();
    s.setCouplingHz(2, 0, 7.5);
    EXPECT_DOUBLE_EQ(s.couplingHz(0, 2), 7.5);
    EXPECT_DOUBLE_EQ(s.couplingHz(2, 0), 7.5);
}

TEST(SpinSystemEditing, LabelsMustNameANucleusAndTheirOwnSlot)
{
    SpinSystem s = startUpSystem();
    EXPECT_FALSE(s.setLabel(3, "X3"));
    EXPECT_FALSE(s.setLabel(3, "C4"));
    EXPECT_FALSE(s.setLabel(3, "c3"));
    EXPECT_FALSE(s.setLabel(11, "H11"));
    EXPECT_FALSE(s.setLabel(-1, ""));
    EXPECT_TRUE(s.isEmpty(3));
    EXPECT_TRUE(s.setLabel(3, "C3"));
    EXPECT_EQ(s.label(3), "C3");
}

TEST(SpinSystemEditing, AnEleventhSpinIsRefused)
{
    SpinSystem s = startUpSystem();
    for (int k = 3; k < SpinSystem::kMaxSpins; ++k)
        ASSERT_TRUE(s.setLabel(k, "H" + std::to_string(k)));
    s.rebuild();
    EXPECT_EQ(s.spinCount(), 10);
    EXPECT_FALSE(s.setLabel(10, "H10"));
    s.rebuild();
    EXPECT_EQ(s.spinCount(), 10);
    EXPECT_TRUE(s.isEmpty(10));
}

TEST(SpinSystemRebuild, DeletingAMiddleSpinMovesTheNextOneDown)
{
    SpinSystem s = startUpSystem();
    s.setShiftPpm(2, 55.0);
    s.setT1Ms(2, 321.0);
    s.setT2Ms(2, 12.0);
    s.setCouplingHz(0, 2, 4.0);
    ASSERT_TRUE(s.setLabel(1, ""));
    s.rebuild();

    EXPECT_EQ(s.spinCount(), 2);
    EXPECT_EQ(s.label(0), "H0");
    EXPECT_EQ(s.label(1), "C1") << "the moved carbon is renamed after its new slot";
    EXPECT_TRUE(s.isEmpty(2));
    EXPECT_DOUBLE_EQ(s.shiftPpm(1), 55.0);
    EXPECT_DOUBLE_EQ(s.t1Ms(1), 321.0);
    EXPECT_DOUBLE_EQ(s.t2Ms(1), 12.0);
    EXPECT_DOUBLE_EQ(s.couplingHz(0, 1), 4.0) << "J(0,1) is the former J(0,2)";
    EXPECT_DOUBLE_EQ(s.couplingHz(1, 0), 4.0);
    EXPECT_DOUBLE_EQ(s.couplingHz(1, 2), 0.0);
    EXPECT_DOUBLE_EQ(s.shiftPpm(2), 0.0) << "the vacated slot takes the values of the empty slot behind it";
    EXPECT_EQ(s.channel(1), 1);
    EXPECT_DOUBLE_EQ(s.nucleusConstant(1), 2515074.0);
}

TEST(SpinSystemRebuild, DeletingTheOnlySpinLeavesOneEmptySlot)
{
    SpinSystem s = startUpSystem();
    ASSERT_TRUE(s.setLabel(1, ""));
    ASSERT_TRUE(s.setLabel(2, ""));
    s.rebuild();
    ASSERT_EQ(s.spinCount(), 1);
    ASSERT_TRUE(s.setLabel(0, ""));
    s.rebuild();
    EXPECT_EQ(s.spinCount(), 1);
    EXPECT_TRUE(s.isEmpty(0));
    EXPECT_EQ(s.slotState(0), 0);
}

TEST(SpinSystemRebuild, NeighbouringGapsCloseOnePlacePerRebuild)
{
    SpinSystem s = startUpSystem();
    ASSERT_TRUE(s.setLabel(3, "N3"));
    ASSERT_TRUE(s.setLabel(1, ""));
    ASSERT_TRUE(s.setLabel(2, ""));
    s.rebuild();
    EXPECT_EQ(s.spinCount(), 2);
    EXPECT_EQ(s.label(0), "H0");
    EXPECT_TRUE(s.isEmpty(1));
    EXPECT_EQ(s.label(2), "N2");
    s.rebuild();
    EXPECT_EQ(s.label(1), "N1");
    EXPECT_TRUE(s.isEmpty(2));
}

TEST(SpinSystemRebuild, AGapInTheLastUsableSlotDoesNotReachPastTheTables)
{
    SpinSystem s = startUpSystem();
    for (int k = 3; k < SpinSystem::kMaxSpins; ++k)
        ASSERT_TRUE(s.setLabel(k, "C" + std::to_string(k)));
    s.setCouplingHz(8, 9, 12.0);
    ASSERT_TRUE(s.setLabel(0, ""));
    s.rebuild();
    EXPECT_EQ(s.spinCount(), 9);
    EXPECT_EQ(s.label(0), "H0");
    EXPECT_EQ(s.label(8), "C8");
    EXPECT_TRUE(s.isEmpty(9));
    EXPECT_DOUBLE_EQ(s.couplingHz(7, 8), 12.0);
}

TEST(SpinSystemField, TeslaAndMegahertzConvertAndRound)
{
    SpinSystem s;
    s.setFieldTesla(9.4);
    EXPECT_DOUBLE_EQ(s.protonFrequencyMHz(), 400.0);
    EXPECT_DOUBLE_EQ(s.fieldTesla(), 9.4);
    s.setProtonFrequencyMHz(500.0);
    EXPECT_DOUBLE_EQ(s.fieldTesla(), 11.7);
    EXPECT_DOUBLE_EQ(s.protonFrequencyMHz(), 500.0);
    s.setFieldTesla(4.04);
    EXPECT_DOUBLE_EQ(s.fieldTesla(), 4.0);
    EXPECT_DOUBLE_EQ(s.protonFrequencyMHz(), 170.0);
    s.setProtonFrequencyMHz(600.4);
    EXPECT_DOUBLE_EQ(s.protonFrequencyMHz(), 600.0);
}

TEST(SpinSystemField, HzShiftsFollowTheProtonFrequencyAtTheNextRebuild)
{
    SpinSystem s = startUpSystem();
    s.setProtonFrequencyMHz(400.0);
    s.rebuild();
    EXPECT_DOUBLE_EQ(s.shiftHz(0), -0.5 * 400.0);
}

}  // namespace
}  // namespace velmora::model
