// The image window's signal plot of one pixel.
#include "render/image_maps.h"

#include <QImage>
#include <gtest/gtest.h>
#include <limits>

namespace velmora::render {
namespace {

// The highest picture row that holds a pixel of the marks' dark blue, or the height when none.
int highestMarkRow(const QImage& picture)
{
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor colour = picture.pixelColor(x, y);
            if (colour.blue() > 100 && colour.red() < 60 && colour.green() < 60)
                return y;
        }
    return picture.height();
}

// Regression: an infinite signal (a damaged voxel) set the top of the scale, and every other mark
// lay on the axis.
TEST(SignalPlot, MarksAreScaledToTheFiniteSignals)
{
    const double infinite = std::numeric_limits<double>::infinity();
    const QImage plot = signalPlot({3, 5, 8, 15}, {10, 40, infinite, 20}, {}, 360, 170);
    // The largest finite signal is 1 / 1.15 of the way up from the axis (row 150) to the top (row 8).
    EXPECT_LT(highestMarkRow(plot), plot.height() / 3);
}

// A series of several TRs has one fitted curve per TR, each through the signals of its own images.
TEST(SignalPlot, EveryModelIsDrawnAsACurveOfItsOwn)
{
    const std::vector<std::function<double(double)>> models{[](double) { return 10.0; },
                                                            [](double) { return 30.0; }};
    const QImage plot = signalPlot({5, 10}, {10, 30}, models, 360, 170);
    // Rows 150 (the axis) to 8 (1.15 x 30): 30 lies on row 26.5, 10 on row 108.8.
    auto redNear = [&](int row) {
        for (int y = row - 2; y <= row + 2; ++y) {
            const QColor colour = plot.pixelColor(200, y);
            if (colour.red() > 150 && colour.green() < 80 && colour.blue() < 80)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(redNear(26));
    EXPECT_TRUE(redNear(109));
    EXPECT_FALSE(redNear(68));
}

}  // namespace
}  // namespace velmora::render
