#include "engine/sequence_preparation.h"
#include "support/preparation_from_controls.h"
#include "support/scratch_directory.h"
#include "util/number_format.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velmora::engine {
namespace {

namespace ctl = model::ctl;
using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

std::string rectangularShape(int points, double amplitude = 1023.0)
{
    std::string text;
    for (int i = 0; i < points; ++i)
        text += "0 " + util::formatGeneral(amplitude) + " 1\r\n";
    return text;
}

class PreparationTest : public ::testing::Test {
protected:
    PreparationTest() { spins.rebuild(); }

    std::optional<Preparation> prepare(int runsPerValue = 1)
    {
        return velmora::testing::prepareFromControls(sequence, controls, spins, dir.path(), runsPerValue,
                                                     messages);
    }
    std::vector<double> arrayedValues(int runsPerValue)
    {
        const std::optional<Preparation> p = prepare(runsPerValue);
        EXPECT_TRUE(p.has_value()) << lastMessage();
        return p ? p->run.arrayedValues : std::vector<double>{};
    }
    std::string lastMessage() const
    {
        return messages.entries.empty() ? std::string() : messages.entries.back().text;
    }

    // A snapshot of everything a refused preparation must leave alone.
    struct Snapshot {
        model::PulseSequence sequence;
        model::Controls controls;
    };
    Snapshot snapshot() const { return {sequence, controls}; }
    void expectUnchanged(const Snapshot& before) const
    {
        EXPECT_EQ(sequence.elements().value(20), before.sequence.elements().value(20)) << "d10";
        for (int m = 0; m < model::element::kCount; ++m)
            EXPECT_EQ(sequence.elements().value(m), before.sequence.elements().value(m)) << "element " << m;
        for (int s = 0; s < model::PulseSequence::kStepSlots; ++s)
            EXPECT_EQ(sequence.step(s).delay, before.sequence.step(s).delay) << "step " << s;
        EXPECT_EQ(sequence.arrayedIndex(), before.sequence.arrayedIndex());
        for (model::ControlId id :
             {ctl::AcquisitionTime, ctl::ArraySize, ctl::PointCount, ctl::IndirectSpectralWidth})
            EXPECT_EQ(controls.text(id), before.controls.text(id)) << model::Controls::nameOf(id);
        EXPECT_EQ(controls.at(ctl::WarningLine), before.controls.at(ctl::WarningLine));
    }

    ScratchDirectory dir;
    model::SpinSystem spins;
    model::PulseSequence sequence;
    model::Controls controls;
    util::RecordedMessages messages;
};

TEST_F(PreparationTest, NothingArrayedGivesOneRunAtTheStartValue)
{
    sequence.setArrayedParameter("none");
    const auto p = prepare();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->run.arraySize, 0);
    EXPECT_EQ(p->run.lastRun, 0);
    ASSERT_EQ(p->run.arrayedValues.size(), 1u);
}

TEST_F(PreparationTest, ArrayedDelayAdvancesEveryIncrementOfA2DRun)
{
    controls.setText(ctl::ArraySize, "2");
    controls.setText(ctl::ArrayIncrement, "0.5");
    sequence.elements().setValue(11, 1.0);
    EXPECT_EQ(arrayedValues(2), (std::vector<double>{1, 1, 1.5, 1.5, 2, 2}));
    EXPECT_EQ(arrayedValues(1), (std::vector<double>{1, 1.5, 2}));
}

TEST_F(PreparationTest, TppiAdvancesEveryRunByHalfTheIncrement)
{
    controls.setText(ctl::ArraySize, "2");
    controls.setText(ctl::ArrayIncrement, "0.5");
    controls.setText(ctl::IndirectMethod, "tppi");
    sequence.elements().setValue(11, 1.0);
    EXPECT_EQ(arrayedValues(2), (std::vector<double>{1, 1.25, 1.5, 1.75, 2, 2.25}));

    controls.setText(ctl::ArrayIncrement, "0.1");
    const std::vector<double> values = arrayedValues(2);
    EXPECT_EQ(values[1] - values[0], static_cast<double>(0.1f) / 2)
        << "the increment is taken at single precision";
}

