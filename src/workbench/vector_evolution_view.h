// What shows spin 0's vector during the acquisition pulse when "plot vector evolution" is ticked:
// the window's animation, the command line's frame files. The front end installs one in the
// workbench; a Start hands it to the step routine as the observer of the sampled points.
#pragma once

#include "engine/step_routine.h"

#include <filesystem>

namespace velmora::workbench {

class VectorEvolutionView : public engine::StepObserver {
public:
    // Called before the first run of a Start whose acquisition samples a shaped pulse point by
    // point: the picture starts blank, its frames go into `frameFolder`, and the pulse has
    // `pulsePoints` points (the animation's pace).
    virtual void begin(const std::filesystem::path& frameFolder, int pulsePoints) = 0;
};

}  // namespace velmora::workbench
