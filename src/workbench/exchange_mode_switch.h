// The Exchange command: switches the main window between the simulator and the relaxation-
// dispersion experiment. The same rows then carry the exchange parameters: the channel-row labels
// are renamed, the swept names, the shaped pulse and the start magnetisation take the array and
// step cells, the controls only one of the two modes uses are shown or hidden, and the working
// sequence "rem.psq" is stored and read again so that the rows show the values of the current
// sequence, edits since the last Start included.
#pragma once

#include "model/controls.h"

#include <string>
#include <utility>
#include <vector>

namespace velmora::workbench {

class Workbench;

// What a switch into the exchange mode replaces, kept to be given back when the mode is left.
struct OrdinaryCaptions {
    std::string shapedPulseCell;                                // Label3(6)
    std::string startCell;                                      // Label3(7)
    std::vector<std::pair<model::ControlId, bool>> visibility;  // of the controls the modes show or hide
};

// Toggles the exchange mode of `bench`; returns the new state. `saved` carries the ordinary
// captions and visibility from switching on to switching off.
bool toggleExchangeMode(Workbench& bench, OrdinaryCaptions& saved);

// The captions of the exchange rows from the exchange settings: Label3(6) the shaped pulse,
// Label3(7) the start magnetisation, Label3(15) and Label3(17) the swept names.
void showExchangeCaptions(Workbench& bench);

}  // namespace velmora::workbench
