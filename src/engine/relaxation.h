// Relaxation of one state row over an interval: longitudinal (T1) recovery of each spin's z
// magnetisation, transverse (T2) decay of every coefficient transverse at a spin, and longitudinal
// cross-relaxation between spins. Also the relaxation times a run uses and the two calling orders
// of the step routine.
//
// Every spin relaxes toward its equilibrium coefficient per slice row, nucleus constant / (R + 1),
// so that the sum over the R + 1 slice rows in use relaxes toward the nucleus constant. Only active
// spins relax; a decoupled spin keeps its (zeroed) coefficients but still drives the others by
// cross-relaxation.
#pragma once

#include "engine/population_basis.h"
#include "engine/run_settings.h"
#include "engine/spin_tables.h"

#include <array>
#include <span>

namespace velmora::util {
class WorkPool;
}

namespace velmora::engine {

// The longitudinal relaxation of the active spins' z coefficients with cross-relaxation on: the
// Solomon equations dD/dt = -A D for the deviations D from equilibrium, A = 1/T1 on the diagonal and
// sigma = 1/Tcr off it (one rate for every pair), in the eigenbasis of the symmetric A, so that an
// interval of any length is one exact step.
struct LongitudinalModes {
    using Matrix = std::array<std::array<double, kSpinSlots>, kSpinSlots>;
    int count = 0;                           // active spins
    std::array<int, kSpinSlots> spin{};      // their slots, ascending
    std::array<double, kSpinSlots> rates{};  // eigenvalues of A, 1/s
    Matrix vectors{};                        // eigenvectors of A as columns (row i: spin[i])
    double sigmaPerSecond = 0.0;
};

// What relaxation needs for one run and one slice-row count.
struct Relaxation {
    // Relaxation times per spin in ms, after the arrayed parameter has been applied.
    std::array<double, kSpinSlots> t1Ms{};
    std::array<double, kSpinSlots> t2Ms{};
    // Cross-relaxation time in ms, one for the whole spin system.
    double crossMs = 3000.0;
    // The three switches; the single operations below act whatever they say, the calling orders
    // consult them.
    bool t1On = false;
    bool t2On = false;
    bool crossOn = false;
    // R + 1: slice rows currently in use (1 while no gradient has acted).
    int sliceRowCount = 1;
    // With cross-relaxation on: its modes for the active spins of the step (made by
    // relaxationForRun; made afresh where a caller's active spins differ).
    LongitudinalModes longitudinal;
};

// The modes of the longitudinal relaxation of the active spins of `spins` with the T1s and the Tcr
// of `relaxation`. A rate of 0 or less means the z magnetisation would not return to equilibrium
// (cross-relaxation faster than T1 relaxation allows); the preparation refuses such a run.
LongitudinalModes longitudinalModes(const SpinTables& spins, const Relaxation& relaxation);

// The relaxation of a run whose arrayed parameter has the value arrayedValue. T1 and T2 are the
// spin table values, or arrayedValue for all spins when the arrayed parameter is "T1" or "T2"
// (names compared without regard to case); Tcr is settings.crossRelaxationMs, or arrayedValue when
// "Tcr" is arrayed. With "T2=T1/" set, an arrayed T1 gives T2 = arrayedValue / factor and an arrayed
// T2 gives T1 = factor * arrayedValue.
Relaxation relaxationForRun(const SpinTables& spins, const RunSettings& settings, double arrayedValue,
                            int sliceRowCount);

// Equilibrium z coefficient of a spin in one of sliceRowCount slice rows.
double equilibriumCoefficient(double nucleusConstant, int sliceRowCount);

// T1 relaxation for `seconds`: for every active spin k, I(k)z <- (I(k)z - M0(k)) E1 + M0(k) with
// E1 = exp(-seconds * 1000 / T1(k)) and M0(k) the equilibrium coefficient. Multi-spin longitudinal
// terms (2IzSz) are left as they are. A non-positive interval changes nothing.
void relaxT1(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds,
             RowBasis basis = RowBasis::productOperators);

// T2 relaxation for `seconds`: for every active spin k, every coefficient whose digit k is x or y is
// multiplied by E2 = exp(-seconds * 1000 / T2(k)); a product transverse at m spins thus decays by
// the product of m factors, and z or E digits add no decay. A non-positive interval changes nothing.
// The row is taken in pieces, all spins' factors on one piece before the next (the same products in
// the same order); with a pool of more than one thread (idle while this runs) the pieces of a large
// row are shared between its threads.
void relaxT2(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds,
             util::WorkPool* pool = nullptr);

// Cross-relaxation for `seconds`: for every active spin i (ascending) and every other spin j
// (ascending, active or not), I(i)z <- I(i)z + (M0(j) - I(j)z) w, with M0(j) the equilibrium
// coefficient of spin j and w = 1 - exp(-seconds * 1000 / Tcr): the cross term of the Solomon
// equations with sigma = 1/Tcr for every pair, heteronuclear pairs included. Updates are
// sequential: a later pair sees the z coefficients already changed by earlier ones. A non-positive
// interval changes nothing.
void crossRelax(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds,
                RowBasis basis = RowBasis::productOperators);

// The same as relaxT2, in one pass over the row: each coefficient is scaled once by the product of
// the surviving fractions of its transverse spins (two tables of the lower and upper five digits), so
// it agrees with relaxT2 to rounding. Does not allocate. With a pool, as relaxT2.
void relaxT2InOnePass(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                      double seconds, util::WorkPool* pool = nullptr);

// The z part of both calling orders below: with cross-relaxation on, T1 and cross-relaxation as one
// exact step of the Solomon equations; otherwise T1 when switched on. It commutes with T2.
void relaxLongitudinal(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                       double seconds, RowBasis basis = RowBasis::productOperators);

// The order after a pulse element and after the closing delay of a step: cross-relaxation, T2, T1,
// each only when switched on. With cross-relaxation on, it and T1 act together as one exact step of
// the Solomon equations (T1 with it whatever its switch says: cross-relaxation has no meaning
// without the spins' own relaxation); T2, which commutes with both, acts once.
// A pool shares the T2 pass, as in relaxT2.
void relaxAfterElement(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                       double seconds, util::WorkPool* pool = nullptr,
                       RowBasis basis = RowBasis::productOperators);

// The order after the free evolution that follows an element of a shaped pulse: with cross-relaxation
// on, T1 with cross-relaxation (one exact step, as above) and T2, whatever the T1 and T2 switches
// say; otherwise T2 (when on), then T1 (when on).
// A pool shares the T2 pass, as in relaxT2.
void relaxAfterShapedEvolution(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                               double seconds, util::WorkPool* pool = nullptr,
                               RowBasis basis = RowBasis::productOperators);

}  // namespace velmora::engine
