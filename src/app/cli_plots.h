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

// Writes plot1d.png, plot2d.png (when the run made a 2D map), plotOper.png and plotSec.png into
// `directory` (the run's staging folder). Starts Qt's offscreen platform for the drawing unless
// QT_QPA_PLATFORM names another one.
util::Outcome writePlotPngs(const workbench::Workbench& bench, const std::filesystem::path& directory);

}  // namespace velmora::app
