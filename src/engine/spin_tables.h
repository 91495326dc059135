// The snapshot of the spin system that one run of the engine works on: which spins take part, their
// nuclei, shifts, relaxation times and couplings, indexed by spin slot (0..10).
// The engine may switch a spin off within a step (decoupling) by clearing its slot state here; the
// model's spin system is never touched by a run.
#pragma once

#include "engine/operator_basis.h"
#include "model/nucleus.h"

#include <array>

namespace velmora::model {
class SpinSystem;
}

namespace velmora::engine {

// Equilibrium z coefficient of a spin: its gyromagnetic ratio relative to 1H, scaled so 1H = 1e7.
inline constexpr double kNucleusConstantH1 = model::kProtonConstant;
inline constexpr double kNucleusConstantC13 = model::kCarbonConstant;
inline constexpr double kNucleusConstantN15 = model::kNitrogenConstant;

// RF channel that addresses a nucleus.
inline constexpr int kChannelH1 = 0;
inline constexpr int kChannelC13 = 1;
inline constexpr int kChannelN15 = 2;
inline constexpr int kRfChannelCount = 3;

struct SpinTables {
    // Number of spins N (1..10); spins are slots 0..N-1 and the state has 4^N coefficients per row.
    int count = 1;
    // Non-zero while the spin takes part in evolution; decoupling sets it to 0 for one step.
    std::array<int, kSpinSlots> slotState{};
    // Nucleus constant per spin (kNucleusConstantH1, ...): equilibrium z coefficient.
    std::array<double, kSpinSlots> nucleusConstant{};
    // RF channel of the spin's nucleus (kChannelH1, kChannelC13, kChannelN15).
    std::array<int, kSpinSlots> channel{};
    // Chemical shift in Hz.
    std::array<double, kSpinSlots> shiftHz{};
    // Longitudinal and transverse relaxation times in ms.
    std::array<double, kSpinSlots> t1Ms{};
    std::array<double, kSpinSlots> t2Ms{};
    // Scalar coupling J(i, j) in Hz, symmetric; the engine reads the entries with i < j.
    std::array<std::array<double, kSpinSlots>, kSpinSlots> couplingHz{};

    bool active(int k) const { return slotState[k] != 0; }
};

// The snapshot of a rebuilt spin system: its count, slot states and derived tables, relaxation
// times and couplings.
SpinTables makeSpinTables(const model::SpinSystem& system);

}  // namespace velmora::engine
