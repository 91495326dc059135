// The spin-system panel drawn offscreen: where the discs land and how large they are, the colours
// of the coupling lines and of the value texts, and the two-site picture of exchange mode. The
// pictures are drawn at 5 twips per pixel so that the labels stay clear of the disc centres.
#include "render/spin_panel.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "workbench/workbench.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <gtest/gtest.h>

namespace velmora::render {
namespace {

constexpr double kTwipsPerTestPixel = 5.0;

class SpinPanelDrawing : public ::testing::Test {
protected:
    SpinPanelDrawing()
        : bench(messages, dir.path()), box(static_cast<int>(kSpinPanelScaleWidth / kTwipsPerTestPixel),
                                           static_cast<int>(kSpinPanelScaleHeight / kTwipsPerTestPixel))
    {
    }

    QColor at(double xTwips, double yTwips) const
    {
        const QPointF p = box.toPixels(xTwips, yTwips);
        return box.image().pixelColor(static_cast<int>(p.x()), static_cast<int>(p.y()));
    }

    // Pixels inside the rectangle of twips [x0, x1) x [y0, y1) that `near` accepts.
    template <typename Predicate> int count(Predicate near, double x0, double y0, double x1, double y1) const
    {
        const QPointF a = box.toPixels(x0, y0);
        const QPointF b = box.toPixels(x1, y1);
        int n = 0;
        for (int y = static_cast<int>(a.y()); y < static_cast<int>(b.y()); ++y)
            for (int x = static_cast<int>(a.x()); x < static_cast<int>(b.x()); ++x)
                n += near(box.image().pixelColor(x, y)) ? 1 : 0;
        return n;
    }
    int count(const QColor& colour, double x0, double y0, double x1, double y1) const
    {
        return count([&](const QColor& c) { return c == colour; }, x0, y0, x1, y1);
    }