TEST_F(PreparationTest, MultipliedSeriesStopsGrowingBeyondOneTerasomething)
{
    sequence.setArrayedParameter("p3");
    sequence.elements().setValue(3, 10.0);
    controls.setCaption(ctl::ArrayMethod, "Mult");
    controls.setText(ctl::ArrayIncrement, "10");
    controls.setText(ctl::ArraySize, "14");
    const std::vector<double> values = arrayedValues(1);
    ASSERT_EQ(values.size(), 15u);
    EXPECT_EQ(values[10], 1e11);
    EXPECT_EQ(values[11], 1e12) << "1e12 itself is not beyond the cap";
    EXPECT_EQ(values[12], 1e12);
    EXPECT_EQ(values[14], 1e12);
}

TEST_F(PreparationTest, ArrayedPowerIsHeldAt100Decibels)
{
    sequence.setArrayedParameter("r1");
    controls.setText(ctl::ArraySize, "3");
    controls.setText(ctl::ArrayIncrement, "15");
    EXPECT_EQ(arrayedValues(1), (std::vector<double>{60, 75, 90, 100}));
}

// A shaped gradient's series began at the value of the element arrayed before it.
TEST_F(PreparationTest, AnArrayedShapedGradientStartsFromItsOwnValue)
{
    const int gradient = model::element::kFirstShapedGradient;
    sequence.setArrayedParameter("d1");
    sequence.elements().setValue(11, 7.0);
    sequence.elements().setValue(gradient, 3.0);
    sequence.setArrayedParameter(sequence.elements().name(gradient));
    controls.setText(ctl::ArraySize, "2");
    controls.setText(ctl::ArrayIncrement, "1");
    EXPECT_EQ(arrayedValues(1), (std::vector<double>{3, 4, 5}));
}

TEST_F(PreparationTest, RelaxationTimesStartFromTheirBoxes)
{
    sequence.setArrayedParameter("T2");
    controls.setText(ctl::ArraySize, "1");
    controls.setText(ctl::RelaxationT2, "80");
    controls.setText(ctl::ArrayIncrement, "20");
    EXPECT_EQ(arrayedValues(1), (std::vector<double>{80, 100}));
}

TEST_F(PreparationTest, ArrayFileRowsAreTheArrayedValuesOneRunOrOneIncrementEach)
{
    dir.writeBytes("ar02x.tab", "# delays\r\n1 0.5\r\n2 1.5\r\n3 2.5\r\n4 3.5\r\n");
    controls.setCaption(ctl::ArrayMethod, "ar02x.tab");
    sequence.elements().setValue(11, 10.0);
    const auto p = prepare();
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_EQ(p->run.arraySize, 3);
    EXPECT_EQ(controls.text(ctl::ArraySize), "3");
    EXPECT_EQ(p->run.lastRun, 3);
    EXPECT_EQ(p->run.arrayGroupSize, 2);
    EXPECT_EQ(p->run.arrayedValues, (std::vector<double>{10.5, 11.5, 12.5, 13.5}));

    const auto twoD = prepare(2);
    ASSERT_TRUE(twoD) << lastMessage();
    EXPECT_EQ(twoD->run.arraySize, 3);
    EXPECT_EQ(twoD->run.lastRun, 7);
    EXPECT_EQ(twoD->run.arrayedValues, (std::vector<double>{10.5, 10.5, 11.5, 11.5, 12.5, 12.5, 13.5, 13.5}))
        << "the two runs of an increment share its row";

    dir.writeBytes("ar02x.tab", "# no values\r\n");
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_NE(lastMessage().find("holds no rows"), std::string::npos) << lastMessage();
    expectUnchanged(before);
}

TEST_F(PreparationTest, ArrayFileWithoutGroupNumberIsRefused)
{
    dir.writeBytes("abxy.tab", "1 1\r\n");
    controls.setCaption(ctl::ArrayMethod, "abxy.tab");
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_NE(lastMessage().find("abxy.tab"), std::string::npos);
    expectUnchanged(before);
    dir.writeBytes("ab00.tab", "1 1\r\n");
    controls.setCaption(ctl::ArrayMethod, "ab00.tab");
    EXPECT_FALSE(prepare());
    EXPECT_NE(lastMessage().find("ab00.tab"), std::string::npos);
}

