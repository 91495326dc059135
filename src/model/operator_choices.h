// The starting operators a non-equilibrium run can begin from: the entries of the operator list
// beside the initial-condition button. Each entry names one product operator in groups of three
// characters per spin: the nucleus letter, the spin number and the component ("H0x", "H0xC2z"),
// which is how the sequence preparation reads a selected entry back into an operator index.
#pragma once

#include "model/spin_system.h"

#include <string>
#include <vector>

namespace velmora::model {

// The entries for the spins 0..N-1 of a rebuilt spin system, in this order:
//   1. x, y and z of every spin, spin by spin;
//   2. the nine products of every coupled pair i < j (J(i, j) != 0), the first spin's component
//      varying slowest ("H0xH1x", "H0xH1y", ..., "H0zH1z");
//   3. the 27 products of every coupled chain i < j < k, that is every three spins joined by at
//      least two nonzero couplings among them, in the same component order.
// A slot without a label (the one empty slot left when the last spin was deleted) gives nothing.
std::vector<std::string> initialOperatorChoices(const SpinSystem& spins);

}  // namespace velmora::model