    testing::ScratchDirectory dir;
    util::RecordedMessages messages;
    workbench::Workbench bench;
    PictureBox box;
};

TEST_F(SpinPanelDrawing, OneSpinAndTheBlankPositionAreDiscsAtTopAndBottom)
{
    ASSERT_TRUE(bench.spinSystem().setLabel(1, ""));
    ASSERT_TRUE(bench.spinSystem().setLabel(2, ""));
    drawSpinPanel(box, bench);
    ASSERT_EQ(bench.spinSystem().spinCount(), 1) << "drawing rebuilds the spin system";

    // Positions (1200, 200) and (1200, 1800); discs centred 40 twips right of and below them.
    EXPECT_EQ(at(1240.0, 240.0), spinDiscColour());
    EXPECT_EQ(at(1240.0, 1840.0), spinDiscColour()) << "the blank position";
    EXPECT_EQ(at(2040.0, 1040.0), QColor(Qt::white)) << "no third position";
    // Both have the proton's radius of 100 twips.
    EXPECT_EQ(at(1240.0, 1840.0 + 90.0), spinDiscColour());
    EXPECT_EQ(at(1240.0, 1840.0 + 115.0), QColor(Qt::white));
}

TEST_F(SpinPanelDrawing, DiscRadiusFollowsTheNucleus)
{
    drawSpinPanel(box, bench);  // H0 at the top, C2 at the bottom
    EXPECT_EQ(at(1240.0 + 125.0, 240.0), QColor(Qt::white)) << "a proton's disc ends at 100 twips";
    EXPECT_EQ(at(1240.0 + 125.0, 1840.0), spinDiscColour()) << "a carbon's reaches 150 twips";
    EXPECT_EQ(at(1240.0 + 165.0, 1840.0), QColor(Qt::white));

    ASSERT_TRUE(bench.spinSystem().setLabel(2, "N2"));
    drawSpinPanel(box, bench);
    EXPECT_EQ(at(1240.0 + 165.0, 1840.0), spinDiscColour()) << "a nitrogen's reaches 180 twips";
}

TEST_F(SpinPanelDrawing, CouplingsAreLightGreenLinesBetweenTheSpins)
{
    drawSpinPanel(box, bench);
    // Points on the lines are taken at pixel centres (2.5 twips from a pixel corner), where the
    // rasterised line must pass. H0 (1200, 200) - H1 (2000, 1000): the line joins the points 75
    // twips right of and below them; its middle is (1675, 675).
    EXPECT_EQ(at(1675.0 + 2.5, 675.0 + 2.5), couplingLineColour());
    EXPECT_EQ(at(1275.0 + 202.5, 275.0 + 202.5), couplingLineColour());
    // H1 - C2 (1200, 1800), middle (1675, 1475).
    EXPECT_EQ(at(1675.0 + 2.5, 1475.0 - 2.5), couplingLineColour());
    EXPECT_EQ(at(2075.0 - 197.5, 1075.0 + 197.5), couplingLineColour());
    // H0 and C2 are not coupled: nothing on the vertical between them.
    EXPECT_EQ(count(couplingLineColour(), 1260.0, 600.0, 1290.0, 1400.0), 0);
}

TEST_F(SpinPanelDrawing, ShiftAndRelaxationTextsStandBesideEachSpinInTheirColours)
{
    drawSpinPanel(box, bench);
    // H1 (2000, 1000) lies on the right half: its column starts at X + 250.
    // Text is smoothed, so its pixels are blends of the text colour with white: judged by hue.
    const auto red = [](const QColor& c) { return c.red() > 200 && c.green() < 120 && c.blue() < 120; };
    const auto grey = [](const QColor& c) {
        return c.red() < 160 && c.red() == c.green() && c.green() == c.blue();
    };
    const auto cyan = [](const QColor& c) {
        return c.red() < 100 && c.green() > 120 && c.green() == c.blue();
    };
    EXPECT_GT(count(red, 2250.0, 850.0, 2600.0, 1000.0), 0) << "0.40 in red at Y - 150";
    EXPECT_EQ(count(grey, 2250.0, 850.0, 2600.0, 1000.0), 0);
    EXPECT_GT(count(grey, 2250.0, 1025.0, 2600.0, 1200.0), 0) << "1000.000 in dark grey at Y + 25";
    EXPECT_EQ(count(red, 2250.0, 1025.0, 2600.0, 1200.0), 0);
    EXPECT_GT(count(cyan, 2250.0, 1200.0, 2600.0, 1400.0), 0) << "100.000 at Y + 200";
    EXPECT_EQ(count(red, 0.0, 600.0, 1150.0, 2000.0), 0)
        << "no spin lies on the left half, so nothing is written there";
    EXPECT_GT(count(red, 0.0, 0.0, 700.0, 200.0), 0) << "the legend's shift line in the top-left corner";
    EXPECT_GT(count(cyan, 0.0, 0.0, 700.0, 600.0), 0) << "and its T2 line";
}

TEST_F(SpinPanelDrawing, ValueTextsStayWholeInsideThePanel)
{
    drawSpinPanel(box, bench);
    const auto ink = [](const QColor& c) { return c != QColor(Qt::white); };
    // H1 at the right edge and C2 at the bottom: their lines end before the panel's last pixels.
    EXPECT_EQ(count(ink, kSpinPanelScaleWidth - kTwipsPerTestPixel, 0.0, kSpinPanelScaleWidth,
                    kSpinPanelScaleHeight),
              0);
    EXPECT_EQ(count(ink, 0.0, kSpinPanelScaleHeight - kTwipsPerTestPixel, kSpinPanelScaleWidth,
                    kSpinPanelScaleHeight),
              0);
    const auto cyan = [](const QColor& c) { return c.red() < 100 && c.green() > 120 && c.green() == c.blue(); };
    EXPECT_GT(count(cyan, 1200.0, 1700.0, 2600.0, 2000.0), 0) << "the bottom spin's T2 is still written";
}

TEST_F(SpinPanelDrawing, CouplingLabelsCoverNoValuesAtTheWindowsScale)
{
    // At 15 twips per pixel C2's values move up across the middle of the H1 - C2 line; the
    // coupling's black label moves along its line instead of covering them.
    PictureBox window(static_cast<int>(kSpinPanelScaleWidth / 15), static_cast<int>(kSpinPanelScaleHeight / 15));
    drawSpinPanel(window, bench);
    const auto pixels = [&](auto near, double x0, double y0, double x1, double y1) {
        int n = 0;
        for (int y = static_cast<int>(y0 / 15); y < static_cast<int>(y1 / 15); ++y)
            for (int x = static_cast<int>(x0 / 15); x < static_cast<int>(x1 / 15); ++x)
                n += near(window.image().pixelColor(x, y)) ? 1 : 0;
        return n;
    };
    const auto black = [](const QColor& c) { return c.red() < 80 && c.green() < 80 && c.blue() < 80; };
    const auto red = [](const QColor& c) { return c.red() > 200 && c.green() < 120 && c.blue() < 120; };
    // C2's shift line, found by its red text, holds no black.
    int top = -1;
    for (int y = static_cast<int>(1300 / 15); y < window.pixelHeight() && top < 0; ++y)
        if (pixels(red, 1300.0, y * 15.0, 2000.0, y * 15.0 + 15.0) > 0)
            top = y;
    ASSERT_GE(top, 0);
    EXPECT_EQ(pixels(black, 1300.0, top * 15.0, 2000.0, top * 15.0 + 150.0), 0);
    EXPECT_GT(pixels(black, 1300.0, 1000.0, 2100.0, top * 15.0), 0) << "the label 140 is still written";
}

TEST_F(SpinPanelDrawing, ExchangeModeShowsTwoSites)
{
    bench.setExchangeMode(true);
    drawSpinPanel(box, bench);
    EXPECT_EQ(at(800.0 + 140.0, 1000.0), spinDiscColour());
    EXPECT_EQ(at(2000.0 - 140.0, 1000.0), spinDiscColour());
    EXPECT_EQ(at(800.0 + 170.0, 1000.0), QColor(Qt::white)) << "radius 155";
    EXPECT_EQ(at(1240.0, 240.0), QColor(Qt::white)) << "no spins drawn";
    EXPECT_EQ(count(couplingLineColour(), 0.0, 0.0, 2600.0, 2000.0), 0);
}

}  // namespace
}  // namespace velmora::render
