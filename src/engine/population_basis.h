// The population basis of a large state row, in which the row may stay between steps.
//
// In the product-operator row each spin's E and z coefficients (E, Z) may be held instead as
// (u, v) = (E + Z, E - Z): the coefficients of the spin's alpha and beta populations, doubled. With
// every spin so held, free evolution under offsets and weak couplings only turns each transverse
// spin's (x, y) pairs, by angles the partners' u and v digits set, with no change of basis at all;
// a pulse element still turns one spin's digits alone. So a row kept in this basis across a run's
// steps needs no change of basis per interval. What reads the row as product operators (sampling,
// relaxation of the single-spin z terms, the records) reads it through the functions below.
//
// The change is exact to rounding: u and v of one spin are a sum and a difference, and the way back
// halves them, so a row goes back to within a few units in the last place.
#pragma once

#include "engine/operator_basis.h"

#include <array>
#include <span>

namespace velmora::util {
class WorkPool;
}

namespace velmora::engine {

// How a row holds the E and z digits of its spins.
enum class RowBasis {
    productOperators,  // E and z, as everywhere else
    populations,       // u = E + Z and v = E - Z for every spin
};

// Rows of at least this many spins stay in the population basis between the steps of a run.
inline constexpr int kPopulationBasisFromSpins = 9;

inline RowBasis residentBasis(int nSpins)
{
    return nSpins >= kPopulationBasisFromSpins ? RowBasis::populations : RowBasis::productOperators;
}

// Every spin's (E, Z) -> (E + Z, E - Z), and back ((u + v) / 2, (u - v) / 2). Two passes over a row
// of nine or ten spins, shared between the pool's threads when one is given (the result does not
// depend on the thread count). Does not allocate.
void toPopulationBasis(std::span<double> row, int nSpins, util::WorkPool* pool = nullptr);
void fromPopulationBasis(std::span<double> row, int nSpins, util::WorkPool* pool = nullptr);

// The single-spin z coefficients I(k)z of spins 0..nSpins-1 as the product-operator row holds them.
std::array<double, kSpinSlots> singleSpinZ(std::span<const double> row, int nSpins, RowBasis basis);

// Adds delta[k] to the single-spin z coefficient of every spin k, leaving every other product
// operator as it is (in the population basis: delta[k] to each u, minus it to each v, of spin k
// among the populations of all other spins).
void addToSingleSpinZ(std::span<double> row, int nSpins, RowBasis basis,
                      const std::array<double, kSpinSlots>& delta);

// The single-spin coefficient of spin k's digit 1 (x) or 2 (y) as the product-operator row holds it,
// and the same coefficient changed by delta, every other product operator left as it is.
double singleSpinTransverse(std::span<const double> row, int nSpins, RowBasis basis, int spin, int digit);
void addToSingleSpinTransverse(std::span<double> row, int nSpins, RowBasis basis, int spin, int digit,
                               double delta);

}  // namespace velmora::engine
