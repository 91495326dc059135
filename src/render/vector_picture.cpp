// The vector picture of the acquisition pulse.
#include "render/vector_picture.h"

#include "util/rounding.h"

#include <cmath>

namespace velmora::render {

VectorStroke vectorStroke(double x, double y, double z, double halfWidthTwips)
{
    const double h = halfWidthTwips;
    const double xs = x / kVectorFullScale * h;
    const double ys = y / kVectorFullScale * h;
    const double zs = z / kVectorFullScale * h;
    return {QPointF(h + xs + ys, h - (zs - xs)), util::roundToInt((xs * xs + ys * ys) * 0.000125 + 111111.0)};
}

VectorPicture::VectorPicture(double pixelsPerTwip)
    : box_(static_cast<int>(std::lround(kVectorPictureTwips * pixelsPerTwip)),
           static_cast<int>(std::lround(kVectorPictureTwips * pixelsPerTwip)))
{
    clear();
}

void VectorPicture::clear()
{
    box_.setScale(0.0, 0.0, kVectorPictureTwips, kVectorPictureTwips);
    box_.setBackColor(QColor(Qt::black));
    box_.setLineWidth(1);
    box_.clear();
}

void VectorPicture::drawVector(double x, double y, double z)
{
    const double h = halfWidthTwips();
    const VectorStroke stroke = vectorStroke(x, y, z, h);
    box_.setForeColor(stroke.colorValue);
    box_.line(h, h, stroke.tip.x(), stroke.tip.y());
    box_.setForeColor(QColor(Qt::white));
    box_.filledCircle(stroke.tip.x(), stroke.tip.y(), box_.scaleWidth() / box_.pixelWidth());
}

}  // namespace velmora::render
