// The acquisition of the exact strong-coupling path: the lines of every run and channel, from the
// whole state each run leaves at the acquisition, in the eigenbasis of the acquisition Hamiltonian
// (shift plus receiver offset of each spin, couplings as during the sequence). The synthesized
// acquisition then builds each FID from these lines instead of the recorded operators.
#pragma once

#include "engine/spin_tables.h"
#include "engine/strong_coupling.h"
#include "model/pulse_sequence.h"

#include <span>
#include <string>
#include <vector>

namespace velmora::engine {

struct AcquisitionLineInput {
    const model::PulseSequence& sequence;  // its step N + 1 gives receiver offsets and decoupling
    const SpinTables& spins;               // the run's spin tables
    std::span<const double> states;        // run r's state at r x 4^N (DriverResult::acquisitionStates)
    std::string arrayedName;
    std::span<const double> arrayedValues;  // per run 0..lastRun
    int lastRun = 0;
    double minimumAmplitude = 0.0;  // in coefficient units: weaker lines are left out
};

// lines[r * kRfChannelCount + c]: the lines of run r on channel c (1H, 13C, 15N).
std::vector<std::vector<TransitionLine>> acquisitionLines(const AcquisitionLineInput& input);

}  // namespace velmora::engine
