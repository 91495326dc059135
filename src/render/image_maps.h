// Pictures of the image window: the grey-level slice of one image, the fitted maps in colour with
// their colour scale, and one pixel's measured measured against flip angle with the fitted curve.
#pragma once

#include "imagefit/image_series.h"
#include "imagefit/map_geometry.h"
#include "imagefit/vfa_fit.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <functional>
#include <vector>

namespace velmora::render {

// Slice `sliceFromZero` of image `image`, map rows down and columns across, one pixel per voxel.
// Grey level (value - threshold) * 512 / (largest - threshold) * gain, clamped to 0..255; levels
// below 5e-9 stay black.
QImage sliceGreyImage(const imagefit::ImageSeries& series, const imagefit::MapGeometry& geometry,
                      int sliceFromZero, int image, double threshold, double gain);

// The colour of a fraction 0..1 of a map's scale: dark blue, blue, cyan, yellow, red.
QColor mapColour(double fraction);

// A map in colour over [low, high]; pixels that were not fitted are black.
QImage mapColourImage(const imagefit::FitMaps& maps, const std::vector<double>& values, double low,
                      double high);

// The smallest and largest value of the fitted pixels (0, 1 when none is fitted or all are equal).
void fittedRange(const imagefit::FitMaps& maps, const std::vector<double>& values, double& low, double& high);

// A vertical colour scale `width` x `height` pixels, `low` at the bottom, with its two end values
// and the unit written beside it. Needs a QGuiApplication for the text.
QImage colourScale(int width, int height, double low, double high, const QString& unit);

// Signals as "*" marks against flip angle (degrees) and one curve model(angleDeg) per model (a
// series of several TRs has one per TR), drawn over the angles 0 .. 1.2 x the largest angle and
// scaled to the finite values (a NaN or infinite signal has no mark). Needs a QGuiApplication for
// the text.
QImage signalPlot(const std::vector<double>& anglesDeg, const std::vector<double>& measured,
                  const std::vector<std::function<double(double)>>& models, int width, int height);

}  // namespace velmora::render
