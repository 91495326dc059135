// T1, T2 and cross-relaxation of one state row.
#include "engine/relaxation.h"

#include "engine/operator_basis.h"
#include "util/text_compare.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

namespace {

// Surviving fraction of a deviation after `seconds` with time constant `ms`.
double survivingFraction(double seconds, double ms)
{
    return std::exp(-seconds * 1000.0 / ms);
}

// Cross-relaxation and T1 both move the single-spin z coefficients and do not commute: applied once
// each over a long interval, the first sees only the deviations at its start (a spin inverted by a
// pulse passes on its deviation while its partner's enhancement, still zero, is passed back not at
// all). The interval is therefore cut into pieces no longer than this fraction of the shortest
// time constant involved, so that the alternating steps follow the coupled Solomon equations.
constexpr double kLongitudinalPieceFraction = 1.0e-3;
// A delay of a thousand time constants has long reached the steady state; more pieces add nothing.
constexpr int kMostLongitudinalPieces = 1000000;

int longitudinalPieces(const SpinTables& spins, const Relaxation& relaxation, double seconds, bool withT1)
{
    double shortestMs = relaxation.crossMs;
    if (withT1)
        for (int k = 0; k < spins.count; ++k)
            if (spins.active(k))
                shortestMs = std::min(shortestMs, relaxation.t1Ms[k]);
    const double pieces = std::ceil(seconds * 1000.0 / (kLongitudinalPieceFraction * shortestMs));
    return pieces >= 1.0 ? static_cast<int>(std::min(pieces, double{kMostLongitudinalPieces})) : 1;
}

// Cross-relaxation and (when withT1) T1 over `seconds`, alternating over short pieces; t1First
// gives the order within a piece.
void relaxLongitudinally(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                         double seconds, bool withT1, bool t1First)
{
    if (!(seconds > 0.0))
        return;
    const int pieces = longitudinalPieces(spins, relaxation, seconds, withT1);
    const double piece = seconds / pieces;
    for (int i = 0; i < pieces; ++i) {
        if (withT1 && t1First)
            relaxT1(row, spins, relaxation, piece);
        crossRelax(row, spins, relaxation, piece);
        if (withT1 && !t1First)
            relaxT1(row, spins, relaxation, piece);
    }
}

}  // namespace

Relaxation relaxationForRun(const SpinTables& spins, const RunSettings& settings, double arrayedValue,
                            int sliceRowCount)
{
    Relaxation r;
    r.t1On = settings.t1Relaxation;
    r.t2On = settings.t2Relaxation;
    r.crossOn = settings.crossRelaxation;
    r.sliceRowCount = sliceRowCount;

    const bool arrayedT1 = util::equalsIgnoreCase(settings.arrayedName, "T1");
    const bool arrayedT2 = util::equalsIgnoreCase(settings.arrayedName, "T2");
    for (int k = 0; k < kSpinSlots; ++k) {
        double t1 = spins.t1Ms[k];
        double t2 = spins.t2Ms[k];
        if (arrayedT1) {
            t1 = arrayedValue;
            if (settings.t2FromT1)
                t2 = arrayedValue / settings.t2FromT1Factor;
        }
        if (arrayedT2) {
            t2 = arrayedValue;
            if (settings.t2FromT1)
                t1 = settings.t2FromT1Factor * arrayedValue;
        }
        r.t1Ms[k] = t1;
        r.t2Ms[k] = t2;
    }
    r.crossMs =
        util::equalsIgnoreCase(settings.arrayedName, "Tcr") ? arrayedValue : settings.crossRelaxationMs;
    return r;
}

double equilibriumCoefficient(double nucleusConstant, int sliceRowCount)
{
    return nucleusConstant / static_cast<double>(sliceRowCount);
}

void relaxT1(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds)
{
    if (!(seconds > 0.0))
        return;
    for (int k = 0; k < spins.count; ++k) {
        if (!spins.active(k))
            continue;
        const double e1 = survivingFraction(seconds, relaxation.t1Ms[k]);
        const double m0 = equilibriumCoefficient(spins.nucleusConstant[k], relaxation.sliceRowCount);
        double& z = row[static_cast<std::size_t>(kSpinMask[k])];
        z = (z - m0) * e1 + m0;
    }
}

void relaxT2(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds)
{
    if (!(seconds > 0.0))
        return;
    double* const c = row.data();
    for (int k = 0; k < spins.count; ++k) {
        if (!spins.active(k))
            continue;
        const double e2 = survivingFraction(seconds, relaxation.t2Ms[k]);
        if (e2 == 1.0)
            continue;
        // Every index with digit k = y, and its partner with digit k = x, together cover all
        // coefficients transverse at spin k.
        const std::int32_t xFromY = kStride[k];
        forEachY(spins.count, k, [c, xFromY, e2](std::int32_t yIdx) {
            c[yIdx] *= e2;
            c[yIdx - xFromY] *= e2;
        });
    }
}

void crossRelax(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation, double seconds)
{
    if (!(seconds > 0.0))
        return;
    // The transfer weight is w = 1 - E, E = exp(-t * 1000 / Tcr), not E itself: the fraction of a
    // partner's deviation passed on then grows from 0 with the interval, like the recovered fraction
    // 1 - E1 of T1 relaxation, so a delay cut into many pieces transfers, to first order, what the
    // whole delay transfers, and a vanishing interval transfers nothing. expm1 keeps short intervals
    // exact.
    //
    // The z coefficients are spin polarisations whose equilibria already scale with gamma, the
    // quantities of the Solomon equations, in which one rate sigma = 1/Tcr couples both spins of a
    // pair: the partner's deviation passes on unweighted. (A further gamma_j / gamma_i would count
    // the equilibrium ratio twice: a carbon's steady-state enhancement by saturated protons would
    // become (gamma_H / gamma_C)^2 sigma / rho instead of (gamma_H / gamma_C) sigma / rho.)
    const double w = -std::expm1(-seconds * 1000.0 / relaxation.crossMs);
    for (int i = 0; i < spins.count; ++i) {
        if (!spins.active(i))
            continue;
        double& zi = row[static_cast<std::size_t>(kSpinMask[i])];
        for (int j = 0; j < spins.count; ++j) {
            if (j == i)
                continue;
            const double m0J = equilibriumCoefficient(spins.nucleusConstant[j], relaxation.sliceRowCount);
            zi += (m0J - row[static_cast<std::size_t>(kSpinMask[j])]) * w;
        }
    }
}

// T2 touches only coefficients transverse at some spin, cross-relaxation and T1 only the single-spin
// z coefficients, so T2 commutes with both and acts once over the whole interval.
void relaxAfterElement(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                       double seconds)
{
    if (relaxation.crossOn) {
        relaxLongitudinally(row, spins, relaxation, seconds, relaxation.t1On, false);
        if (relaxation.t2On)
            relaxT2(row, spins, relaxation, seconds);
        return;
    }
    if (relaxation.t2On)
        relaxT2(row, spins, relaxation, seconds);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, seconds);
}

void relaxAfterShapedEvolution(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                               double seconds)
{
    if (relaxation.crossOn) {
        relaxLongitudinally(row, spins, relaxation, seconds, true, true);
        relaxT2(row, spins, relaxation, seconds);
        return;
    }
    if (relaxation.t2On)
        relaxT2(row, spins, relaxation, seconds);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, seconds);
}

}  // namespace velmora::engine
