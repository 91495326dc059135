// One point after its pulse elements: a single free-evolution interval and a single T2 pass, with
// T1 and cross-relaxation on the z coefficients in their usual order.
#include "engine/point_evolution.h"

#include "engine/operator_basis.h"

#include <array>
#include <cstddef>

namespace velmora::engine {

void evolveAfterElements(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                         std::span<const double> offsetRadPerS, double pulsedSeconds, double restSeconds,
                         RestRelaxation order, BlockedFreeEvolution& freeEvolution)
{
    // The interval lasts both times for the couplings; the offsets, scaled, turn over the rest only.
    const double seconds = pulsedSeconds + restSeconds;
    std::array<double, kSpinSlots> scaledOffsets{};
    for (std::size_t k = 0; k < scaledOffsets.size() && k < offsetRadPerS.size(); ++k)
        scaledOffsets[k] = offsetRadPerS[k] * (restSeconds / seconds);
    freeEvolution.evolve(row, spins, scaledOffsets, seconds);

    // T2 over the pulsed width when switched on; over the rest when switched on, or after a shaped
    // evolution with cross-relaxation on (that order applies it then whatever the switch).
    const bool shaped = order == RestRelaxation::afterShapedEvolution;
    const bool restT2 = relaxation.t2On || (shaped && relaxation.crossOn);
    const double t2Seconds = (relaxation.t2On ? pulsedSeconds : 0.0) + (restT2 ? restSeconds : 0.0);
    relaxT2InOnePass(row, spins, relaxation, t2Seconds);

    // The z coefficients: after the element cross-relaxation then T1 (each as switched); after the
    // rest the same, except after a shaped evolution with cross-relaxation on: T1, then
    // cross-relaxation.
    if (relaxation.crossOn)
        crossRelax(row, spins, relaxation, pulsedSeconds);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, pulsedSeconds);
    if (shaped && relaxation.crossOn) {
        relaxT1(row, spins, relaxation, restSeconds);
        crossRelax(row, spins, relaxation, restSeconds);
        return;
    }
    if (!shaped && relaxation.crossOn)
        crossRelax(row, spins, relaxation, restSeconds);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, restSeconds);
}

void evolveAfterElementsReference(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                                  std::span<const double> offsetRadPerS, double pulsedSeconds,
                                  double restSeconds, RestRelaxation order, BlockedFreeEvolution& freeEvolution)
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