TEST_F(PreparationTest, AShapeUsedTwiceTakesOneSlotAndSlotTenLoadsItsFile)
{
    dir.writeBytes("x.rf", rectangularShape(64));
    sequence.elements().setName(60, "s10_x.rf");
    ASSERT_TRUE(sequence.setContent(1, 0, "s10_x.rf"));
    ASSERT_TRUE(sequence.setContent(2, 1, "s10_x.rf"));
    ASSERT_TRUE(sequence.setPower(2, 1, "r2"));
    const auto p = prepare();
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_EQ(p->run.pulseShapes.used(), 1);
    EXPECT_EQ(p->run.pulseShapes.slot(0).pointCount(), 64);
    EXPECT_EQ(p->run.pointCount, 64);
    EXPECT_EQ(controls.text(ctl::PointCount), "64");
}

TEST_F(PreparationTest, TheLongestShapeSetsThePointCount)
{
    dir.writeBytes("long.rf", rectangularShape(256));
    dir.writeBytes("short.rf", rectangularShape(100));
    ASSERT_TRUE(sequence.setContent(1, 0, "n_long.rf"));
    ASSERT_TRUE(sequence.setContent(2, 0, "n_short.rf"));
    const auto p = prepare();
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_EQ(p->run.pointCount, 256);

    ASSERT_TRUE(sequence.setContent(1, 0, "p2"));
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_EQ(lastMessage(), "np=100  must be multiply of 2");
    EXPECT_EQ(messages.entries.back().title, "Error!");
    expectUnchanged(before);
}

TEST_F(PreparationTest, MotherHeaderSetsAcquiredPointsAndOversampling)
{
    dir.writeBytes("acq.rf", "# mother 256 #\r\n" + rectangularShape(4096, 500));
    ASSERT_TRUE(sequence.setContent(2, 0, "n_acq.rf"));
    ASSERT_TRUE(sequence.toggleAcquisition(2));
    const auto p = prepare();
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_EQ(p->run.pointCount, 256);
    EXPECT_EQ(p->run.oversampling, 16);
    EXPECT_EQ(p->signal.lastSample(), 4096);
    EXPECT_EQ(controls.text(ctl::PointCount), "4096");
    EXPECT_EQ(p->run.acquisitionShapeSlot, 0);
}

// Tabs around the number, as the table's rows may have them, refused the shape; a UTF-8 signature
// an editor put before the header hid it.
TEST_F(PreparationTest, AMotherHeaderWithTabsOrAfterAUtf8SignatureIsRead)
{
    ASSERT_TRUE(sequence.setContent(2, 0, "n_acq.rf"));
    ASSERT_TRUE(sequence.toggleAcquisition(2));
    const std::pair<std::string, int> headers[] = {{"# mother\t64\t#", 64}, {"\xEF\xBB\xBF# mother 256 #", 256}};
    for (const auto& [header, mother] : headers) {
        dir.writeBytes("acq.rf", header + "\r\n" + rectangularShape(4096, 500));
        const auto p = prepare();
        ASSERT_TRUE(p) << lastMessage();
        EXPECT_EQ(p->run.pointCount, mother);
        EXPECT_EQ(p->run.oversampling, 4096 / mother);
    }
}

TEST_F(PreparationTest, AbsurdMotherHeaderIsRefused)
{
    dir.writeBytes("acq.rf", "# mother 0 #\r\n" + rectangularShape(64));
    ASSERT_TRUE(sequence.setContent(2, 0, "n_acq.rf"));
    ASSERT_TRUE(sequence.toggleAcquisition(2));
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_NE(lastMessage().find("# mother"), std::string::npos);
    expectUnchanged(before);
}

