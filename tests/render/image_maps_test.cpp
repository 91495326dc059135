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

}  // namespace
}  // namespace velmora::render
