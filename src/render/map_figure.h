// The 2D map as a figure to read on its own: the map with its f2 (direct) axis along the bottom
// in Hz and along the top in ppm, its f1 (indirect) axis at the left in Hz and at the right in
// ppm, a colour scale with its values, and a title naming the detected channel. Drawn into the
// saved "plot2d" pictures.
#pragma once

#include "model/nucleus.h"
#include "processing/map_2d.h"
#include "render/map_plot.h"
#include "render/picture_box.h"

#include <QPointF>
#include <QRectF>
#include <optional>
#include <string>

namespace velmora::render {

struct MapFigureSettings {
    MapPlotSettings map;
    MapAxes axes;
    // Proton frequency of the spectrometer in MHz; 0 or less: no ppm axes.
    double protonFrequencyMHz = 0.0;
    model::Nucleus nucleus = model::Nucleus::H1;  // the detected nucleus, for ppm and the title
    // 0 for a 2D map. A vector-evolution map (the magnitude spectrum of each sampled run, the runs
    // sharing the rows in bands from the top): its run count, so that the left axis counts runs
    // and there is no f1 axis.
    int runRows = 0;
};

struct MapFigureLayout {
    bool drawn = false;
    QRectF plotPixels;  // where the map lies, on whole pixels
    // The axes' values at the centres of the first and last cells: f2 of columns 0 and np-1, f1 of
    // rows 0 and np-1, in Hz.
    double leftHz = 0.0;
    double rightHz = 0.0;
    double topHz = 0.0;
    double bottomHz = 0.0;
};

// Clears the box and draws the figure; the font grows with the box. Nothing drawn (drawn false)
// when the map has no points. Text needs a QGuiApplication.
MapFigureLayout drawMapFigure(PictureBox& box, const processing::Map2D& map,
                              const MapFigureSettings& settings);

// The map element under `pixel` (pixels from the top-left corner of the box the figure was drawn
// in): the cell of the map area that holds the pixel's centre, the one drawMap painted it with.
// None outside the map area or when the figure was not drawn.
std::optional<MapCursor> mapFigureCursor(const MapFigureLayout& layout, QPointF pixel, int pointCount,
                                         const MapAxes& axes);

}  // namespace velmora::render
