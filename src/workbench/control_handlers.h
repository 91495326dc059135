// The handlers of the window's boxes whose values also live in the model: the field pair, the
// detection channel and the cycle count; and the interlocks of the Options switches. Every change
// of those boxes, whether typed, read from a sequence file or set from the command line, goes
// through them, so model and box never disagree.
#pragma once

namespace velmora::workbench {

class Workbench;

// "Field, T" edited: the field is rounded to 0.1 T, the proton frequency follows, both boxes are
// rewritten. A box that holds no number changes nothing.
void onFieldTeslaEdited(Workbench& bench);
// "MHz" edited: the frequency is rounded to whole MHz, the field follows, both boxes are rewritten.
void onProtonFrequencyEdited(Workbench& bench);

// "Detection (t2)": "C13" detects channel 1, "N15" channel 2; any other text becomes "H1" (0).
int onDetectionChannelChosen(Workbench& bench);
// The channel the box currently selects (0 = 1H, 1 = 13C, 2 = 15N).
int detectionChannel(const Workbench& bench);

// The red cycle box: a number sets the cycle count (element "Ncycle"); false when it holds none.
bool onCycleCountEdited(Workbench& bench);

// A click on the Options box Check1(index), after the box has changed. The interlocks, in order:
// cross-relaxation needs both relaxation times (T1 and T2 ticked and locked while it is on); T1
// needs T2 (ticked and locked while T1 is on); "swift", "rs" and "swift2" exclude one another (a
// click on one clears the other two); reference deconvolution and B-S compensation cannot both be
// on (ticking the second clears both).
void onOptionClicked(Workbench& bench, int index);

// After a sequence file was read: the field pair from its MHz box (or its tesla box when the MHz box
// holds no number), the detection channel and the cycle count through their handlers.
void applyStoredBoxes(Workbench& bench);

}  // namespace velmora::workbench