TEST_F(PreparationTest, BadShapeFilesAreRefusedAndTheModelIsUntouched)
{
    ASSERT_TRUE(sequence.setContent(1, 0, "n_shape.rf"));
    const Snapshot before = snapshot();

    EXPECT_FALSE(prepare()) << "missing file";
    EXPECT_EQ(lastMessage(), "check the address " + (dir.path() / "shape.rf").string() + "Error!");
    EXPECT_EQ(messages.entries.back().title, "");

    dir.writeBytes("shape.rf", "# only comments\r\n\r\n");
    EXPECT_FALSE(prepare()) << "no rows";
    EXPECT_EQ(controls.caption(ctl::WarningLine), "use the normal shaped pulse, not binary");

    dir.writeBytes("shape.rf", "garbage here\r\n\x01\x02\xff\r\nmore words\r\n");
    EXPECT_FALSE(prepare()) << "three rows of garbage: not a power of two";
    EXPECT_EQ(lastMessage(), "np=3  must be multiply of 2");

    std::string huge;
    for (int i = 0; i < 200002; ++i)
        huge += "0 1 1\n";
    dir.writeBytes("shape.rf", huge);
    EXPECT_FALSE(prepare()) << "more rows than the reader holds";
    EXPECT_EQ(lastMessage(), "it is too big");

    dir.writeBytes("shape.rf", rectangularShape(3) + "0 1023 1e39\r\n");
    EXPECT_FALSE(prepare()) << "a duration beyond the single range";
    EXPECT_NE(lastMessage().find("element 4"), std::string::npos) << lastMessage();

    EXPECT_EQ(sequence.elements().value(20), before.sequence.elements().value(20));
    EXPECT_EQ(controls.text(ctl::PointCount), "256");
}

TEST_F(PreparationTest, ShapeNamesWithAFolderAreRefused)
{
    sequence.elements().setName(51, "s1_/etc/passwd");
    ASSERT_TRUE(sequence.setContent(1, 0, "s1_/etc/passwd"));
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_NE(lastMessage().find("without a folder"), std::string::npos) << lastMessage();
    expectUnchanged(before);

    ASSERT_TRUE(sequence.setContent(1, 0, "p2"));
    controls.setCaption(ctl::ArrayMethod, "../ar02.tab");
    EXPECT_FALSE(prepare());
    EXPECT_NE(lastMessage().find("../ar02.tab"), std::string::npos) << lastMessage();
}

TEST_F(PreparationTest, MissingGradientShapeIsReportedWithItsAddress)
{
    ASSERT_TRUE(sequence.setGradient(1, "n_ramp.GRD"));
    controls.setText(ctl::LastSlice, "15");
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_EQ(lastMessage(), "check the address " + (dir.path() / "ramp.GRD").string());
    EXPECT_EQ(messages.entries.back().title, "Error!");
    expectUnchanged(before);
}

TEST_F(PreparationTest, AnEleventhDistinctShapeIsRefused)
{
    // Ten shaped slots and a hard-pulse element renamed like a shape (as a sequence file written
    // with other section sizes can do) make eleven distinct shapes.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(sequence.insertStep(1));
    for (int slot = 0; slot < 10; ++slot) {
        const std::string file = "f" + std::to_string(slot) + ".rf";
        dir.writeBytes(file, rectangularShape(8));
        sequence.elements().setName(51 + slot, "s" + std::to_string(slot + 1) + "_" + file);
        sequence.step(slot / 3).channels[slot % 3].content = -(51 + slot);
    }
    ASSERT_TRUE(prepare()) << "ten distinct shapes fit: " << lastMessage();

    dir.writeBytes("extra.rf", rectangularShape(8));
    sequence.elements().setName(1, "s0_extra.rf");
    sequence.step(4).channels[0].content = -1;
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_EQ(lastMessage(), "Too many shaped pulses");
    EXPECT_EQ(messages.entries.back().title, "Error!");
    expectUnchanged(before);
}

