// The sequence panel drawn offscreen: the spans of the steps, pulses as high as their flip
// angles, shaped pulses from their files, decoupling, the delay names in red for the arrayed
// delay, the cycled block, the point marker and the acquisition check. The picture is 1000 pixels
// wide so that one pixel is one unit of the diagram's width.
#include "render/sequence_panel.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "workbench/sequence_panel_editor.h"
#include "workbench/workbench.h"

#include <QColor>
#include <QImage>
#include <cmath>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace velmora::render {
namespace {

using ColumnRun = std::pair<int, int>;  // first and last column

constexpr int kWidthPx = 1000;
constexpr int kHeightPx = 340;

// A filled area covers the pixel columns whose centres lie within it (one unit per pixel).
int firstColumn(double x)
{
    return static_cast<int>(std::ceil(x - 0.5));
}

int lastColumn(double x)
{
    return static_cast<int>(std::floor(x - 0.5));
}

class SequencePanelDrawing : public ::testing::Test {
protected:
    SequencePanelDrawing() : bench(messages, dir.path()), box(kWidthPx, kHeightPx)
    {
        // Start-up sequence, without the decoupling, with the current step on the acquisition.
        for (int s = 0; s <= 3; ++s)
            sequence().step(s).channels[1].content = 0;
        bench.controls().setCaption(model::ctl::CurrentStep, "3");
    }

    model::PulseSequence& sequence() { return bench.sequence(); }
    int rowPx(double y) const { return static_cast<int>(box.toPixels(0.0, y).y()); }
    int columnPx(double x) const { return static_cast<int>(box.toPixels(x, 0.0).x()); }
    QColor pixel(int column, int row) const { return box.image().pixelColor(column, row); }

    // Runs of columns along pixel row `row` whose colour `is` accepts.
    template <typename Predicate> std::vector<ColumnRun> runs(int row, Predicate is) const
    {
        std::vector<ColumnRun> found;
        for (int x = 0; x < kWidthPx; ++x) {
            if (!is(pixel(x, row)))
                continue;
            if (!found.empty() && found.back().second == x - 1)
                found.back().second = x;
            else
                found.emplace_back(x, x);
        }
        return found;
    }
    std::vector<ColumnRun> runs(int row, const QColor& colour) const
    {
        return runs(row, [&](const QColor& c) { return c == colour; });
    }

    // The top row of the column's stretch of `colour` that ends at the row's baseline.
    int topOf(int column, double baseline, const QColor& colour) const
    {
        int row = rowPx(baseline) - 1;
        while (row > 0 && pixel(column, row - 1) == colour)
            --row;
        return row;
    }

    template <typename Predicate> int count(Predicate is, int x0, int y0, int x1, int y1) const
    {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += is(pixel(x, y)) ? 1 : 0;
        return n;
    }

    testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    workbench::Workbench bench;
    PictureBox box;
};

TEST(HardPulseFlip, NinetyDegreesTakeFiveMicrosecondsAt60Db)
{
    EXPECT_NEAR(hardPulseFlipDegrees(5.0, 60.0), 90.0, 1e-9);
    EXPECT_NEAR(hardPulseFlipDegrees(10.0, 60.0), 180.0, 1e-9);
    EXPECT_NEAR(hardPulseFlipDegrees(50.0, 40.0), 90.0, 1e-9) << "20 dB less, ten times longer";
}

TEST_F(SequencePanelDrawing, StepsWithDelaysGetEqualSpans)
{
    ASSERT_TRUE(sequence().setDelay(2, "d3"));
    for (int s = 0; s <= 2; ++s)
        sequence().step(s).channels[0].content = -3;  // p3 in every step
    drawSequencePanel(box, bench);

    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const std::vector<ColumnRun> pulses = runs(rowPx(sequenceRowBaseline(0) - 20.0), hardPulseColour());
    ASSERT_EQ(pulses.size(), 3u);
    for (int s = 0; s <= 2; ++s) {
        // Each pulse fills the first third of a unit of its step, less 8 % of that at both ends.
        const double part = layout.unit / 3.0;
        EXPECT_EQ(pulses[s].first, firstColumn(layout.stepLeft(s) + 0.08 * part)) << "step " << s;
        EXPECT_EQ(pulses[s].second, lastColumn(layout.stepLeft(s) + 0.92 * part)) << "step " << s;
    }
    EXPECT_NEAR(pulses[1].first - pulses[0].first, pulses[2].first - pulses[1].first, 1.0);
    EXPECT_NEAR(pulses[1].first - pulses[0].first, 1000.0 * 11.0 / 13.0 / 3.0, 1.0);
}

TEST_F(SequencePanelDrawing, ExchangeModeDrawsTheEchoTrainAndItsParameters)
{
    bench.setExchangeMode(true);
    bench.exchange().values[model::ExchangeSettings::Tcp] = 400;
    bench.exchange().values[model::ExchangeSettings::Necho] = 8;
    drawSequencePanel(box, bench);
    // The excitation (half height) and the refocusing pulse (full height) on the 1H row.
    EXPECT_EQ(runs(rowPx(sequenceRowBaseline(0) - 20.0), hardPulseColour()).size(), 2u);
    EXPECT_EQ(runs(rowPx(sequenceRowBaseline(0) - 80.0), hardPulseColour()).size(), 1u);
    EXPECT_EQ(exchangeLabels(bench), (std::vector<std::string>{"tcp=400 us", "Tp=625 us", "Necho=8"}));
    bench.exchange().startMagnetisation = "Ixz_AdiabRot";
    EXPECT_EQ(exchangeLabels(bench).back(), "StartMagn=Ixz_AdiabRot");
}

TEST_F(SequencePanelDrawing, AStepWithoutADelayIsAThirdAsWide)
{
    for (int s = 0; s <= 2; ++s)
        sequence().step(s).channels[0].content = -3;  // step 2 has no delay
    drawSequencePanel(box, bench);

    const std::vector<ColumnRun> pulses = runs(rowPx(sequenceRowBaseline(0) - 20.0), hardPulseColour());
    ASSERT_EQ(pulses.size(), 3u);
    const double unit = 1000.0 * 11.0 / 13.0 / (7.0 / 3.0);
    EXPECT_NEAR(pulses[1].first - pulses[0].first, unit, 1.0);
    EXPECT_NEAR(pulses[2].first - pulses[1].first, unit, 1.0);
    // The pulse of step 2 fills its whole third of a unit, which ends at the right margin.
    EXPECT_EQ(pulses[2].second, lastColumn(1000.0 * 12.0 / 13.0 - 0.08 * unit / 3.0));
    const int width0 = pulses[0].second - pulses[0].first;
    EXPECT_NEAR(pulses[2].second - pulses[2].first, width0, 1.0) << "every pulse takes a third of a unit";
}

TEST_F(SequencePanelDrawing, HardPulsesAreAsHighAsTheirFlipAngles)
{
    sequence().step(1).channels[0].content = -2;  // p2 = 5 us at 60 dB: 90 degrees
    sequence().step(2).channels[0].content = -3;  // p3 = 10 us: 180 degrees
    sequence().step(0).channels[2].content = -3;  // on 15N at r3 = 40 dB: 18 degrees
    sequence().elements().setValue(43, 40.0);
    drawSequencePanel(box, bench);

    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const auto middleOfPulse = [&](int s) { return columnPx(layout.stepLeft(s) + layout.unit / 6.0); };
    const double base = sequenceRowBaseline(0);
    const int ninety = rowPx(base) - topOf(middleOfPulse(1), base, hardPulseColour());
    const int oneEighty = rowPx(base) - topOf(middleOfPulse(2), base, hardPulseColour());
    EXPECT_NEAR(ninety, rowPx(kFullPulseHeight / 2.0), 1);
    EXPECT_NEAR(oneEighty, rowPx(kFullPulseHeight), 1);
    const double base15N = sequenceRowBaseline(2);
    const int eighteen = rowPx(base15N) - topOf(middleOfPulse(0), base15N, hardPulseColour());
    EXPECT_NEAR(eighteen, rowPx(kFullPulseHeight / 10.0), 1);
}

TEST_F(SequencePanelDrawing, ShapedPulsesShowTheirEnvelopeOrAHatchedOutline)
{
    // Half amplitude for the first half of the pulse, full amplitude for the second.
    dir.writeBytes("step.RF", "0 511.5 1\r\n0 1023 1\r\n");
    ASSERT_TRUE(sequence().setContent(1, 0, "n_step.RF"));
    ASSERT_TRUE(sequence().setContent(2, 0, "n_missing.RF"));
    drawSequencePanel(box, bench);

    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const double base = sequenceRowBaseline(0);
    const double part = layout.unit / 3.0;
    const int firstHalf = columnPx(layout.stepLeft(1) + 0.3 * part);
    const int secondHalf = columnPx(layout.stepLeft(1) + 0.7 * part);
    EXPECT_NEAR(rowPx(base) - topOf(firstHalf, base, shapedPulseColour()), rowPx(kFullShapeHeight / 2.0), 1);
    EXPECT_NEAR(rowPx(base) - topOf(secondHalf, base, shapedPulseColour()), rowPx(kFullShapeHeight), 1);

    // The missing file: an outline, so the inside is mostly not filled.
    const int inside = columnPx(layout.stepLeft(2) + 0.5 * part);
    const int filled = count([](const QColor& c) { return c == shapedPulseColour(); }, inside,
                             rowPx(base - 50.0), inside + 1, rowPx(base - 5.0));
    EXPECT_GT(filled, 0) << "hatching";
    EXPECT_LT(filled, rowPx(45.0) / 2);
}

TEST_F(SequencePanelDrawing, DecouplingIsAHatchedBandOverTheWholeStep)
{
    sequence().step(1).channels[1].content = model::kDecouplingCode;
    drawSequencePanel(box, bench);
    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const std::vector<ColumnRun> band = runs(rowPx(sequenceRowBaseline(1)), decouplingColour());
    ASSERT_EQ(band.size(), 1u) << "the band's lower edge";
    EXPECT_NEAR(band[0].first, layout.stepLeft(1), 1.0);
    EXPECT_NEAR(band[0].second, layout.stepRight(1), 1.0);
}

TEST_F(SequencePanelDrawing, DelayNamesOfTheArrayedDelayAreRed)
{
    ASSERT_TRUE(sequence().setDelay(0, "d3"));
    ASSERT_TRUE(sequence().setDelay(1, "d2"));
    ASSERT_TRUE(sequence().setDelay(2, "d3"));
    sequence().setArrayedParameter("d3");
    drawSequencePanel(box, bench);

    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const auto red = [](const QColor& c) { return c.red() > 200 && c.green() < 120 && c.blue() < 120; };
    const auto dark = [](const QColor& c) { return c.red() < 100 && c.green() < 100 && c.blue() < 100; };
    const int top = rowPx(kDelayTextTop);
    for (int s = 0; s <= 2; ++s) {
        const int x0 = columnPx(layout.stepLeft(s));
        const int x1 = columnPx(layout.stepRight(s));
        if (s == 1) {
            EXPECT_EQ(count(red, x0, top, x1, kHeightPx), 0) << "d2 is not arrayed";
            EXPECT_GT(count(dark, x0, top, x1, kHeightPx), 0) << "d2 is printed in black";
        } else {
            EXPECT_GT(count(red, x0, top, x1, kHeightPx), 0) << "step " << s;
            EXPECT_EQ(count(dark, x0, top, x1, kHeightPx), 0) << "step " << s;
        }
    }
}

TEST_F(SequencePanelDrawing, ALiteralZeroDelayIsNotPrinted)
{
    sequence().step(0).delay = 0.0;
    sequence().step(1).delay = 0.0;
    drawSequencePanel(box, bench);
    const int top = rowPx(kDelayTextTop);
    // Left of the right margin, which the current acquisition step highlights.
    const int margin = columnPx(kSequenceScaleWidth * 12.0 / 13.0);
    EXPECT_EQ(count([](const QColor& c) { return c != QColor(Qt::white); }, 0, top, margin, kHeightPx), 0);
    ASSERT_TRUE(sequence().setDelay(0, "d1"));
    drawSequencePanel(box, bench);
    EXPECT_GT(count([](const QColor& c) { return c != QColor(Qt::white); }, 0, top, margin, kHeightPx), 0);
}

TEST_F(SequencePanelDrawing, TheCycledBlockIsMarkedOnlyWhenItRuns)
{
    sequence().setCycleBounds(1, 2);
    drawSequencePanel(box, bench);
    const int between = rowPx(sequenceRowBaseline(1) + 40.0);
    EXPECT_TRUE(runs(between, cycleLineColour()).empty()) << "count 0 and the arrayed d1: no block";

    sequence().elements().setValue(model::element::kCycleCount, 2.0);
    drawSequencePanel(box, bench);
    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const std::vector<ColumnRun> lines = runs(between, cycleLineColour());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0].first, layout.stepLeft(1), 1.0);
    EXPECT_NEAR(lines[1].first, layout.stepRight(2), 1.0);

    sequence().elements().setValue(model::element::kCycleCount, 0.0);
    sequence().setArrayedParameter("Ncycle");
    drawSequencePanel(box, bench);
    EXPECT_EQ(runs(between, cycleLineColour()).size(), 2u) << "an arrayed cycle count shows the block";
}

