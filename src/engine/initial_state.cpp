// Equilibrium start, decoupling and destruction of transverse single-spin magnetisation.
#include "engine/initial_state.h"

#include "engine/operator_basis.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace velmora::engine {

void setEquilibrium(const SpinTables& spins, StateMatrix& state)
{
    for (int r = 0; r < state.rowCount(); ++r) {
        const std::span<double> row = state.row(r);
        std::fill(row.begin(), row.end(), 0.0);
    }
    const std::span<double> row0 = state.row(0);
    const int nSpins = std::min(spins.count, state.spinCount());
    for (int k = 0; k < nSpins; ++k) {
        if (spins.active(k)) {
            row0[static_cast<std::size_t>(kSpinMask[k])] = spins.nucleusConstant[k];
        }
    }
}

void zeroDecoupledSpins(const std::array<int, kRfChannelCount>& stepContentCodes, SpinTables& spins,
                        StateMatrix& state)
{
    const int nSpins = std::min(spins.count, state.spinCount());
    for (int k = 0; k < nSpins; ++k) {
        const int channel = spins.channel[k];
        if (channel < 0 || channel >= kRfChannelCount ||
            stepContentCodes[static_cast<std::size_t>(channel)] != kDecouplingContentCode) {
            continue;
        }
        for (int r = 0; r < state.rowCount(); ++r) {
            const std::span<double> row = state.row(r);
            forEachPresent(state.spinCount(), k,
                           [row](std::int32_t idx) { row[static_cast<std::size_t>(idx)] = 0.0; });
        }
        spins.slotState[k] = 0;
    }
}

void destroyTransverse(std::span<double> row, int nSpins)
{
    for (int k = 0; k < nSpins; ++k) {
        row[static_cast<std::size_t>(kStride[k])] = 0.0;
        row[static_cast<std::size_t>(kYDigit[k])] = 0.0;
    }
}

}  // namespace velmora::engine
