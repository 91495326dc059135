#include "support/scratch_directory.h"
#include "workbench/control_names.h"
#include "workbench/control_override.h"
#include "workbench/workbench.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::workbench {
namespace {

using namespace model::ctl;
using velmora::testing::ScratchDirectory;

class ControlOverride : public ::testing::Test {
protected:
    ScratchDirectory dir;
    util::RecordedMessages messages;
    Workbench bench{messages, dir.path()};

    void apply(const std::string& assignment)
    {
        const util::Outcome outcome = applyControlOverride(bench, assignment);
        ASSERT_TRUE(outcome) << assignment << ": " << outcome.message();
    }
};

TEST_F(ControlOverride, TheMHzBoxMovesTheFieldOfTheSpinSystem)
{
    ASSERT_EQ(bench.spinSystem().fieldTesla(), 4.0);
    apply("Text14(3)=400");
    EXPECT_EQ(bench.spinSystem().protonFrequencyMHz(), 400.0);
    EXPECT_DOUBLE_EQ(bench.spinSystem().fieldTesla(), 9.4) << "400 MHz protons sit in 9.4 T";
    EXPECT_EQ(bench.controls().text(FieldTesla), "9.4") << "the tesla box follows the model";
}

TEST_F(ControlOverride, TheTeslaBoxIsRoundedAndTheMHzBoxFollows)
{
    apply("Text14(2)=11.74");
    EXPECT_DOUBLE_EQ(bench.spinSystem().fieldTesla(), 11.7);
    EXPECT_EQ(bench.controls().text(FieldTesla), "11.7");
    EXPECT_EQ(bench.controls().text(ProtonFrequency), "498") << "11.7 T: protons near 498 MHz";
}

TEST_F(ControlOverride, TheCycleBoxSetsTheCycleCountAndTheDetectionBoxIsNormalised)
{
    apply("Text1(12)=3");
    EXPECT_EQ(bench.sequence().cycleCount(), 3.0);
    apply("Combo2(3)=P31");
    EXPECT_EQ(bench.controls().text(DetectionChannel), "H1") << "only C13 and N15 name another channel";
    apply("Combo2(3)=C13");
    EXPECT_EQ(bench.controls().text(DetectionChannel), "C13");
}

TEST_F(ControlOverride, CrossRelaxationTicksAndLocksBothRelaxationTimes)
{
    apply("Check1(4)=1");
    for (const model::ControlId id : {T1Relaxation, T2Relaxation}) {
        EXPECT_TRUE(bench.controls().checked(id)) << model::Controls::nameOf(id);
        EXPECT_FALSE(bench.controls().at(id).enabled) << model::Controls::nameOf(id);
    }
    apply("Check1(4)=0");
    EXPECT_TRUE(bench.controls().at(T1Relaxation).enabled);
    EXPECT_TRUE(bench.controls().checked(T1Relaxation)) << "unlocking leaves the boxes ticked";
    EXPECT_FALSE(bench.controls().at(T2Relaxation).enabled) << "T1 is still on, so T2 stays locked";
    apply("Check1(5)=0");
    EXPECT_TRUE(bench.controls().at(T2Relaxation).enabled);
    EXPECT_TRUE(bench.controls().checked(T2Relaxation));
}

TEST_F(ControlOverride, T1AloneLocksOnlyT2)
{
    apply("Check1(5)=true");
    EXPECT_TRUE(bench.controls().checked(T2Relaxation));
    EXPECT_FALSE(bench.controls().at(T2Relaxation).enabled);
    EXPECT_TRUE(bench.controls().at(T1Relaxation).enabled);
    EXPECT_FALSE(bench.controls().checked(CrossRelaxation));
}

TEST_F(ControlOverride, SwiftVariantsExcludeOneAnother)
{
    apply("Check1(8)=1");
    apply("Check1(10)=1");
    EXPECT_FALSE(bench.controls().checked(Swift));
    EXPECT_TRUE(bench.controls().checked(Swift2));
    apply("Check1(9)=1");
    EXPECT_FALSE(bench.controls().checked(Swift2));
    EXPECT_TRUE(bench.controls().checked(ReSort));
    EXPECT_FALSE(bench.controls().checked(Swift));
}

TEST_F(ControlOverride, DeconvolutionAndCompensationTogetherClearBoth)
{
    apply("Check1(12)=1");
    EXPECT_TRUE(bench.controls().checked(ReferenceDeconvolution)) << "one of the two alone stays on";
    apply("Check1(13)=1");
    EXPECT_FALSE(bench.controls().checked(ReferenceDeconvolution));
    EXPECT_FALSE(bench.controls().checked(BSCompensation));
}

TEST_F(ControlOverride, EachKindOfControlTakesItsOwnField)
{
    apply("Label3(14)=Mult");
    EXPECT_EQ(bench.controls().caption(ArrayMethod), "Mult");
    apply("Command7=nonequilibrium");
    EXPECT_EQ(bench.controls().caption(InitialCondition), "nonequilibrium") << "no index means index 0";
    apply("List5=0213,01,0,0,0,0");
    EXPECT_EQ(bench.controls().at(PhaseCycle).items,
              (std::vector<std::string>{"0213", "01", "0", "0", "0", "0"}));
    apply("Text14(11)=7");
    EXPECT_EQ(bench.controls().text(ArraySize), "7");
    apply("Check1(0)=false");
    EXPECT_FALSE(bench.controls().checked(JCoupling));
    EXPECT_TRUE(messages.entries.empty());
}

TEST_F(ControlOverride, RefusedAssignmentsChangeNothing)
{
    const model::Controls before = bench.controls();
    const double tesla = bench.spinSystem().fieldTesla();
    for (const char* assignment : {"Text99(1)=3", "Text14(3)", "=400", "Text14(3=400", "Text14(3)=fast",
                                   "Text1(12)=", "Check1(4)=yes", "HScroll1=5", "text14(3)=400"}) {
        const util::Outcome outcome = applyControlOverride(bench, assignment);
        EXPECT_FALSE(outcome) << assignment;
        EXPECT_FALSE(outcome.message().empty()) << assignment;
    }
    EXPECT_NE(applyControlOverride(bench, "Text99(1)=3").message().find("Text99(1)"), std::string::npos)
        << "the message names the control";
    EXPECT_TRUE(bench.controls().at(T1Relaxation) == before.at(T1Relaxation));
    EXPECT_EQ(bench.controls().text(ProtonFrequency), before.text(ProtonFrequency));
    EXPECT_EQ(bench.controls().text(CycleCountBox), before.text(CycleCountBox));
    EXPECT_EQ(bench.spinSystem().fieldTesla(), tesla);
}

TEST_F(ControlOverride, ElementsAreFoundWithoutRegardToCase)
{
    const model::ElementTable& elements = bench.sequence().elements();
    ASSERT_TRUE(applyElementOverride(bench, "D1=2.5"));
    EXPECT_EQ(elements.value(model::element::kFirstDelay), 2.5) << "d1 in ms";
    ASSERT_TRUE(applyElementOverride(bench, "p2=0"));
    EXPECT_EQ(elements.value(model::element::kFirstPulse + 1), 0.0);
    ASSERT_TRUE(applyElementOverride(bench, "ncycle=4"));
    EXPECT_EQ(bench.sequence().cycleCount(), 4.0);
    EXPECT_EQ(bench.controls().text(CycleCountBox), "4") << "the red cycle box shows the count";
}

TEST_F(ControlOverride, UnknownElementsAndNonNumbersAreRefused)
{
    const model::ElementTable& elements = bench.sequence().elements();
    const double p2 = elements.value(model::element::kFirstPulse + 1);
    for (const char* assignment : {"p11=3", "p2=short", "p2=", "p2", "=5", "dec=1", "none=0"}) {
        const util::Outcome outcome = applyElementOverride(bench, assignment);
        EXPECT_FALSE(outcome) << assignment;
        EXPECT_FALSE(outcome.message().empty()) << assignment;
    }
    EXPECT_EQ(elements.value(model::element::kFirstPulse + 1), p2);
}

TEST_F(ControlOverride, ReadableNamesSetTheSameBoxesAsControlNames)
{
    ASSERT_TRUE(applyControlOverride(bench, "NP=1024"));
    EXPECT_EQ(bench.controls().text(PointCount), "1024");
    ASSERT_TRUE(applyControlOverride(bench, "relax-t2=1"));
    EXPECT_TRUE(bench.controls().checked(T2Relaxation));
    // A readable name runs the box's handler as its control name does: the field follows the MHz.
    ASSERT_TRUE(applyControlOverride(bench, "field-mhz=600"));
    EXPECT_NEAR(bench.spinSystem().fieldTesla(), 600.0 / 42.5775, 0.01);
    EXPECT_FALSE(applyControlOverride(bench, "field-mhz=high")) << "a number box stays a number box";
    // Every readable name is distinct and lists its box with the text it holds.
    const std::string listing = controlListing(bench.controls());
    for (const ReadableControl& c : readableControls()) {
        EXPECT_EQ(controlByReadableName(c.name)->index, c.id.index) << c.name;
        EXPECT_NE(listing.find("\n" + std::string(c.name) + "\t" + model::Controls::nameOf(c.id) + "\t"),
                  std::string::npos)
            << c.name;
    }
    EXPECT_NE(listing.find("\nnp\tText14(12)\tnp\tpoints\t1024\t"), std::string::npos) << listing;
}

TEST_F(ControlOverride, ValuesOutsideABoxsRangeAreRefusedWhenSetWithTheBoxsMessage)
{
    const model::Controls before = bench.controls();
    for (const char* assignment : {"np=1000", "Text14(12)=abc", "sw=0", "lb=-1", "scans=0", "window=Hann"}) {
        const util::Outcome outcome = applyControlOverride(bench, assignment);
        EXPECT_FALSE(outcome) << assignment;
    }
    EXPECT_EQ(applyControlOverride(bench, "np=1000").message(),
              "np (Text14(12)) takes a power of two, 2 to 65536, not \"1000\"");
    for (const ReadableControl& c : readableControls())
        EXPECT_TRUE(bench.controls().at(c.id) == before.at(c.id)) << c.name << ": a refused value changes no box";
    apply("np=65536");
    apply("view=fid");
    EXPECT_EQ(bench.controls().caption(SpectrumOrFid), "fid");
}

TEST_F(ControlOverride, NegativeTimesAndCountsAreRefusedByTheElementsName)
{
    const model::ElementTable& elements = bench.sequence().elements();
    const double d1 = elements.value(model::element::kFirstDelay);
    for (const char* assignment : {"d1=-5", "p2=-1", "Ncycle=-2"}) {
        const util::Outcome outcome = applyElementOverride(bench, assignment);
        ASSERT_FALSE(outcome) << assignment;
        const std::string name(assignment, std::string_view(assignment).find('='));
        EXPECT_NE(outcome.message().find(name), std::string::npos) << outcome.message();
    }
    EXPECT_EQ(elements.value(model::element::kFirstDelay), d1);
    EXPECT_TRUE(applyElementOverride(bench, "g1=-5")) << "a gradient may point either way";
    EXPECT_TRUE(applyElementOverride(bench, "o1=-120")) << "an offset may lie below the carrier";
}

}  // namespace
}  // namespace velmora::workbench