TEST_F(PreparationTest, ElementLimitWarningsFollowTheFastestRate)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            spins.setCouplingHz(i, j, 0.0);
    spins.rebuild();
    controls.setChecked(ctl::T2Relaxation, true);  // T2 = 100 ms for spins 1 and 2: limit 500 us
    sequence.elements().setValue(2, 400.0);
    auto p = prepare();
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_DOUBLE_EQ(p->run.elementLimitUs, 5000.0 / (10.0 + 1e-11));
    EXPECT_FALSE(controls.at(ctl::WarningLine).visible);

    sequence.elements().setValue(2, 600.0);
    ASSERT_TRUE(prepare());
    EXPECT_TRUE(controls.at(ctl::WarningLine).visible);
    EXPECT_EQ(controls.caption(ctl::WarningLine), "relaxation too fast - use the shaped pulse");

    controls.setVisible(ctl::WarningLine, false);
    dir.writeBytes("four.rf", rectangularShape(4));
    ASSERT_TRUE(sequence.setContent(1, 0, "n_four.rf"));
    ASSERT_TRUE(sequence.setContent(2, 0, "n_four.rf"));
    sequence.elements().setValue(51, 2000.0);
    ASSERT_TRUE(prepare()) << lastMessage();
    EXPECT_FALSE(controls.at(ctl::WarningLine).visible) << "500 us per element is not beyond the limit";

    dir.writeBytes("four.rf", rectangularShape(2));
    ASSERT_TRUE(prepare()) << lastMessage();
    EXPECT_TRUE(controls.at(ctl::WarningLine).visible);
    EXPECT_EQ(controls.caption(ctl::WarningLine), "relaxation too fast - use more elements in shaped pulse");
}

// A shrinking series was checked at its last and second values only, never at its longest, run 0.
TEST_F(PreparationTest, AnArrayedPulseIsCheckedAtItsLongestValue)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            spins.setCouplingHz(i, j, 0.0);
    spins.rebuild();
    controls.setChecked(ctl::T2Relaxation, true);  // T2 = 100 ms: limit 500 us
    sequence.setArrayedParameter("p2");
    sequence.elements().setValue(2, 600.0);
    controls.setText(ctl::ArraySize, "2");
    controls.setText(ctl::ArrayIncrement, "-200");
    ASSERT_EQ(arrayedValues(1), (std::vector<double>{600, 400, 200}));
    EXPECT_TRUE(controls.at(ctl::WarningLine).visible);
    EXPECT_EQ(controls.caption(ctl::WarningLine), "relaxation too fast - use the shaped pulse");
}

TEST_F(PreparationTest, AcquisitionStepTakesD10AndClipsLongerPulses)
{
    dir.writeBytes("acq.rf", rectangularShape(256));
    ASSERT_TRUE(sequence.setContent(2, 0, "n_acq.rf"));
    ASSERT_TRUE(sequence.toggleAcquisition(2));
    sequence.elements().setValue(51, 900000.0);
    controls.setText(ctl::AcquisitionTime, "500");
    const auto p = prepare();
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_EQ(sequence.step(2).delay, -20.0);
    // The 256-element shape fixes np: the sampled step lasts np / sw (400 Hz), whatever "at" held.
    EXPECT_EQ(sequence.elements().value(20), 640.0);
    EXPECT_EQ(sequence.elements().value(51), 640000.0);
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_EQ(messages.entries.front().text, "pulselength is longer than at");
    EXPECT_EQ(messages.entries.front().title, "");
    EXPECT_EQ(controls.text(ctl::AcquisitionTime), "640") << "np / sw in ms";
}

TEST_F(PreparationTest, AFailedPreparationLeavesTheClipAndTheBoxesAsTheyWere)
{
    dir.writeBytes("acq.rf", rectangularShape(100));
    ASSERT_TRUE(sequence.setContent(2, 0, "n_acq.rf"));
    ASSERT_TRUE(sequence.toggleAcquisition(2));
    sequence.elements().setValue(51, 900000.0);
    controls.setText(ctl::AcquisitionTime, "500");
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    expectUnchanged(before);
    EXPECT_EQ(sequence.elements().value(51), 900000.0);
}

TEST_F(PreparationTest, WindowFieldsTakeTheIndirectWidthAndTheAcquisitionTime)
{
    controls.setText(ctl::ArrayIncrement, "2");
    const auto p = prepare(2);
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_EQ(controls.text(ctl::IndirectSpectralWidth), "500") << "1000 / 2 ms / one step";
    EXPECT_EQ(controls.text(ctl::AcquisitionTime), "640");
    EXPECT_EQ(controls.at({"VScroll1", 0}).maximum, 31);
    EXPECT_EQ(p->run.lastRun, 63);
    EXPECT_EQ(p->signal.lastRun(), 63);
    EXPECT_EQ(p->signal.lastSample(), 256);
}

