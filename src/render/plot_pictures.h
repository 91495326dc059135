// The plots of the last run as the window's boxes show them, drawn from a workbench: the settings
// of each plot read from the controls registry and the run records (shared by the window and the
// command line), and the saving of the four pictures as "plot1d", "plot2d", "plotOper" and
// "plotSec" bitmaps and PNG files.
#pragma once

#include "render/map_figure.h"
#include "render/map_plot.h"
#include "render/picture_box.h"
#include "render/spectrum_plot.h"
#include "render/trace_plot.h"
#include "util/outcome.h"

#include <QSize>
#include <filesystem>
#include <functional>

namespace velmora::workbench {
class Workbench;
}

namespace velmora::render {

// The sizes of the window's picture boxes, in twips.
struct TwipSize {
    int width = 0;
    int height = 0;
};
inline constexpr TwipSize kSpectrumPictureTwips{7800, 3900};  // the 1D plot
inline constexpr TwipSize kMapPictureTwips{3750, 3600};       // the 2D map
inline constexpr TwipSize kMapFigureTwips{7800, 7200};        // the saved map with its axes
inline constexpr TwipSize kTracePictureTwips{7800, 2650};     // the operator traces
inline constexpr TwipSize kSequencePictureTwips{7600, 2500};  // the sequence panel

// Pixels of a box of `size` twips at `pixelsPerTwip` (1/15 at 96 dpi), rounded to the nearest.
QSize picturePixels(TwipSize size, double pixelsPerTwip);

// The 1D plot's settings from the view controls: overlay "ON"/"OFF" (Command1), X (Text2(2)),
// Z = 2^(HScroll1), B (VScroll2), the run selector (VScroll1), the pulse view (Command9(6) reads
// "pulse"), Ni of the last run (of Text14(11) before any run). Ticks: Hz with ppm of the detected
// nucleus (sw, MHz, detection box) where the view shows spectra, ms (at) where it shows FIDs; after
// a Start_2D the "fid" view holds the direct-dimension spectra and the "spec" view the FIDs.
SpectrumPlotSettings spectrumPlotSettings(const workbench::Workbench& bench, bool ticks = true);

// The spectral widths of the map's axes: sw (Text14(6)) and sw1 (Text14(13)).
MapAxes mapAxes(const workbench::Workbench& bench);

// The map figure's settings: the map gain G, the spectral widths, the proton frequency (Text14(3))
// and the detected nucleus; the window's map and the saved "plot2d" draw with them.
MapFigureSettings mapFigureSettings(const workbench::Workbench& bench, double gain, double twipsPerPixel);

// The arrayed parameter of the sequence and Ni, for the trace cursor.
TraceAxis traceAxis(const workbench::Workbench& bench);

// Draws the sequence panel into a box of the sequence picture's size.
using SequencePanelDrawer = std::function<void(PictureBox& box, const workbench::Workbench& bench)>;

struct PlotPictureOptions {
    double pixelsPerTwip = 1.0 / kTwipsPerPixel;
    double mapGain = 1.0;  // G of the map buttons
    bool ticks = true;     // abscissa ticks of the 1D plot
    // Draws "plotSec"; none leaves that picture blank.
    SequencePanelDrawer drawSequencePanel{};
    // Told of every picture file that could not be written ("plot1d.png") and why; the others are
    // still saved.
    std::function<void(const std::string& fileName, const std::string& why)> unsaved{};
};

// Renders the 1D plot of the display array, the 2D map figure (with its axes) when the last run
// made a map, the traces of
// every operator of the operator table ("prodop.dat" of `directory`, else of the working
// directory) and the sequence panel, at the window's box sizes, and saves them in `directory` as "plot1d", "plot2d" (only with
// a map), "plotOper" and "plotSec": ".png" files, and ".BMP" files besides when `bmpAndPng`.
// Existing files are overwritten. Every picture is attempted; a failure names the first file that
// could not be written. Needs a QGuiApplication (text).
util::Outcome savePlotPictures(const workbench::Workbench& bench, const std::filesystem::path& directory,
                               bool bmpAndPng, const PlotPictureOptions& options = {});

}  // namespace velmora::render
