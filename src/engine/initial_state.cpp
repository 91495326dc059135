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

namespace {

// Spin k of a population-basis row reduced to its E part: x and y to 0, u and v to their mean.
void keepPopulationsOnly(std::span<double> row, int nSpins, int k)
{
    const std::int32_t run = kStride[k];
    for (std::int32_t base = 0; base < operatorCount(nSpins); base += 4 * run) {
        double* const u = row.data() + base;
        double* const v = u + kSpinMask[k];
        for (std::int32_t lo = 0; lo < run; ++lo) {
            const double mean = 0.5 * (u[lo] + v[lo]);
            u[lo] = mean;
            v[lo] = mean;
            u[lo + run] = 0.0;
            u[lo + 2 * run] = 0.0;
        }
    }
}

}  // namespace

void zeroDecoupledSpins(const std::array<int, kRfChannelCount>& stepContentCodes, SpinTables& spins,
                        StateMatrix& state, RowBasis basis)
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
            if (basis == RowBasis::populations) {
                keepPopulationsOnly(row, state.spinCount(), k);
                continue;
            }
            forEachPresent(state.spinCount(), k,
                           [row](std::int32_t idx) { row[static_cast<std::size_t>(idx)] = 0.0; });
        }
        spins.slotState[k] = 0;
    }
}

void destroyTransverse(std::span<double> row, int nSpins, RowBasis basis)
{
    for (int k = 0; k < nSpins; ++k) {
        if (basis == RowBasis::populations) {
            for (const int digit : {1, 2})
                addToSingleSpinTransverse(row, nSpins, basis, k, digit,
                                          -singleSpinTransverse(row, nSpins, basis, k, digit));
            continue;
        }
        row[static_cast<std::size_t>(kStride[k])] = 0.0;
        row[static_cast<std::size_t>(kYDigit[k])] = 0.0;
    }
}

}  // namespace velmora::engine