TEST_F(PreparationTest, NonEquilibriumStartTakesTheSelectedOperators)
{
    controls.setCaption(ctl::InitialCondition, "nonequilibrium");
    controls.setItems(ctl::InitialOperators, {"H0x", "H0zH1y", "C2z"});
    controls.at(ctl::InitialOperators).selected = {true, true, false};
    const auto p = prepare();
    ASSERT_TRUE(p) << lastMessage();
    EXPECT_EQ(p->run.initialOperators, (std::vector<int>{1, 3 + 2 * 4}));
    EXPECT_EQ(controls.at(ctl::InitialOperators).items, (std::vector<std::string>{"H0x", "H0zH1y"}));
    EXPECT_EQ(controls.at(ctl::InitialOperators).selected, (std::vector<bool>{true, true}));

    controls.at(ctl::InitialOperators).selected = {false, false};
    ASSERT_TRUE(prepare());
    EXPECT_EQ(controls.caption(ctl::InitialCondition), "equilibrium")
        << "nothing chosen: back to equilibrium";
    EXPECT_FALSE(controls.at(ctl::InitialOperators).visible);
}

TEST_F(PreparationTest, MoreThanElevenStartingOperatorsAreRefused)
{
    controls.setCaption(ctl::InitialCondition, "nonequilibrium");
    controls.setItems(ctl::InitialOperators, std::vector<std::string>(12, "H0x"));
    controls.at(ctl::InitialOperators).selected.assign(12, true);
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare());
    EXPECT_NE(lastMessage().find("12"), std::string::npos);
    expectUnchanged(before);
    EXPECT_EQ(controls.at(ctl::InitialOperators).items.size(), 12u);
}

struct ValidationCase {
    const char* name;
    std::function<void(model::PulseSequence&, model::Controls&, model::SpinSystem&)> setUp;
    int runsPerValue;
    const char* expectedInMessage;
};

class PreparationValidation : public PreparationTest, public ::testing::WithParamInterface<ValidationCase> {};

TEST_P(PreparationValidation, RefusesWithAMessageAndChangesNothing)
{
    GetParam().setUp(sequence, controls, spins);
    spins.rebuild();
    const Snapshot before = snapshot();
    EXPECT_FALSE(prepare(GetParam().runsPerValue));
    ASSERT_FALSE(messages.entries.empty());
    EXPECT_NE(lastMessage().find(GetParam().expectedInMessage), std::string::npos) << lastMessage();
    expectUnchanged(before);
}

