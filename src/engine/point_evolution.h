// The free evolution and relaxation that follow the pulse elements of one point: the couplings over
// the last pulsed width and relaxation over that width, then offsets and couplings over the rest of
// the point (a shaped pulse point's share of the step, or a hard-pulse step's closing delay) and the
// relaxation after it.
//
// Offsets and couplings commute, T2 scales every coefficient by a factor fixed by which spins are
// transverse in it (which neither offsets nor couplings change), and T1 and cross-relaxation act on
// the single-spin z coefficients alone, which free evolution leaves untouched. So the point needs one
// free-evolution interval (couplings over both times, offsets over the rest) that applies T2 in its
// first pass, instead of two intervals and a partial pass per spin and interval; T1 and
// cross-relaxation act on the z coefficients as the calling orders have them. The point's pulse
// elements themselves can go into that interval's passes too: each turns one spin only.
#pragma once

#include "engine/blocked_free_evolution.h"
#include "engine/blocked_pulse_elements.h"
#include "engine/relaxation.h"
#include "engine/spin_tables.h"

#include <array>
#include <span>

namespace velmora::engine {

// The relaxation order after the rest of the point.
enum class RestRelaxation {
    afterShapedEvolution,  // a point of a shaped pulse (relaxAfterShapedEvolution)
    afterElement,          // the closing delay of a hard-pulse step (relaxAfterElement)
};

// `pulsedSeconds` is the width of the point's last pulse element (> 0), `restSeconds` the rest of
// the point (> 0). Agrees with evolveAfterElementsReference to rounding. Does not allocate.
void evolveAfterElements(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                         std::span<const double> offsetRadPerS, double pulsedSeconds, double restSeconds,
                         RestRelaxation order, BlockedFreeEvolution& freeEvolution);

// The same, step by step: the reference the fused point is tested against.
void evolveAfterElementsReference(std::span<double> row, const SpinTables& spins,
                                  const Relaxation& relaxation, std::span<const double> offsetRadPerS,
                                  double pulsedSeconds, double restSeconds, RestRelaxation order,
                                  BlockedFreeEvolution& freeEvolution);

// The point's pulse elements (ascending spin order; spins of the row) and then evolveAfterElements,
// with the elements taken into the interval's passes from kMixedFromSpins spins on (see
// BlockedFreeEvolution::evolve): the row is read and written a pass or two fewer times. Agrees with
// applyPulseElements followed by evolveAfterElements to rounding; smaller rows, and elements in
// another order, take that way. Does not allocate.
// The turns of a point's pulse elements, in their order; count: elements.size() (at most kSpinSlots).
std::array<SpinRotation, kSpinSlots> spinRotations(std::span<const PulseElement> elements);

// A row held in the population basis (`basis`) stays in it.
void applyElementsAndEvolve(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                            std::span<const PulseElement> elements, std::span<const double> offsetRadPerS,
                            double pulsedSeconds, double restSeconds, RestRelaxation order,
                            BlockedFreeEvolution& freeEvolution, RowBasis basis = RowBasis::productOperators);

}  // namespace velmora::engine
