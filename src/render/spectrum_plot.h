// The one-dimensional plot of the display arrays: three strips of equal height (real, imaginary
// and magnitude part from the top), one run alone ("ON") or the runs 0..m side by side ("OFF"),
// with the vertical and horizontal zoom and the baseline offset of the window's controls, the
// strip limits printed at the left, the strip names at the right, and optional abscissa ticks
// (Hz and ppm, or ms) along the bottom strip. Also the readout of the cursor over the plot.
#pragma once

#include "model/nucleus.h"
#include "processing/display_arrays.h"
#include "render/picture_box.h"

#include <QPointF>
#include <array>
#include <string>
#include <string_view>

namespace velmora::render {

// What the ticks along the bottom strip show.
enum class SpectrumAxis {
    None,       // no ticks
    Frequency,  // Hz, point i at (np/2 - i) sw / np; ppm besides when the spectrometer is known
    Time,       // ms, point i at i * at / np
};

struct SpectrumAxisSettings {
    SpectrumAxis kind = SpectrumAxis::None;
    double spectralWidthHz = 0.0;    // sw ("sw, Hz"), for Frequency
    double acquisitionTimeMs = 0.0;  // at ("at, ms"), for Time
    // Proton frequency of the spectrometer in MHz; 0 or less: no ppm ticks.
    double protonFrequencyMHz = 0.0;
    // The detected nucleus: ppm are Hz over its own frequency (proton MHz x gamma / gamma(1H)).
    model::Nucleus nucleus = model::Nucleus::H1;
};

// What the window's view controls hold.
struct SpectrumPlotSettings {
    // The overlay switch: true "ON" (run m alone), false "OFF" (runs 0..m side by side).
    bool overlay = true;
    double horizontalZoom = 1.0;   // X: in "ON" mode the points 0..np/X - 1 fill the width
    double verticalZoom = 1.0;     // Z = 2^(vertical zoom bar)
    double baselinePercent = 0.0;  // B: -100..100 percent of the strip top ("ON" mode only)
    int run = 0;                   // the run selector
    int arraySize = 0;             // Ni: m = min(run, Ni)
    bool pulseView = false;        // the view shows the acquisition pulse: m = 0
    // Twips per pixel of the box: the plot is laid out in twips (strip height, label offsets).
    double twipsPerPixel = kTwipsPerPixel;
    SpectrumAxisSettings axis;  // no ticks by default
    // What each strip shows, printed at its right: the parts of a 1D spectrum or FID, or the
    // channels whose direct-dimension data a 2D run keeps in the three parts.
    std::array<std::string, processing::DisplayArrays::kParts> stripNames{"real", "imaginary", "magnitude"};
    // What the plot shows ("spectrum of run 3, channel H1", ...), centred over the first strip; none
    // when empty.
    std::string title;
};

// The limits of one strip: its top edge shows `top`, its bottom edge `bottom`.
struct StripLimits {
    double top = 1.0;
    double bottom = -1.0;
};

// Where the plot put things, for the cursor readout.
struct SpectrumPlotLayout {
    bool drawn = false;             // false: nothing to show, the picture was left as it was
    int shownRun = 0;               // m
    double widthTwips = 0.0;        // W
    double stripHeightTwips = 0.0;  // h = (box height in twips) / 3, whole twips
    double twipsPerPixel = kTwipsPerPixel;
    double pointStepTwips = 0.0;  // the distance from one point to the next, as drawn
    int pointCount = 0;           // np of each run
    std::array<StripLimits, processing::DisplayArrays::kParts> strips{};
    SpectrumAxisSettings axis;    // the abscissa as the ticks show it
};

// Clears the box and draws the plot of `display` (parts 0, 1, 2 in strips 0, 1, 2). Leaves the
// picture unchanged when the display array is empty or has no points. Text needs a QGuiApplication.
//
// m = 0 in the pulse view, else min(run, Ni), clamped to the runs the array holds. Every strip has
// top = M and bottom = -M, M the largest magnitude of all three parts over the runs 0..m; equal
// limits become top = bottom + 1, then bottom = top - 2. With Fc = h / (top - bottom):
// - "ON": step = X W / np / 1.01; point i = 0..np/X - 1 of run m at x = i step and
//   y = (top - Z (v - B top / 100)) Fc + c h, held inside its strip; black lines join each point
//   to the next.
// - "OFF": step = X W / np / 1.01 / (m + 1); the np points of the runs 0..m follow each other from
//   x = 0, y = (top - Z v) Fc + c h, not held inside the strip; lines lead to the points 14..np-1 of
//   every run only. No ticks are drawn in this mode.
// Red lines separate the strips; the integer part of each strip's top and bottom is printed at its
// upper left, and the strip names (settings.stripNames) ending a little inside the right edge. Ticks are
// drawn before the data, small and grey, so that the data always lie on top of them.
SpectrumPlotLayout drawSpectrumPlot(PictureBox& box, const processing::DisplayArrays& display,
                                    const SpectrumPlotSettings& settings);

// The two readouts of the cursor over the plot.
struct SpectrumReadout {
    std::string amplitude;  // the value under the cursor, cut to two decimals
    std::string abscissa;   // "123Hz" or "12.345ms"; empty for an unknown view
};

// The readout at `pixel` (pixels from the box's top-left corner) of a drawn plot. Amplitude: in
// strip c under the cursor, top - (y - c h) / h (top - bottom). Abscissa from the point under the
// cursor as the plot placed it, i = x / step (within its run when the runs lie side by side), in
// the unit of the axis the plot was drawn with, so that it agrees with the ticks at every
// horizontal zoom (a Start_2D shows spectra in the view whose caption says "fid"): on a frequency
// axis (np/2 - i) sw / np rounded to whole Hz, on a time axis i at / np rounded to three decimals,
// none without an axis. Both empty when the layout was not drawn.
SpectrumReadout spectrumReadout(const SpectrumPlotLayout& layout, QPointF pixel);

}  // namespace velmora::render
