// The observable operators the synthesized acquisition evolves analytically: for every active spin,
// its transverse single-spin operators, or, for a coupled spin, every product of its transverse
// component with E or z factors of its coupling partners. Each entry carries the multiplet that its
// couplings produce: the product-to-sum expansion of the cosine (partner E) and sine (partner z)
// factors, as component codes and frequencies.
#pragma once

#include "engine/spin_tables.h"

#include <vector>

namespace velmora::engine {

struct MultipletComponent {
    int code = 1;  // +-1 cosine factor, +-2 sine factor; the sign multiplies the amplitude
    double frequencyHz = 0.0;
};

struct RecordedOperator {
    int operatorIndex = 0;
    int spin = 0;          // the observed spin
    int channel = 0;       // its RF channel
    bool coupled = false;  // false: a single line; true: the multiplet of `components`
    int kind = 1;          // +1 observed along x, -1 along y
    std::vector<MultipletComponent> components;
};

// The list for the given slot states (the spins decoupled during the acquisition already cleared).
std::vector<RecordedOperator> buildRecordedOperators(const SpinTables& spins);

}  // namespace velmora::engine
