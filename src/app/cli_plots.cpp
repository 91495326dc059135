#include "app/cli_plots.h"

#include "app/offscreen_drawing.h"
#include "render/plot_pictures.h"
#include "render/sequence_panel.h"
#include "workbench/workbench.h"

namespace velmora::app {

util::Outcome writePlotPngs(workbench::Workbench& bench, const std::filesystem::path& directory, double scale)
{
    render::PlotPictureOptions options;
    options.pixelsPerTwip = scale / render::kTwipsPerPixel;
    options.drawSequencePanel = [&bench](render::PictureBox& box, const workbench::Workbench&) {
        render::drawSequencePanel(box, bench);
    };
    const OffscreenDrawing drawing;
    return render::savePlotPictures(bench, directory, false, options);
}

}  // namespace velmora::app
