// The drawing of the sequence panel: the timing diagram of the pulse sequence with one row per
// channel (" 1H", " 13C", " 15N", " Gr"), the steps laid out by layoutSteps, the delay names under
// them, the cycled block, the point marker, the acquisition, and each step's elements within its
// span. The diagram uses its own scale (kSequenceScaleWidth x kSequenceScaleHeight units) whatever
// the pixel size of the picture box; a click's x in those units (PictureBox::toUser after a draw)
// is what SequencePanelEditor::selectStepAt takes.
#pragma once

#include "render/picture_box.h"

#include <QColor>
#include <string>
#include <vector>

namespace velmora::workbench {
class Workbench;
}

namespace velmora::render {

inline constexpr double kSequenceScaleWidth = 1000.0;
// Four rows 115 units apart, room for gradients below the last one, the point marker and the
// delay names under the diagram.
inline constexpr double kSequenceScaleHeight = 680.0;
inline constexpr double kSequenceRowPitch = 115.0;
// Height of the tallest hard pulse (a flip of 180 degrees or more) and of a full-amplitude shaped
// pulse above its row, and of the largest gradient of the sequence either side of the Gr row.
inline constexpr double kFullPulseHeight = 100.0;
inline constexpr double kFullShapeHeight = 80.0;
inline constexpr double kFullGradientHeight = 80.0;
// The point marker's lines run between these heights, above the delay names.
inline constexpr double kPointMarkerTop = 550.0;
inline constexpr double kPointMarkerBottom = 600.0;
// Top of the delay names.
inline constexpr double kDelayTextTop = 615.0;

// The baseline of row k (0 = 1H, 1 = 13C, 2 = 15N, 3 = Gr): (k + 1) x 115.
inline constexpr double sequenceRowBaseline(int row)
{
    return (row + 1) * kSequenceRowPitch;
}

QColor currentStepColour();   // (255, 255, 200) pale yellow band behind the current step
QColor hardPulseColour();     // black
QColor shapedPulseColour();   // (0, 0, 192) blue
QColor decouplingColour();    // (0, 128, 0) green hatching
QColor gradientColour();      // (176, 96, 0) brown
QColor acquisitionColour();   // (0, 0, 192) the FID of the acquisition after the last step
QColor receiverMarkColour();  // (192, 0, 192) the acquisition during a shaped pulse
QColor cycleLineColour();     // red
QColor pointMarkerColour();   // (0, 255, 255) cyan
QColor arrayedDelayColour();  // red

// Flip angle in degrees of a hard pulse of `widthUs` microseconds at `powerDb` under the engine's
// power law (90 degrees take 5 us at 60 dB, every 20 dB less ten times longer).
double hardPulseFlipDegrees(double widthUs, double powerDb);

// Clears the box and draws the diagram of the workbench's sequence, with the current step
// (Label10(52)) highlighted. Before drawing the elements the acquisition marker is checked: a
// marker on a step without a shaped pulse is removed (the sequence changes).
//  - A hard pulse is a filled rectangle in the first third of a width unit of its step, as high
//    as its flip angle: kFullPulseHeight x min(flip, 180) / 180.
//  - A shaped pulse is the amplitude envelope of its file over that part, kFullShapeHeight at full
//    amplitude; a hatched outline when the file cannot be read.
//  - Decoupling is a hatched band over the whole step.
//  - A gradient is a trapezoid over the whole step (its shape when shaped), up for positive
//    values, scaled to the largest gradient of the sequence.
//  - The acquisition after the last step (step S + 1) is a decaying FID on the detected channel's
//    row in the right margin, with step S + 1's decoupling beside it; an acquisition during a
//    shaped pulse is marked by a purple receiver trace over that step.
//  In exchange mode the panel shows the experiment instead: the excitation and one echo of the CPMG
//  train on the 1H row, tcp/2 - refocusing pulse (Tp, or the shaped pulse) - tcp/2 between
//  brackets repeated Necho times, annotated with exchangeLabels.
void drawSequencePanel(PictureBox& box, workbench::Workbench& bench);

// The annotations of the exchange drawing: "tcp=", "Tp=", "Necho=" with their values (us, us and
// a count), and "StartMagn=Ixz_AdiabRot" when the train starts from the adiabatic rotation.
std::vector<std::string> exchangeLabels(const workbench::Workbench& bench);

}  // namespace velmora::render