using model::ControlId;
auto setText(ControlId id, const char* text)
{
    return [=](model::PulseSequence&, model::Controls& c, model::SpinSystem&) { c.setText(id, text); };
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PreparationValidation,
    ::testing::Values(
        ValidationCase{"PointCountNotANumber", setText(ctl::PointCount, "lots"), 1, "Text14(12)"},
        ValidationCase{"PointCountEmpty", setText(ctl::PointCount, ""), 1, "holds nothing"},
        ValidationCase{"SpectralWidthNotANumber", setText(ctl::SpectralWidth, "x"), 1, "sw, Hz"},
        ValidationCase{"SpectralWidthZero", setText(ctl::SpectralWidth, "0"), 1, "positive"},
        ValidationCase{"ArraySizeNotANumber", setText(ctl::ArraySize, "?"), 1, "Ni"},
        ValidationCase{"SliceCountNotANumber", setText(ctl::LastSlice, "many"), 1, "Text14(5)"},
        ValidationCase{"IncrementNotANumber", setText(ctl::ArrayIncrement, "-"), 1, "array increment"},
        ValidationCase{"AcquisitionTimeNotANumber",
                       [](model::PulseSequence& q, model::Controls& c, model::SpinSystem&) {
                           q.elements().setName(51, "s1_acq.rf");
                           (void)q.setContent(2, 0, "s1_acq.rf");
                           (void)q.toggleAcquisition(2);
                           c.setText(ctl::AcquisitionTime, "long");
                       },
                       1, "at, ms"},
        ValidationCase{"ArrayedT1BoxNotANumber",
                       [](model::PulseSequence& q, model::Controls& c, model::SpinSystem&) {
                           q.setArrayedParameter("T1");
                           c.setText(ctl::RelaxationT1, "");
                       },
                       1, "Text14(16)"},
        ValidationCase{"TcrBoxNotANumberWithCrossRelaxation",
                       [](model::PulseSequence&, model::Controls& c, model::SpinSystem&) {
                           c.setChecked(ctl::CrossRelaxation, true);
                           c.setText(ctl::CrossRelaxationTime, "3 s");
                       },
                       1, "Text14(17)"},
        ValidationCase{"PointCountNotAPowerOfTwo", setText(ctl::PointCount, "300"), 1, "power of two"},
        ValidationCase{"PointCountTooLarge", setText(ctl::PointCount, "131072"), 1, "power of two"},
        ValidationCase{"ScansBelowOne", setText(ctl::ScanCount, "0"), 1, "at least 1"},
        ValidationCase{"SlicesBeyondTheState", setText(ctl::LastSlice, "128"), 1, "Text14(5)"},
        ValidationCase{"GradientWithoutSlices",
                       [](model::PulseSequence& q, model::Controls& c, model::SpinSystem&) {
                           c.setText(ctl::LastSlice, "0");
                           (void)q.setGradient(1, "g2");
                       },
                       1, "at least 2"},
        ValidationCase{"PulseWithoutPower",
                       [](model::PulseSequence& q, model::Controls&, model::SpinSystem&) {
                           (void)q.setPower(2, 0, "none");
                       },
                       1, "Step 2 carries a pulse on the 1H channel but no power"},
        ValidationCase{"ZeroT1WithT1Relaxation",
                       [](model::PulseSequence&, model::Controls& c, model::SpinSystem& s) {
                           c.setChecked(ctl::T1Relaxation, true);
                           s.setT1Ms(1, 0.0);
                       },
                       1, "Spin H1 has T1 = 0"},
        ValidationCase{"ZeroTcr",
                       [](model::PulseSequence&, model::Controls& c, model::SpinSystem&) {
                           c.setChecked(ctl::CrossRelaxation, true);
                           c.setText(ctl::CrossRelaxationTime, "0");
                       },
                       1, "Tcr"},
        ValidationCase{"TcrFasterThanT1",
                       [](model::PulseSequence&, model::Controls& c, model::SpinSystem& s) {
                           c.setChecked(ctl::CrossRelaxation, true);
                           c.setText(ctl::CrossRelaxationTime, "500");
                           s.setT1Ms(1, 2000.0);
                       },
                       1, "grow without bound"},
        ValidationCase{"ArrayedT2ReachesZero",
                       [](model::PulseSequence& q, model::Controls& c, model::SpinSystem&) {
                           q.setArrayedParameter("T2");
                           c.setText(ctl::RelaxationT2, "30");
                           c.setText(ctl::ArrayIncrement, "-10");
                           c.setText(ctl::ArraySize, "5");
                       },
                       1, "in run 3"},
        ValidationCase{"ZeroIncrementIn2D", setText(ctl::ArrayIncrement, "0"), 2, "increment"},
        ValidationCase{"MoreIncrementsThanTheMapHolds", setText(ctl::ArraySize, "300"), 2, "Ni = 300"},
        ValidationCase{"StateLargerThanMemory",
                       [](model::PulseSequence&, model::Controls& c, model::SpinSystem& s) {
                           for (int k = 3; k < 10; ++k)
                               (void)s.setLabel(k, "H" + std::to_string(k));
                           c.setText(ctl::PointCount, "65536");
                       },
                       2, "available"}),
    [](const ::testing::TestParamInfo<ValidationCase>& info) { return std::string(info.param.name); });

