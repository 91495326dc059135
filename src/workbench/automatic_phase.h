// The "autophase" command of the window and of velmora-cli: sets the phase bars rp and lp (and the
// boxes Text2(5), Text2(6) that the spectra are phased with) to the automatic phase of the last
// run's spectrum, and rebuilds the display arrays with it.
#pragma once

#include "processing/autophase.h"
#include "util/outcome.h"

namespace velmora::workbench {

class Workbench;

// Phases the spectra of the last 1D run: the phase is found on the last run's spectrum (in an
// arrayed run the sum of all runs) and applies to every run. Refuses, changing nothing, when there
// are no spectra or the run was two-dimensional (its map is phased by its own rule).
util::Outcome phaseAutomatically(Workbench& bench);

// Sets the phase bars and their boxes to `phase` and rebuilds the display arrays.
void setPhase(Workbench& bench, processing::PhaseSetting phase);

}  // namespace velmora::workbench
