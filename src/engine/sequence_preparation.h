// Compiling a sequence for a run: the run count and the arrayed value of every run, the shapes
// loaded from their files, the point count and oversampling of the acquisition, the warnings about
// elements too long for the relaxation and coupling time scales, the acquisition-pulse tables,
// the record arrays, the fields of the window it fills in, and a non-equilibrium start.
//
// The preparation reads a RunRequest and changes nothing outside it: what the window shows of the
// prepared run (at, np, Ni, sw1, the warning line, the starting operators) and the lasting changes
// to the sequence come back as a PreparationWriteBack for the caller to apply. Every refusal is
// shown through the messages.
#pragma once

#include "engine/prepared_run.h"
#include "engine/run_records.h"
#include "engine/run_request.h"
#include "pulses/acquisition_pulse.h"
#include "util/messages.h"

#include <optional>

namespace velmora::engine {

struct Preparation {
    PreparedRun run;
    SampleRecord signal;  // samples 0..F x np, runs 0..last run
    SampleRecord timeDomain;
    std::optional<pulses::AcquisitionPulseTables> acquisitionPulse;
    PreparationWriteBack writeBack;
};

struct PreparationOutcome {
    std::optional<Preparation> prepared;  // none: refused, after its message was shown
    // A refusal that reports on the warning line instead of a message (a binary shaped pulse)
    // carries it here; the window shows it although the run was refused.
    std::optional<WarningLine> refusalWarning;
};

// Prepares the sequence of `request` for a run, or refuses after showing why.
PreparationOutcome prepareSequence(const RunRequest& request, util::Messages& messages);

}  // namespace velmora::engine