TEST(AcquisitionPulseTables, RectangularPulseSpectrumPeaksAtTheCentre)
{
    const ScratchDirectory dir;
    util::RecordedMessages messages;
    pulses::ShapeTable shape;
    shape.points.assign(65, {0.0, 1023.0, 1.0});
    pulses::AcquisitionPulseRequest request;
    request.pointCount = 64;
    request.workingDirectory = dir.path();
    const auto tables = pulses::prepareAcquisitionPulse(shape, request, messages);
    ASSERT_TRUE(tables) << (messages.entries.empty() ? "" : messages.entries.back().text);
    for (int i = 1; i <= 64; ++i) {
        EXPECT_NEAR(tables->waveform[i][0], 0.0, 1e-12);
        EXPECT_DOUBLE_EQ(tables->waveform[i][1], 1.0);
        EXPECT_DOUBLE_EQ(tables->waveform[i][2], 1.0);
    }
    int peak = 1;
    for (int j = 1; j <= 64; ++j)
        if (tables->spectrum[j][2] > tables->spectrum[peak][2])
            peak = j;
    EXPECT_EQ(peak, 33) << "row h + 1";
    EXPECT_NEAR(tables->spectrum[33][2], 64.0, 1e-9) << "the 1/N of the transform is undone";

    const std::string time = readBytes(dir.path() / "apulseTime.dat");
    EXPECT_EQ(time.substr(0, time.find("\r\n") + 2), "1\t0.000000\t1.000000\t1.000000\r\n");
    const std::string sweep = readBytes(dir.path() / "apulseSweepFreq.dat");
    EXPECT_EQ(sweep.substr(0, sweep.find("\r\n") + 2), "1\t0.000000\r\n");
    const std::string frequency = readBytes(dir.path() / "apulseFreq.dat");
    EXPECT_NE(frequency.find("\r\n33\t0.000000\t64.000000\t64.000000\r\n"), std::string::npos) << frequency;
}

TEST(AcquisitionPulseTables, WithoutOversamplingTheFilesHoldTheTablesUnchanged)
{
    const ScratchDirectory dir;
    util::RecordedMessages messages;
    pulses::ShapeTable shape;
    shape.points.assign(9, {});
    for (int i = 1; i <= 8; ++i)
        shape.points[i] = {i * 10.0, 100.0 * i, 1.0};
    pulses::AcquisitionPulseRequest request;
    request.pointCount = 8;
    request.workingDirectory = dir.path();
    const auto tables = pulses::prepareAcquisitionPulse(shape, request, messages);
    ASSERT_TRUE(tables);
    EXPECT_NEAR(tables->waveform[3][0], 300.0 / 1023 * std::cos((30.0 + 90.0) * 3.14159265358979 / 180),
                1e-12);
    EXPECT_DOUBLE_EQ(tables->waveform[3][3], 10.0) << "phase step in degrees";
    std::string expected;
    for (int j = 1; j <= 8; ++j)
        expected +=
            std::to_string(j) + "\t" + util::formatPattern(tables->waveform[j][3], "#0.000000") + "\r\n";
    EXPECT_EQ(readBytes(dir.path() / "apulseSweepFreq.dat"), expected);
}

TEST(AcquisitionPulseTables, OversampledPulseKeepsEveryFthSampleAndTheCentreFrequencies)
{
    const ScratchDirectory dir;
    util::RecordedMessages messages;
    pulses::ShapeTable shape;
    shape.points.assign(33, {});
    for (int i = 1; i <= 32; ++i)
        shape.points[i] = {i * 3.0, 1023.0, 1.0};
    pulses::AcquisitionPulseRequest request;
    request.pointCount = 8;
    request.oversampling = 4;
    request.workingDirectory = dir.path();
    const auto tables = pulses::prepareAcquisitionPulse(shape, request, messages);
    ASSERT_TRUE(tables);
    const double phase5 = (5 * 3.0 + 90.0) * 3.14159265358979 / 180;
    EXPECT_NEAR(tables->waveform[2][0], std::cos(phase5), 1e-12) << "row 2 takes sample 4 x 1 + 1";
    const std::string lines = readBytes(dir.path() / "apulseFreq.dat");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 8);
}

}  // namespace
}  // namespace velmora::engine
