// The one place where a run's request is read from the window's boxes, and where what the
// preparation settled goes back into them: the engine sees neither the controls nor the window.
#pragma once

#include "engine/run_request.h"
#include "engine/sequence_preparation.h"
#include "model/controls.h"
#include "model/pulse_sequence.h"
#include "model/spin_system.h"
#include "util/messages.h"

#include <optional>

namespace velmora::workbench {

// Every box, switch and list of `controls` the preparation reads, with copies of the sequence
// and the spin system as they stand now. The caller fills in the folders and the tables.
engine::RunRequest readRunRequest(const model::Controls& controls, const model::PulseSequence& sequence,
                                  const model::SpinSystem& spins, int runsPerValue);

// Writes what an accepted preparation settled (at, np, Ni, sw1, the run selector's range, the
// warning line, the starting operators) into the boxes, and its changes into the sequence.
void applyWriteBack(const engine::PreparationWriteBack& writeBack, model::Controls& controls,
                    model::PulseSequence& sequence);

// Shows the warning line a refused preparation reported on, if any.
void showRefusalWarning(const std::optional<engine::WarningLine>& warning, model::Controls& controls);

// Prepares `request` and writes back what it settled (or the warning line of a refusal): what a
// Start does with the boxes before it runs. None when the sequence was refused.
std::optional<engine::Preparation> prepareAndWriteBack(const engine::RunRequest& request,
                                                       model::Controls& controls,
                                                       model::PulseSequence& sequence,
                                                       util::Messages& messages);

}  // namespace velmora::workbench
