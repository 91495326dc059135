// The 2D map of a Start_2D as an intensity picture (positive elements grey to white, negative ones
// dark to bright red, on black), its two cross-sections through a chosen row and column, and the
// indices and frequencies under the cursor.
#pragma once

#include <string>

#include "processing/map_2d.h"
#include "render/picture_box.h"

#include <QPointF>
#include <QSize>
#include <optional>

namespace velmora::render {

struct MapPlotSettings {
    double gain = 1.0;  // G: doubled and halved by the two gain buttons
    // Twips per pixel of the box: the cross-sections are laid out in twips.
    double twipsPerPixel = kTwipsPerPixel;
    // What a cross-section shows ("row at f1 = 50.0 Hz"), at its top centre; none when empty.
    std::string title{};
};

// Draws the map into the box scaled to its index ranges: the direct index p = 0..np-1 from left to
// right, the indirect index q = 0..np-1 from top to bottom. Element (q, p) fills its cell
// [p, p + 1) x [q, q + 1) (at least the pixel that holds the cell's centre when cells are smaller
// than a pixel), so no element hides another. With R the larger of |maximum| and |minimum| and
// k = 333 / R G, v = k value: elements with |v| <= 0.5 are skipped; the others, |v| limited to 32000
// and rounded to the nearest integer (ties to even), get RGB(v, v, v) when positive and RGB(|v|, 0, 0)
// when negative, each component clamped to 255. The ground is black, so that a stronger element is a
// brighter one. Draws nothing and leaves the picture as it was when np is 0 or R is 0 (returns false).
bool drawMap(PictureBox& box, const processing::Map2D& map, const MapPlotSettings& settings);

// The cross-sections: map row `indirectRow` (all direct points) or map column `directColumn` (all
// indirect points) as a black line on white. With Mx and Mn the map's maximum and minimum, a value
// v lies at y = (Mx - G v) H / (Mx - Mn) (H the box height) and the np points are spread over the
// width in np - 1 intervals, the section running from map index np - 1 at the left edge down to
// index 0 at the right edge. Mx and Mn, cut to two decimals, are printed at the top and the bottom
// of the left edge. Draws nothing and returns false when np is 0, the index lies outside the map or
// Mx equals Mn. Text needs a QGuiApplication.
bool drawMapRowSection(PictureBox& box, const processing::Map2D& map, int indirectRow,
                       const MapPlotSettings& settings);
bool drawMapColumnSection(PictureBox& box, const processing::Map2D& map, int directColumn,
                          const MapPlotSettings& settings);

// The spectral widths of the two axes.
struct MapAxes {
    double directWidthHz = 0.0;    // sw ("sw, Hz")
    double indirectWidthHz = 0.0;  // sw1, the indirect spectral width
};

// What lies under the cursor over the map picture.
struct MapCursor {
    int indirect = 0;         // q: the map row
    int direct = 0;           // p: the map column
    double indirectHz = 0.0;  // f1 of row q (processing::indirectFrequencyHz)
    double directHz = 0.0;    // f2 of column p (processing::pointFrequencyHz)
};

// The element whose cell holds the centre of the pixel under `pixel` (pixels from the top-left
// corner of a box of `boxPixels` drawn by drawMap); none outside the box or when np is 0.
std::optional<MapCursor> mapCursor(QSize boxPixels, QPointF pixel, int pointCount, const MapAxes& axes);

}  // namespace velmora::render
