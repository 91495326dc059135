// The step routine of the exact strong-coupling path: hard and shaped pulses, delays, constant and
// shaped gradients and the sampling of an acquisition inside the sequence on one slice row, with the same
// inputs, the same set-up of the pulse elements, the same receiver gate and the same relaxation as
// the weak-coupling step routine. The pulse elements are one-spin rotations applied to the
// product-operator row as there; the couplings over each element's width and the free evolution
// between elements and of the closing delay are the exact propagation of strong_coupling.h;
// relaxation follows each interval in the product-operator basis. A gradient's offset is the same
// for every spin of a nucleus, so it commutes with the Hamiltonian and enters each interval as a
// phase per block of the eigenbasis: the slices and the points of a shaped gradient share one
// eigensystem. Which sequences it takes is stated by strongCouplingRefusal, which the preparation
// asks before a run.
#pragma once

#include "engine/step_routine.h"
#include "engine/strong_coupling.h"

#include <optional>
#include <string>

namespace velmora::engine {

// Advances inputs.row (product operators) through one step. Throws std::invalid_argument for a row
// held in the population basis, and as applyStep for rows or tables too short.
void applyStrongStep(const StepInputs& inputs, const StepContext& context, ExactEvolution& evolution);

// Why the sequence cannot run on the strong-coupling path, naming the switch; none when it can.
std::optional<std::string> strongCouplingRefusal(const model::PulseSequence& sequence, int spinCount);

}  // namespace velmora::engine
