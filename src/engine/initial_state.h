// Setting the state up and the bulk zeroing operations that act on it directly: the equilibrium
// start, switching off decoupled spins for a step, and destroying transverse single-spin terms.
#pragma once

#include "engine/population_basis.h"
#include "engine/spin_tables.h"
#include "engine/state_matrix.h"

#include <array>
#include <span>

namespace velmora::engine {

// Content code of the "dec" entry of a step's RF channel: decoupling during that step.
inline constexpr int kDecouplingContentCode = -132;

// Equilibrium: row 0 holds I(k)z = nucleus constant for every active spin k, every other
// coefficient of every row is 0. The state's spin count must equal spins.count.
void setEquilibrium(const SpinTables& spins, StateMatrix& state);

// Switches off the spins decoupled in a step. stepContentCodes holds the step's content code per RF
// channel (1H, 13C, 15N). For each spin whose channel carries kDecouplingContentCode, every
// coefficient in which that spin is present (x, y or z) is set to 0 in every row and the spin's
// slot state is cleared, so later evolution in the step skips it. Products in which the spin is E
// are untouched; a "dec" on a channel without spins changes nothing. Rows held in the population
// basis lose the same products: the spin's x and y coefficients go, and its u and v both become
// their mean (E kept, z gone).
void zeroDecoupledSpins(const std::array<int, kRfChannelCount>& stepContentCodes, SpinTables& spins,
                        StateMatrix& state, RowBasis basis = RowBasis::productOperators);

// Sets the single-spin coefficients I(k)x and I(k)y of every spin k < nSpins to 0 in one row;
// multi-spin products keep their values.
void destroyTransverse(std::span<double> row, int nSpins, RowBasis basis = RowBasis::productOperators);

}  // namespace velmora::engine
