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
    // run r, slice s at (r (S + 1) + s) x 4^N (DriverResult::acquisitionStates)
    std::span<const double> states;
    std::string arrayedName;
    std::span<const double> arrayedValues;  // per run 0..lastRun
    int lastRun = 0;
    // In coefficient units: product operators of the state not above it are left out, as the weak
    // synthesis leaves out the recorded operators not above it; a line is left out when it is not
    // above minimumAmplitude / 2^(N - 1), the least share one kept operator has in a line, so that
    // without couplings between spins of one nucleus both paths sum the same operators.
    double minimumAmplitude = 0.0;
    int lastSlice = 0;  // S: slice rows of a gradient during the acquisition
};

// lines[r * kRfChannelCount + c]: the lines of run r on channel c (1H, 13C, 15N), of every slice
// row in turn, each line naming its slice. The gradient's offset is the same for every spin of a
// nucleus and commutes with the acquisition Hamiltonian, so the eigensystem is that of the shifts
// and a slice only moves its lines (the synthesis adds the slice's offset).
std::vector<std::vector<TransitionLine>> acquisitionLines(const AcquisitionLineInput& input);

}  // namespace velmora::engine
