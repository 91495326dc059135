// The picture of spin 0's magnetisation vector during the acquisition pulse: after every sampled
// point a line from the centre to the vector's tip, in a colour that brightens from green towards
// yellow as the vector tips into the transverse plane, and a white dot at the tip. The lines stay,
// so the picture traces the path of the tip through the pulse.
#pragma once

#include "render/picture_box.h"

#include <QPointF>

namespace velmora::render {

// The side of the square picture in twips (260 pixels at the window's 96 dpi).
inline constexpr double kVectorPictureTwips = 3900.0;

// The coefficient (nucleus constant units) that maps onto the picture's half width: twice the
// proton's full polarisation, so a vector of full length reaches half-way to the edge.
inline constexpr double kVectorFullScale = 2e7;

// One sampled point as drawn: where the line from the centre (H, H) ends, in twips from the
// top-left corner, and the classic colour value of the line.
struct VectorStroke {
    QPointF tip;
    int colorValue = 0;
};

// With x' = x / 2e7 * H and likewise y', z' (x, y, z: spin 0's coefficients; H: half the picture's
// width in twips) the tip lies at (H + x' + y', H - (z' - x')), an oblique view in which z points
// up, y to the right and x to the right and down (towards the viewer); the colour value is the
// nearest integer to (x'^2 + y'^2) * 0.000125 + 111111.
VectorStroke vectorStroke(double x, double y, double z, double halfWidthTwips);

class VectorPicture {
public:
    // A square picture of kVectorPictureTwips at `pixelsPerTwip`, blank.
    explicit VectorPicture(double pixelsPerTwip = 1.0 / kTwipsPerPixel);

    // Black ground, nothing drawn.
    void clear();
    // Adds the line of one sampled point and the white dot (one pixel in radius) at its tip.
    void drawVector(double x, double y, double z);

    double halfWidthTwips() const { return box_.scaleWidth() / 2.0; }
    const PictureBox& box() const { return box_; }

private:
    PictureBox box_;
};

}  // namespace velmora::render
