// "make pulse": reads the generator's boxes, reads the source pulses of a sum from the working
// directory, builds the pulse and writes it as NAME.RF into the working directory. The window's
// button and "velmora-cli make-pulse" both run it.
#pragma once

#include "pulses/pulse_generator.h"

#include <optional>
#include <string>

namespace velmora::workbench {

class Workbench;

struct MadePulse {
    std::string fileName;  // "ttt.RF"
    pulses::GeneratorSettings settings;
    pulses::GeneratedPulse pulse;
};

// Makes the pulse the boxes describe. A refused box, a missing or short source pulse or a file that
// cannot be written is shown as a message titled "Error!" (naming the box) and nothing is written.
// Random placements draw from the workbench's generator, reseeded first, so the same boxes always
// give the same bytes.
std::optional<MadePulse> makePulse(Workbench& bench);

}  // namespace velmora::workbench
