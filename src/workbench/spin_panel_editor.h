// The editing side of the spin-system panel: where the spins sit on their circle, which spin a
// click selects, what the "Nuclei parameters" window shows for it, and how its nucleus chooser and
// its boxes change the spin system. Positions are in twips of the panel (2600 x 2000).
//
// The nuclei window's controls live in the controls registry: the label Label10(39), the nucleus
// chooser Combo3, the couplings Text42(0..9), the shift in Hz Text42(10) (output only) and in ppm
// Text42(11), T1 Text42(12) and T2 Text42(13), both in ms.
#pragma once

#include "model/spin_system.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmora::workbench {

class Workbench;

struct TwipPoint {
    double x = 0.0;
    double y = 0.0;
};

// The circle the spins sit on, clockwise from the top.
inline constexpr double kSpinCircleCentreX = 1200.0;
inline constexpr double kSpinCircleCentreY = 1000.0;
inline constexpr double kSpinCircleRadius = 800.0;
// A click selects nothing at or beyond these (the panel's own extent).
inline constexpr double kSpinPanelWidth = 2600.0;
inline constexpr double kSpinPanelHeight = 2000.0;
// Half the side of the square around a position that a click must fall strictly inside.
inline constexpr double kSpinHitHalfWidth = 200.0;

// Boxes of the nuclei window besides the couplings Text42(0..9).
inline constexpr int kShiftHzBox = 10;
inline constexpr int kShiftPpmBox = 11;
inline constexpr int kT1Box = 12;
inline constexpr int kT2Box = 13;

// Positions the panel draws and offers for `spinCount` spins: the spins and one blank position
// for a new spin, except with 10 spins, which is all Velmora holds.
int spinPanelPositionCount(int spinCount);
// Position i of N + 1 on the circle: (1200 + 800 sin(i a), 1000 - 800 cos(i a)), a = 2 pi / (N + 1).
// The angle step stays that of N + 1 positions when the blank one is not offered.
TwipPoint spinPanelPosition(int position, int spinCount);
// The first offered position whose square of half side 200 holds (x, y) strictly inside; none
// for y >= 2000, x >= 2600 or a point between positions.
std::optional<int> spinPanelPositionAt(int spinCount, double xTwips, double yTwips);

// A spin value as the panel and the nuclei window show it. Shifts, relaxation times and the
// couplings of molecule files are held at single precision, so a value a single holds exactly
// shows as the shortest text that reads back to that single (0.4 as "0.4", not
// "0.400000005960464"); any other value in general format.
std::string spinValueText(double value);

enum class SpinClick {
    Ignored,   // exchange mode: the panel shows the two-site picture and takes no clicks
    Outside,   // nothing selected: the sequence picture is shown again
    Selected,  // a position was selected: the sequence picture hides and the nuclei window shows
};

class SpinPanelEditor {
public:
    explicit SpinPanelEditor(Workbench& bench);

    // A click on the panel at (x, y) in twips. On a position: remembers it as the selected spin
    // (the blank position selects the empty slot behind the last spin), fills the nuclei window
    // and refills the nucleus chooser with "", "H" + i, "C" + i and "N" + i.
    SpinClick click(double xTwips, double yTwips);

    // The selected slot; none before the first click and after the selected spin was deleted.
    std::optional<int> selectedSpin() const { return selected_; }

    // The nucleus chooser's choice for the selected slot. The empty choice deletes the spin (not
    // the last one): the coupling boxes show "0", the shift and relaxation boxes are emptied and
    // the selection ends, since the slot now holds the next spin. Any choice returns the initial
    // condition to "equilibrium" with its operator list emptied and hidden, and rebuilds the spin
    // system. False when nothing changed: no selection, a run in progress, exchange mode, a choice
    // the slot cannot take, or deleting the last spin.
    bool chooseNucleus(std::string_view choice);

    // A box Text42(index) was edited. A box that does not hold a number is refused with a message and
    // every box shows the model again; otherwise every box is read back into the selected slot: J(selected, j) = J(j, selected) from Text42(j) for the
    // spins j, the shift from Text42(11) and T1, T2 from Text42(12), (13) at single precision, and
    // Text42(10) shows the shift times the proton frequency. The spin system is rebuilt. While a
    // run is in progress or in exchange mode the edit is refused and the boxes show the model again.
    // False when nothing changed.
    bool editBox(int index);

    // Refills the nuclei window from the model (after an undo or redo); the selection ends when its
    // slot no longer holds a spin or the blank position.
    void showModel();

private:
    bool editable() const;
    void showSelectedSpin();

    Workbench& bench_;
    std::optional<int> selected_;
};

}  // namespace velmora::workbench
