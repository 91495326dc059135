// One point after its pulse elements: a single free-evolution interval that also applies T2, with
// T1 and cross-relaxation on the z coefficients as the calling orders apply them.
#include "engine/point_evolution.h"

#include "engine/operator_basis.h"
#include "engine/step_routine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace velmora::engine {

namespace {

// The interval after the elements (taken into its passes when any are given) and the relaxation.
void evolveInOneInterval(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                         std::span<const SpinRotation> elements, std::span<const double> offsetRadPerS,
                         double pulsedSeconds, double restSeconds, RestRelaxation order,
                         BlockedFreeEvolution& freeEvolution, RowBasis basis)
{
    // The interval lasts both times for the couplings; the offsets, scaled, turn over the rest only.
    const double seconds = pulsedSeconds + restSeconds;
    std::array<double, kSpinSlots> scaledOffsets{};
    for (std::size_t k = 0; k < scaledOffsets.size() && k < offsetRadPerS.size(); ++k)
        scaledOffsets[k] = offsetRadPerS[k] * (restSeconds / seconds);

    // T2 over the pulsed width when switched on; over the rest when switched on, or after a shaped
    // evolution with cross-relaxation on (that order applies it then whatever the switch). It goes
    // into the interval's first pass as one factor per product.
    const bool shaped = order == RestRelaxation::afterShapedEvolution;
    const bool restT2 = relaxation.t2On || (shaped && relaxation.crossOn);
    const double t2Seconds = (relaxation.t2On ? pulsedSeconds : 0.0) + (restT2 ? restSeconds : 0.0);
    std::array<double, kSpinSlots> transverseFraction{};
    for (int k = 0; k < spins.count; ++k) {
        const bool decays = t2Seconds > 0.0 && spins.active(k);
        transverseFraction[static_cast<std::size_t>(k)] =
            decays ? std::exp(-t2Seconds * 1000.0 / relaxation.t2Ms[static_cast<std::size_t>(k)]) : 1.0;
    }
    freeEvolution.evolve(
        row, spins, scaledOffsets, seconds,
        std::span<const double>(transverseFraction.data(), static_cast<std::size_t>(spins.count)), elements,
        basis);

    // The z coefficients: T1 with cross-relaxation (one exact step each) or T1 alone, as both
    // calling orders have them.
    relaxLongitudinal(row, spins, relaxation, pulsedSeconds, basis);
    relaxLongitudinal(row, spins, relaxation, restSeconds, basis);
}

}  // namespace

void evolveAfterElements(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                         std::span<const double> offsetRadPerS, double pulsedSeconds, double restSeconds,
                         RestRelaxation order, BlockedFreeEvolution& freeEvolution)
{
    evolveInOneInterval(row, spins, relaxation, {}, offsetRadPerS, pulsedSeconds, restSeconds, order,
                        freeEvolution, RowBasis::productOperators);
}

std::array<SpinRotation, kSpinSlots> spinRotations(std::span<const PulseElement> elements)
{
    std::array<SpinRotation, kSpinSlots> rotations{};
    for (std::size_t i = 0; i < elements.size() && i < rotations.size(); ++i) {
        const PulseElement& e = elements[i];
        rotations[i] = {e.spin, elementRotation(e.amplitudeRadPerS, e.phaseRad, e.offsetRadPerS, e.seconds)};
    }
    return rotations;
}

void applyElementsAndEvolve(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                            std::span<const PulseElement> elements, std::span<const double> offsetRadPerS,
                            double pulsedSeconds, double restSeconds, RestRelaxation order,
                            BlockedFreeEvolution& freeEvolution, RowBasis basis)
{
    const bool ascending =
        std::is_sorted(elements.begin(), elements.end(),
                       [](const PulseElement& a, const PulseElement& b) { return a.spin < b.spin; });
    if (spins.count < BlockedFreeEvolution::kMixedFromSpins || !ascending || elements.size() > kSpinSlots) {
        // The elements one by one, on product operators.
        if (basis == RowBasis::populations)
            fromPopulationBasis(row, spins.count, freeEvolution.passPool());
        applyPulseElements(row, spins.count, elements, freeEvolution.passPool());
        evolveAfterElements(row, spins, relaxation, offsetRadPerS, pulsedSeconds, restSeconds, order,
                            freeEvolution);
        if (basis == RowBasis::populations)
            toPopulationBasis(row, spins.count, freeEvolution.passPool());
        return;
    }
    const std::array<SpinRotation, kSpinSlots> rotations = spinRotations(elements);
    evolveInOneInterval(row, spins, relaxation,
                        std::span<const SpinRotation>(rotations.data(), elements.size()), offsetRadPerS,
                        pulsedSeconds, restSeconds, order, freeEvolution, basis);
}

void evolveAfterElementsReference(std::span<double> row, const SpinTables& spins,
                                  const Relaxation& relaxation, std::span<const double> offsetRadPerS,
                                  double pulsedSeconds, double restSeconds, RestRelaxation order,
                                  BlockedFreeEvolution& freeEvolution)
{
    // Couplings alone over the pulsed width: the offsets acted inside the pulse elements.
    constexpr std::array<double, kSpinSlots> kNoOffsets{};
    freeEvolution.evolve(row, spins, kNoOffsets, pulsedSeconds);
    relaxAfterElement(row, spins, relaxation, pulsedSeconds);
    freeEvolution.evolve(row, spins, offsetRadPerS, restSeconds);
    if (order == RestRelaxation::afterShapedEvolution)
        relaxAfterShapedEvolution(row, spins, relaxation, restSeconds);
    else
        relaxAfterElement(row, spins, relaxation, restSeconds);
}

}  // namespace velmora::engine
