// The drawing of the spin-system panel: the spins as discs on their circle (and the blank position
// that takes a new spin), each with its label, shift and relaxation times, and the couplings as
// lines between them; in exchange mode the fixed picture of two exchanging sites. The panel uses a
// scale of 2600 x 2000 twips whatever the pixel size of the picture box.
#pragma once

#include "render/picture_box.h"

#include <QColor>

namespace velmora::workbench {
class Workbench;
}

namespace velmora::render {

inline constexpr double kSpinPanelScaleWidth = 2600.0;
inline constexpr double kSpinPanelScaleHeight = 2000.0;

// Colours of the panel.
QColor spinDiscColour();      // (255, 192, 255) pink
QColor shiftTextColour();     // (255, 0, 0) red
QColor t1TextColour();        // (64, 64, 64): the desktop text colour, a dark grey
QColor t2TextColour();        // (0, 192, 192)
QColor couplingLineColour();  // (128, 255, 128) light green

// Disc radius in twips of a nucleus by the first letter of its label: H 100, C 150, N 180; 0 for
// anything else.
double nucleusRadiusTwips(char letter);

// Clears the box and rebuilds the spin system, then draws. Normal mode, for each position i of
// spinPanelPosition (X, Y): a pink disc centred at (X + 40, Y + 40) with the radius of slot i's
// nucleus (the blank position takes the radius of the spin before it) and the label in black with
// its top-left corner at (X - 50, Y - 50); for each spin, in a column at X - 400 (left half,
// X < 1200) or X + 250: the shift in ppm ("0.00", red) at Y - 150, T1 ("0.000") at Y + 25 and T2
// ("0.000") at Y + 200; for each coupling J(i, j) != 0 (j >= i) a light-green line from
// (Xi + 75, Yi + 75) to (Xj + 75, Yj + 75) with the value in black at its middle.
// Exchange mode: two pink discs of radius 155 at (800, 1000) and (2000, 1000) labelled "H1",
// "<====>" at (1100, 900) and "Kex=" with the exchange rate above them.
void drawSpinPanel(PictureBox& box, workbench::Workbench& bench);

}  // namespace velmora::render
