// One point of a shaped pulse after its elements: a single free-evolution interval and a single T2
// pass, with T1 and cross-relaxation on the z coefficients in their usual order.
#include "engine/shaped_point_evolution.h"

#include "engine/operator_basis.h"

#include <array>
#include <cstddef>

namespace velmora::engine {

void evolveShapedPoint(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                       std::span<const double> offsetRadPerS, double pulsedSeconds, double restSeconds,
                       BlockedFreeEvolution& freeEvolution)
{
    // The interval lasts both times for the couplings; the offsets, scaled, turn over the rest only.
    const double seconds = pulsedSeconds + restSeconds;
    std::array<double, kSpinSlots> scaledOffsets{};
    for (std::size_t k = 0; k < scaledOffsets.size() && k < offsetRadPerS.size(); ++k)
        scaledOffsets[k] = offsetRadPerS[k] * (restSeconds / seconds);
    freeEvolution.evolve(row, spins, scaledOffsets, seconds);

    // T2 over the pulsed width when switched on, over the rest when switched on or with
    // cross-relaxation (the order after a shaped evolution applies it then whatever the switch).
    const double t2Seconds = (relaxation.t2On ? pulsedSeconds : 0.0) +
                             (relaxation.t2On || relaxation.crossOn ? restSeconds : 0.0);
    relaxT2InOnePass(row, spins, relaxation, t2Seconds);

    // The z coefficients: after the element cross-relaxation then T1, after the rest with
    // cross-relaxation on T1 then cross-relaxation, otherwise T1 (each as switched).
    if (relaxation.crossOn)
        crossRelax(row, spins, relaxation, pulsedSeconds);
    if (relaxation.t1On)
        relaxT1(row, spins, relaxation, pulsedSeconds);
    if (relaxation.crossOn) {
        relaxT1(row, spins, relaxation, restSeconds);
        crossRelax(row, spins, relaxation, restSeconds);
    } else if (relaxation.t1On) {
        relaxT1(row, spins, relaxation, restSeconds);
    }
}

void evolveShapedPointReference(std::span<double> row, const SpinTables& spins, const Relaxation& relaxation,
                                std::span<const double> offsetRadPerS, double pulsedSeconds,
                                double restSeconds, BlockedFreeEvolution& freeEvolution)
{
    // Couplings alone over the pulsed width: the offsets acted inside the pulse elements.
    constexpr std::array<double, kSpinSlots> kNoOffsets{};
    freeEvolution.evolve(row, spins, kNoOffsets, pulsedSeconds);
    relaxAfterElement(row, spins, relaxation, pulsedSeconds);
    freeEvolution.evolve(row, spins, offsetRadPerS, restSeconds);
    relaxAfterShapedEvolution(row, spins, relaxation, restSeconds);
}

}  // namespace velmora::engine
