// The spin system as a table, one row a spin: what the spin panel draws around its circle, in
// columns that stay readable at ten spins.
#pragma once

#include "model/spin_system.h"

#include <string>
#include <vector>

namespace velmora::workbench {

struct SpinTableRow {
    int slot = 0;
    std::string label;       // "H0"
    std::string nucleus;     // "1H", "13C", "15N"
    std::string shiftPpm;
    std::string shiftHz;     // at the present field
    std::string t1Ms;
    std::string t2Ms;
    // J to every spin in slot order, in Hz: empty for the spin itself and an absent coupling.
    std::vector<std::string> couplings;
    // Values as the nuclei window shows them (the shortest text of the stored single); Hz to 0.1.
};

// Beyond this many spins the panel's drawing crowds and the window offers the table.
inline constexpr int kSpinsDrawnReadably = 4;

std::vector<SpinTableRow> spinTableRows(const model::SpinSystem& spins);

}  // namespace velmora::workbench
