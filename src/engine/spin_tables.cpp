#include "engine/spin_tables.h"

#include "model/spin_system.h"

namespace velmora::engine {

SpinTables makeSpinTables(const model::SpinSystem& system)
{
    SpinTables t;
    t.count = system.spinCount();
    for (int k = 0; k < kSpinSlots; ++k) {
        t.slotState[k] = system.slotState(k);
        t.nucleusConstant[k] = system.nucleusConstant(k);
        t.channel[k] = system.channel(k);
        t.shiftHz[k] = system.shiftHz(k);
        t.t1Ms[k] = system.t1Ms(k);
        t.t2Ms[k] = system.t2Ms(k);
        for (int j = 0; j < kSpinSlots; ++j)
            t.couplingHz[k][j] = system.couplingHz(k, j);
    }
    return t;
}

}  // namespace velmora::engine
