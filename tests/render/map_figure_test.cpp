#include "processing/map_2d.h"
#include "processing/peaks.h"
#include "render/map_figure.h"

#include <QImage>
#include <QString>
#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::render {
namespace {

constexpr int kPoints = 32;
constexpr double kDirectWidthHz = 400.0;
constexpr double kIndirectWidthHz = 300.0;

processing::Map2D peakMap()
{
    processing::Map2D map;
    map.pointCount = kPoints;
    map.values.assign(kPoints * kPoints, 0.0);
    map.at(8, 20) = 5.0;
    map.at(20, 8) = -3.0;
    map.maximum = 5.0;
    map.minimum = -3.0;
    return map;
}

// The drawn texts that read as numbers, with their centres, inside `area`.
std::vector<std::pair<double, QPointF>> numbersIn(const PictureBox& box, const QRectF& area)
{
    std::vector<std::pair<double, QPointF>> numbers;
    for (const DrawnText& t : box.texts()) {
        bool number = false;
        const double value = t.text.toDouble(&number);
        if (number && area.contains(t.pixels.center()))
            numbers.emplace_back(value, t.pixels.center());
    }
    return numbers;
}

TEST(MapFigure, AxesCarryTheMapsFrequenciesAndTheirTitles)
{
    PictureBox box(1300, 1200);
    MapFigureSettings settings;
    settings.axes = {kDirectWidthHz, kIndirectWidthHz};
    settings.protonFrequencyMHz = 400.0;
    const MapFigureLayout layout = drawMapFigure(box, peakMap(), settings);
    ASSERT_TRUE(layout.drawn);

    // The ends of the axes are the frequencies of the first and last columns and rows.
    EXPECT_DOUBLE_EQ(layout.leftHz, processing::pointFrequencyHz(0, kPoints, kDirectWidthHz));
    EXPECT_DOUBLE_EQ(layout.rightHz, processing::pointFrequencyHz(kPoints - 1, kPoints, kDirectWidthHz));
    EXPECT_DOUBLE_EQ(layout.topHz, processing::indirectFrequencyHz(0, kPoints, kIndirectWidthHz));
    EXPECT_DOUBLE_EQ(layout.bottomHz,
                     processing::indirectFrequencyHz(kPoints - 1, kPoints, kIndirectWidthHz));
    EXPECT_GT(layout.leftHz, layout.rightHz) << "f2 falls to the right";
    EXPECT_LT(layout.topHz, layout.bottomHz) << "f1 grows downwards";

    for (const char* title : {"f2 (Hz)", "f1 (Hz)", "f2 (ppm)", "f1 (ppm)", "2D map, 1H channel", "scale"}) {
        const auto& texts = box.texts();
        const auto at =
            std::find_if(texts.begin(), texts.end(), [&](const DrawnText& t) { return t.text == title; });
        ASSERT_NE(at, texts.end()) << title;
        EXPECT_TRUE(QRectF(0, 0, 1300, 1200).contains(at->pixels)) << title << " inside the picture";
        EXPECT_FALSE(at->pixels.intersects(layout.plotPixels)) << title << " off the map";
    }

    // Every Hz label sits at its own frequency: between the first and last cell centres the axis
    // is linear in the cell index.
    const QRectF plot = layout.plotPixels;
    const double cell = plot.width() / kPoints;
    const auto bottomRow = numbersIn(box, QRectF(plot.left() - 50, plot.bottom(), plot.width() + 100, 40));
    ASSERT_GE(bottomRow.size(), 4u);
    for (const auto& [hz, centre] : bottomRow) {
        const double column = (layout.leftHz - hz) / (layout.leftHz - layout.rightHz) * (kPoints - 1);
        EXPECT_NEAR(centre.x(), plot.left() + (column + 0.5) * cell, 1.0) << hz << " Hz";
    }
    const auto leftColumn = numbersIn(box, QRectF(0, plot.top() - 5, plot.left(), plot.height() + 10));
    ASSERT_GE(leftColumn.size(), 4u);
    for (const auto& [hz, centre] : leftColumn) {
        const double row = (hz - layout.topHz) / (layout.bottomHz - layout.topHz) * (kPoints - 1);
        EXPECT_NEAR(centre.y(), plot.top() + (row + 0.5) * cell, 1.0) << hz << " Hz";
    }
    // ppm along the top: Hz over 400 MHz.
    const auto topRow = numbersIn(box, QRectF(plot.left() - 50, plot.top() - 40, plot.width() + 100, 40));
    ASSERT_GE(topRow.size(), 3u);
    for (const auto& [ppm, centre] : topRow) {
        const double column =
            (layout.leftHz - 400.0 * ppm) / (layout.leftHz - layout.rightHz) * (kPoints - 1);
        EXPECT_NEAR(centre.x(), plot.left() + (column + 0.5) * cell, 1.0) << ppm << " ppm";
    }
    // The map itself: the positive peak white at its cell.
    const QPointF peak(plot.left() + 20.5 * cell, plot.top() + 8.5 * cell);
    EXPECT_EQ(box.image().pixelColor(peak.toPoint()), QColor(255, 255, 255));
}

TEST(MapFigure, AnEmptyMapDrawsNothing)
{
    PictureBox box(200, 200);
    EXPECT_FALSE(drawMapFigure(box, processing::Map2D{}, {}).drawn);
    EXPECT_TRUE(box.texts().empty());
}

}  // namespace
}  // namespace velmora::render
