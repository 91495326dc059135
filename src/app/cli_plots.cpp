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
    // A picture that could not be written stays out of the set (a partly written file is removed)
    // and its manifest names it as missing; the tables of the run go in all the same.
    // The staging folder is gone once the set is in: the notes name the file as the set does.
    std::string firstWhy;
    options.unsaved = [&](const std::string& file, const std::string& why) {
        std::error_code ignored;
        std::filesystem::remove(directory / file, ignored);
        std::string note = why;
        const std::string staged = (directory / file).string();
        if (const std::size_t at = note.find(staged); at != std::string::npos)
            note.replace(at, staged.size(), file);
        bench.records().missingFiles.push_back(file + ": " + note);
        if (firstWhy.empty())
            firstWhy = note;
    };
    const OffscreenDrawing drawing;
    const util::Outcome saved = render::savePlotPictures(bench, directory, false, options);
    if (saved || firstWhy.empty())
        return saved;
    return util::Outcome::failure(
        firstWhy + " The run's other files are kept; its manifest names the picture as missing.");
}

}  // namespace velmora::app
