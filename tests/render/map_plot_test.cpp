// The 2D map picture: the colour of an element from its value, the gain and the reference
// magnitude; skipped small elements; where elements land; the cross-sections through a row and a
// column; and the element under the cursor.
#include "processing/map_2d.h"
#include "processing/peaks.h"
#include "render/map_plot.h"

#include <QColor>
#include <QFontMetricsF>
#include <QImage>
#include <QSize>
#include <algorithm>
#include <gtest/gtest.h>

namespace velmora::render {
namespace {

using processing::Map2D;

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

// An np x np map of zeros with the given elements; extremes as the map build keeps them.
Map2D mapOf(int np, std::initializer_list<std::tuple<int, int, double>> elements)
{
    Map2D map;
    map.pointCount = np;
    map.values.assign(static_cast<std::size_t>(np) * static_cast<std::size_t>(np), 0.0);
    for (const auto& [q, p, value] : elements)
        map.at(q, p) = value;
    map.maximum = *std::max_element(map.values.begin(), map.values.end());
    map.minimum = *std::min_element(map.values.begin(), map.values.end());
    return map;
}

// Every pixel of a cell of 10 x 10 pixels (the map of 8 x 8 on 80 x 80 pixels) has `colour`.
void expectCell(const QImage& image, int q, int p, const QColor& colour)
{
    for (int row = 10 * q; row < 10 * q + 10; ++row)
        for (int column = 10 * p; column < 10 * p + 10; ++column)
            ASSERT_EQ(image.pixelColor(column, row), colour) << "cell " << q << "," << p;
}

int countNot(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int row = 0; row < image.height(); ++row)
        for (int column = 0; column < image.width(); ++column)
            count += image.pixelColor(column, row) != colour ? 1 : 0;
    return count;
}

// ----- Colours -----------------------------------------------------------------------------------

TEST(MapPlotColours, TheLargestElementTakes333TimesTheGainClampedTo255)
{
    // R = 333, so k = G and the largest element has v = 333 G.
    const Map2D map = mapOf(8, {{2, 5, 333.0}});
    struct Case {
        double gain;
        int component;
    };
    // 166.5 rounds to the even 166; 83.25 to 83; 333 and 666 are clamped to 255.
    for (const Case& c : {Case{0.5, 166}, Case{0.25, 83}, Case{1.0, 255}, Case{2.0, 255}}) {
        PictureBox box(80, 80);
        ASSERT_TRUE(drawMap(box, map, {.gain = c.gain}));
        expectCell(box.image(), 2, 5, QColor(c.component, c.component, c.component));
        EXPECT_EQ(countNot(box.image(), kBlack), 100) << "gain " << c.gain << ": one cell on a black ground";
    }
}

TEST(MapPlotColours, NegativeElementsAreRedAndSmallOnesAreSkipped)
{
    // R = 333 (the minimum's magnitude), G = 1: v is the value itself.
    const Map2D map =
        mapOf(8, {{6, 1, -333.0}, {1, 1, -200.0}, {3, 3, 0.5}, {3, 4, 0.6}, {4, 4, -0.5}, {5, 7, 120.4}});
    PictureBox box(80, 80);
    ASSERT_TRUE(drawMap(box, map, {}));
    const QImage& image = box.image();
    expectCell(image, 6, 1, QColor(255, 0, 0));
    expectCell(image, 1, 1, QColor(200, 0, 0));
    expectCell(image, 3, 3, kBlack);  // |v| = 0.5 is skipped
    expectCell(image, 4, 4, kBlack);
    expectCell(image, 3, 4, QColor(1, 1, 1));
    expectCell(image, 5, 7, QColor(120, 120, 120));
    EXPECT_EQ(countNot(image, kBlack), 400);
}

TEST(MapPlotColours, AnEmptyOrAllZeroMapLeavesThePictureAsItWas)
{
    PictureBox box(80, 80);
    box.setForeColor(QColor(0, 0, 255));
    box.line(0.0, 300.0, 1200.0, 300.0);
    const QImage before = box.image();
    EXPECT_FALSE(drawMap(box, Map2D{}, {}));
    EXPECT_FALSE(drawMap(box, mapOf(8, {}), {}));
    EXPECT_EQ(box.image(), before);
}

// ----- Placement ---------------------------------------------------------------------------------

TEST(MapPlotPlacement, DirectIndexRunsAcrossAndIndirectIndexDown)
{
    // 8 x 8 elements on 80 x 40 pixels: cells of 10 x 5 pixels.
    const Map2D map = mapOf(8, {{1, 6, 50.0}});
    PictureBox box(80, 40);
    ASSERT_TRUE(drawMap(box, map, {}));
    for (int row = 0; row < 40; ++row)
        for (int column = 0; column < 80; ++column) {
            const bool inCell = column >= 60 && column < 70 && row >= 5 && row < 10;
            ASSERT_EQ(box.image().pixelColor(column, row), inCell ? QColor(255, 255, 255) : kBlack)
                << column << "," << row;
        }
}

TEST(MapPlotPlacement, ElementsSmallerThanAPixelStillShow)
{
    // 16 x 16 elements on 8 x 8 pixels: element (5, 9) has no pixel centre, it takes the pixel of its own.
    const Map2D map = mapOf(16, {{5, 9, -10.0}});
    PictureBox box(8, 8);
    ASSERT_TRUE(drawMap(box, map, {}));
    EXPECT_EQ(box.image().pixelColor(4, 2), QColor(255, 0, 0));
    EXPECT_EQ(countNot(box.image(), kBlack), 1);
}

// ----- Cross-sections ----------------------------------------------------------------------------

// 90 x 60 pixels (1350 x 900 twips); np = 4, so the points lie 30 pixels apart, index 3 at the left.
constexpr int kSectionWidth = 90;
constexpr int kSectionHeight = 60;

TEST(MapPlotSections, ARowRunsFromTheLastIndexAtTheLeftWithValuesBetweenMaximumAndMinimum)
{
    // Mx = 10, Mn = -10: 10 at the top edge, 0 half way down.
    const Map2D map = mapOf(4, {{1, 3, 10.0}, {2, 0, -10.0}});
    PictureBox box(kSectionWidth, kSectionHeight);
    ASSERT_TRUE(drawMapRowSection(box, map, 1, {}));
    const QImage& image = box.image();
    // Index 3 (10) at (0, 0), indices 2, 1, 0 (0) at x = 30, 60, 90 pixels on row 30.
    for (int column = 31; column < kSectionWidth; ++column)
        ASSERT_EQ(image.pixelColor(column, 30), kBlack) << column;
    EXPECT_EQ(image.pixelColor(15, 15), kBlack) << "the line down from the first point";
    for (int row = 0; row < kSectionHeight; ++row)
        if (row != 30) {
            ASSERT_EQ(image.pixelColor(60, row), kWhite) << row;
        }
}

TEST(MapPlotSections, AColumnFollowsTheIndirectIndexAndTheGainScalesValues)
{
    const Map2D map = mapOf(4, {{1, 3, 10.0}, {2, 0, -10.0}});
    PictureBox box(kSectionWidth, kSectionHeight);
    // Column 0: q = 3, 2, 1, 0 hold 0, -10, 0, 0; with G = 0.5, -10 lies at (10 + 5) / 20 of the height.
    ASSERT_TRUE(drawMapColumnSection(box, map, 0, {.gain = 0.5}));
    const QImage& image = box.image();
    EXPECT_EQ(image.pixelColor(30, 45), kBlack);
    for (int column = 61; column < kSectionWidth; ++column)
        ASSERT_EQ(image.pixelColor(column, 30), kBlack) << column;
    EXPECT_EQ(image.pixelColor(30, 30), kWhite);
    EXPECT_FALSE(drawMapColumnSection(box, map, 4, {})) << "no column 4";
    EXPECT_FALSE(drawMapRowSection(box, mapOf(4, {}), 0, {})) << "Mx = Mn";
}

TEST(MapPlotSections, MaximumAndMinimumAreCutToTwoDecimalsAtTheEndsOfTheValueAxis)
{
    // Row 1 is all zero: a line across the middle, away from the labels.
    const Map2D map = mapOf(4, {{0, 0, 1.239}, {3, 3, -1.239}});
    PictureBox box(kSectionWidth, kSectionHeight);
    ASSERT_TRUE(drawMapRowSection(box, map, 1, {}));

    PictureBox reference(kSectionWidth, kSectionHeight);
    const double lineTwips = QFontMetricsF(reference.font(), &reference.image()).height() * 15.0;
    reference.text(0.0, 0.0, "1.23");
    reference.text(0.0, kSectionHeight * 15.0 - lineTwips, "-1.23");
    int inked = 0;
    for (int row = 0; row < kSectionHeight; ++row) {
        if (row == 30)
            continue;
        for (int column = 0; column < kSectionWidth; ++column) {
            ASSERT_EQ(box.image().pixelColor(column, row), reference.image().pixelColor(column, row))
                << column << "," << row;
            inked += box.image().pixelColor(column, row) != kWhite ? 1 : 0;
        }
    }
    EXPECT_GT(inked, 20);
}

// ----- Cursor ------------------------------------------------------------------------------------

TEST(MapPlotCursor, ThePixelGivesTheElementAndItsFrequencies)
{
    const MapAxes axes{.directWidthHz = 400.0, .indirectWidthHz = 200.0};
    const std::optional<MapCursor> cursor = mapCursor(QSize(80, 80), QPointF(55.0, 25.0), 8, axes);
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->direct, 5);
    EXPECT_EQ(cursor->indirect, 2);
    EXPECT_EQ(cursor->directHz, processing::pointFrequencyHz(5, 8, 400.0));
    EXPECT_EQ(cursor->directHz, -50.0) << "(np/2 - p) sw / np";
    EXPECT_EQ(cursor->indirectHz, -50.0) << "(q - np/2) sw1 / np";

    const std::optional<MapCursor> corner = mapCursor(QSize(80, 80), QPointF(79.9, 0.0), 8, axes);
    ASSERT_TRUE(corner);
    EXPECT_EQ(corner->direct, 7);
    EXPECT_EQ(corner->indirect, 0);
    EXPECT_EQ(corner->indirectHz, -100.0);

    EXPECT_FALSE(mapCursor(QSize(80, 80), QPointF(80.0, 10.0), 8, axes));
    EXPECT_FALSE(mapCursor(QSize(80, 80), QPointF(-1.0, 10.0), 8, axes));
    EXPECT_FALSE(mapCursor(QSize(80, 80), QPointF(10.0, 10.0), 0, axes));
}

}  // namespace
}  // namespace velmora::render
