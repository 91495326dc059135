// One point after its pulse elements: a single free-evolution interval and a single T2 pass, with
// T1 and cross-relaxation on the z coefficients as the calling orders apply them.
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

    // The z coefficients: T1 with cross-relaxation (one exact step each) or T1 alone, as both
    // calling orders have them.
    relaxLongitudinal(row, spins, relaxation, pulsedSeconds);
    relaxLongitudinal(row, spins, relaxation, restSeconds);
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
