#include "support/scratch_directory.h"
#include "workbench/run_request.h"

#include <gtest/gtest.h>

namespace velmora::workbench {
namespace {

namespace ctl = model::ctl;

class RunRequestTest : public ::testing::Test {
protected:
    RunRequestTest() { spins.rebuild(); }

    engine::RunRequest request(int runsPerValue = 1) const
    {
        engine::RunRequest r = readRunRequest(controls, sequence, spins, runsPerValue);
        r.workingDirectory = dir.path();
        return r;
    }

    velmora::testing::ScratchDirectory dir;
    model::SpinSystem spins;
    model::PulseSequence sequence;
    model::Controls controls;
    util::RecordedMessages messages;
};

TEST_F(RunRequestTest, ABoxTravelsWithItsNameItsTextAndItsNumber)
{
    controls.setText(ctl::PointCount, "1024");
    controls.setText(ctl::ScanCount, "four");
    controls.setCaption(ctl::InitialCondition, "nonequilibrium");
    const engine::RunRequest r = request(2);
    EXPECT_EQ(r.pointCount.name, "Text14(12)");
    EXPECT_EQ(r.pointCount.number, 1024.0);
    EXPECT_EQ(r.scanCount.text, "four");
    EXPECT_FALSE(r.scanCount.number);
    EXPECT_TRUE(r.nonEquilibrium);
    EXPECT_EQ(r.runsPerValue, 2);

    EXPECT_FALSE(engine::prepareSequence(r, messages).prepared);
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(
        messages.entries[0].text,
        "The box \"Ncycles X ND\" (Text14(1)) holds \"four\", which is not a number. The run needs it.");
}

TEST_F(RunRequestTest, ThePreparationHandsBackWhatTheWindowShowsAndTheBoxesTakeItOnlyWhenApplied)
{
    std::string shape;
    for (int i = 0; i < 64; ++i)
        shape += "0 1023 1\r\n";
    dir.writeBytes("acq.rf", shape);
    ASSERT_TRUE(sequence.setContent(2, 0, "n_acq.rf"));
    ASSERT_TRUE(sequence.toggleAcquisition(2));
    sequence.elements().setValue(51, 900000.0);  // us, longer than the acquisition
    controls.setText(ctl::ArrayIncrement, "2");
    const engine::PreparationOutcome outcome = engine::prepareSequence(request(2), messages);
    ASSERT_TRUE(outcome.prepared) << (messages.entries.empty() ? "" : messages.entries.back().text);
    const engine::PreparationWriteBack& back = outcome.prepared->writeBack;
    EXPECT_EQ(back.pointCount, 64) << "the shape's length";
    EXPECT_EQ(back.acquisitionTimeMs, 160.0) << "64 points at 400 Hz";
    EXPECT_EQ(back.indirectSpectralWidthHz, 500.0);
    ASSERT_TRUE(back.sequence);
    EXPECT_EQ(back.sequence->elements().value(51), 160000.0) << "the pulse clipped to at";
    EXPECT_EQ(sequence.elements().value(51), 900000.0) << "nothing changes before it is applied";
    EXPECT_NE(controls.text(ctl::PointCount), "64");

    applyWriteBack(back, controls, sequence);
    EXPECT_EQ(controls.text(ctl::PointCount), "64");
    EXPECT_EQ(controls.text(ctl::AcquisitionTime), "160");
    EXPECT_EQ(controls.text(ctl::IndirectSpectralWidth), "500");
    EXPECT_EQ(sequence.elements().value(51), 160000.0);
}

}  // namespace
}  // namespace velmora::workbench
