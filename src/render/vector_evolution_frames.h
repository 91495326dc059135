// "plot vector evolution": the observer of the acquisition pulse's sampled points that draws spin
// 0's vector after each of them into the vector picture and writes the picture as a frame,
// "plotVector<point>.png", into the frame folder (created when needed). The front end shows the
// frames: the window animates them, pausing between frames; the command line only writes them.
#pragma once

#include "render/vector_picture.h"
#include "util/messages.h"
#include "util/run_control.h"
#include "workbench/vector_evolution_view.h"

#include <filesystem>
#include <functional>
#include <span>

namespace velmora::render {

class VectorEvolutionFrames final : public workbench::VectorEvolutionView {
public:
    // Called after each frame was drawn (and written), with the pulse's point count P; the window
    // shows the picture and spends about 3 s / P in its event loop.
    using FrameShown = std::function<void(const VectorPicture& picture, int pulsePoints)>;

    VectorEvolutionFrames(util::Messages& messages, const util::RunControl& control, FrameShown shown = {});

    // Clears the picture for a new Start; the frames of this Start go into `frameFolder`.
    void begin(const std::filesystem::path& frameFolder, int pulsePoints) override;
    // Draws the vector of spin 0 (row indices 1, 2, 3: x, y, z), writes frame `sample` and calls
    // the frame handler. Once Stop has cleared the running flag it does nothing, so the rest of the
    // pulse runs through at once. A frame that cannot be written is reported once per Start; the
    // picture goes on without files.
    void sampled(int run, int sample, std::span<const double> row) override;

    const VectorPicture& picture() const { return picture_; }

private:
    bool writeFrame(int sample);

    util::Messages& messages_;
    const util::RunControl& control_;
    FrameShown shown_;
    VectorPicture picture_;
    std::filesystem::path folder_;
    int pulsePoints_ = 1;
    bool writing_ = true;
};

}  // namespace velmora::render
