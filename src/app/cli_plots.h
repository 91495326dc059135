// The plots of "velmora-cli run --png": the window's pictures drawn offscreen and saved as PNG files
// in the working directory. Compiled only into a build with the drawing library
// (VELMORA_HAVE_RENDER); the rest of the command line needs no display and no Qt.
#pragma once

#include "util/outcome.h"

#include <filesystem>

namespace velmora::workbench {
class Workbench;
}

namespace velmora::app {

// The default --png-scale: the pictures at 2.5 times the window's box sizes, so that the spectrum
// (7800 twips, 520 pixels in the window) comes out 1300 pixels wide.
inline constexpr double kDefaultPngScale = 2.5;

// Writes plot1d.png, plot2d.png (when the run made a 2D map, with its axes), plotOper.png and
// plotSec.png (the sequence panel) into `directory` (the run's staging folder), `scale` times the
// window's box sizes. Starts Qt's offscreen platform for the drawing unless QT_QPA_PLATFORM names
// another one. A picture that cannot be written is left out and noted in the run's records
// (missingFiles), for the manifest.
util::Outcome writePlotPngs(workbench::Workbench& bench, const std::filesystem::path& directory,
                            double scale = kDefaultPngScale);

}  // namespace velmora::app
