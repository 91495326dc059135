// The spin system (the "molecule"): up to 10 nuclei with shifts, couplings and relaxation times,
// the magnet's field, and the derived per-slot tables the engine reads at the start of a run.
#pragma once

#include "model/nucleus.h"

#include <array>
#include <optional>
#include <string>

namespace velmora::model {

class SpinSystem {
public:
    static constexpr int kSlots = 11;     // the tables hold 11 slots, 0..10
    static constexpr int kMaxSpins = 10;  // Velmora holds at most 10 spins: slot 10 stays empty
    static constexpr int kOccupied = 3;   // slot state of an occupied slot after a rebuild

    SpinSystem();

    // Start-up defaults: "H0" -0.5 ppm, "H1" 0.4 ppm, "C2" 0 ppm; J(0,1) = 30 Hz, J(1,2) = 140 Hz;
    // T1 1000 ms, T2 1000 ms for slot 0 and 100 ms for the others; 4 T, 170 MHz; N = 1 until a rebuild.
    void resetToDefaults();

    // label is "" (deletes the spin at the next rebuild) or a nucleus letter H, C or N followed by
    // the slot index. Refused (false, nothing changes) for any other text, a slot outside 0..10,
    // or a spin in slot 10, which would be an eleventh spin.
    [[nodiscard]] bool setLabel(int slot, const std::string& label);
    void setShiftPpm(int slot, double ppm);
    void setT1Ms(int slot, double ms);
    void setT2Ms(int slot, double ms);
    void setCouplingHz(int i, int j, double hz);  // also sets J(j, i)

    // Field boxes of the main window: each rounds its own value and recomputes the other.
    void setFieldTesla(double tesla);
    void setProtonFrequencyMHz(double mhz);
    // Both values as read from a stored file or the window, without recomputation.
    void setFieldPair(double tesla, double protonMHz);

    // Compacts the slots (every spin behind a gap moves down one place) and recomputes the derived
    // tables. Called by every redraw of the spin-system panel, after every edit and every file read.
    void rebuild();

    int spinCount() const { return count_; }
    double fieldTesla() const { return fieldTesla_; }
    double protonFrequencyMHz() const { return protonMHz_; }

    const std::string& label(int slot) const { return slots_.at(slot).label; }
    bool isEmpty(int slot) const { return slots_.at(slot).label.empty(); }
    std::optional<Nucleus> nucleus(int slot) const;
    double shiftPpm(int slot) const { return slots_.at(slot).shiftPpm; }
    double t1Ms(int slot) const { return slots_.at(slot).t1Ms; }
    double t2Ms(int slot) const { return slots_.at(slot).t2Ms; }
    double couplingHz(int i, int j) const { return coupling_.at(i).at(j); }

    // Derived tables, valid after rebuild().
    int slotState(int slot) const { return slots_.at(slot).state; }
    double nucleusConstant(int slot) const { return slots_.at(slot).nucleusConstant; }
    int channel(int slot) const { return slots_.at(slot).channel; }
    double shiftHz(int slot) const { return slots_.at(slot).shiftHz; }

private:
    struct Slot {
        std::string label;
        double shiftPpm = 0.0;
        double t1Ms = 1000.0;
        double t2Ms = 1000.0;
        int state = 0;
        double nucleusConstant = 0.0;
        int channel = 0;
        double shiftHz = 0.0;
    };

    void clearCouplingsOf(int slot);
    void moveSlotDown(int from, int last);
    void updateDerived(int slot);

    std::array<Slot, kSlots> slots_{};
    std::array<std::array<double, kSlots>, kSlots> coupling_{};
    int count_ = 1;
    double fieldTesla_ = 4.0;
    double protonMHz_ = 170.0;
};

}  // namespace velmora::model