TEST_F(SequencePanelDrawing, ThePointMarkerStandsAtTheBoundaryAfterThePointStep)
{
    sequence().setPointStep(1);
    drawSequencePanel(box, bench);
    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const std::vector<ColumnRun> marks =
        runs(rowPx((kPointMarkerTop + kPointMarkerBottom) / 2.0), pointMarkerColour());
    ASSERT_EQ(marks.size(), 5u);
    EXPECT_NEAR((marks.front().first + marks.back().first) / 2.0, layout.stepRight(1), 1.0);
}

TEST_F(SequencePanelDrawing, AnAcquisitionMarkerWithoutAShapedPulseIsRemoved)
{
    sequence().setAcquisitionStep(1);
    drawSequencePanel(box, bench);
    EXPECT_EQ(sequence().acquisitionStep(), model::PulseSequence::kNoAcquisition);

    ASSERT_TRUE(sequence().setContent(1, 2, "s1_ttt.RF"));
    sequence().setAcquisitionStep(1);
    drawSequencePanel(box, bench);
    EXPECT_EQ(sequence().acquisitionStep(), 1);
}

TEST_F(SequencePanelDrawing, TheCurrentStepIsHighlighted)
{
    bench.controls().setCaption(model::ctl::CurrentStep, "1");
    drawSequencePanel(box, bench);
    const workbench::SequenceLayout layout = workbench::layoutSteps(sequence(), kSequenceScaleWidth);
    const std::vector<ColumnRun> band = runs(rowPx(30.0), currentStepColour());
    ASSERT_EQ(band.size(), 1u);
    EXPECT_EQ(band[0].first, firstColumn(layout.stepLeft(1)));
    EXPECT_EQ(band[0].second, lastColumn(layout.stepRight(1)));
}

}  // namespace
}  // namespace velmora::render
