// Compiling a sequence for a run: the run count and the arrayed value of every run, the shapes
// loaded from their files, the point count and oversampling of the acquisition, the warnings about
// elements too long for the relaxation and coupling time scales, the acquisition-pulse tables,
// the record arrays, the fields of the window it fills in, and a non-equilibrium start.
//
// The preparation works on staged copies and changes the model, the controls and the records only
// when it succeeds; every refusal is shown through the messages and leaves everything as it was.
#pragma once

#include "engine/prepared_run.h"
#include "engine/run_records.h"
#include "engine/run_size.h"
#include "model/controls.h"
#include "model/pulse_sequence.h"
#include "model/spin_system.h"
#include "pulses/acquisition_pulse.h"
#include "util/messages.h"

#include <filesystem>
#include <optional>

namespace velmora::engine {

struct PreparationModel {
    model::PulseSequence& sequence;
    model::Controls& controls;
    const model::SpinSystem& spins;  // rebuilt
    std::filesystem::path workingDirectory;
    int runsPerValue = 1;
    util::Messages& messages;
    // The memory and disk a run may take; none reads them from the system.
    std::optional<SystemCapacity> capacity = std::nullopt;
    // Where the run's result files go (a staging folder); the working directory when empty.
    std::filesystem::path outputDirectory = {};
    // The result tables the run will write, for the size check (see RunShape).
    struct Tables {
        bool operators = true;
        bool magnetisation = true;
        bool spectra = true;
        bool map = true;
        bool pictures = true;
    } tables = {};
};

struct Preparation {
    PreparedRun run;
    SampleRecord signal;  // samples 0..F x np, runs 0..last run
    SampleRecord timeDomain;
    std::optional<pulses::AcquisitionPulseTables> acquisitionPulse;
};

// Prepares the sequence for a run, or refuses (none) after showing why.
std::optional<Preparation> prepareSequence(PreparationModel model);

}  // namespace velmora::engine
