// Free evolution of one state row: precession of every spin at its offset and evolution of every
// coupled pair under its scalar coupling, as rotations of product-operator coefficients.
//
// This is the plain reference path: one ascending pass with skips per spin or pair, no scratch
// storage, cos and sin once per spin or pair. Faster kernels are checked against it.
#pragma once

#include "engine/spin_tables.h"

#include <span>

namespace velmora::engine {

// Rotates spin `spin` alone about z by thetaRad in every product of a row of nSpins spins
// (X' = c X - s Y, Y' = s X + c Y); nothing happens when cos theta is 1.
void rotateSpinAboutZ(std::span<double> row, int nSpins, int spin, double thetaRad);

// Rotates every active spin k about z by theta = offsetRadPerS[k] * seconds:
// I(k)x -> I(k)x cos theta + I(k)y sin theta, I(k)y -> I(k)y cos theta - I(k)x sin theta, and products
// with other factors alike. A spin whose cos theta is 1 (zero offset, zero interval) is skipped, so
// the row stays bit-for-bit unchanged. row holds 4^spins.count coefficients; offsetRadPerS holds
// one offset per spin.
void evolveOffsets(std::span<double> row, const SpinTables& spins, std::span<const double> offsetRadPerS,
                   double seconds);

// Evolves every pair i < j of active spins with couplingHz[i][j] != 0 by theta = pi * J * seconds:
// Ix -> Ix cos theta + 2IySz sin theta, Iy -> Iy cos theta - 2IxSz sin theta, and the same for S with
// the roles exchanged. Products with E or z at both spins, or transverse at both, do not change.
// Pairs are applied in order, i outer and j inner; a pair whose cos theta is 1 is skipped.
void evolveCouplings(std::span<double> row, const SpinTables& spins, double seconds);

}  // namespace velmora::engine
