// The editing side of the sequence panel: the layout of the steps across the timing diagram, the
// current step and its "Parameters" cells, the cell chooser and what a choice stores, the value
// boxes, the step buttons (Del, Ins, point, Acqu, "{", "}"), the initial-condition button and the
// phase-cycle row editor. Everything it shows lives in the controls registry, so the window only
// binds widgets; the sequence and its element table live in the workbench.
//
// Cells (Label3) and value boxes (Text1) of the current step, per RF channel k (0 = 1H, 1 = 13C,
// 2 = 15N):
//   element  Label3(k)       Text1(k)          phase   Label3(k + 3)
//   offset   Label3(k + 8)   Text1(k + 5)      power   Label3(k + 11)   Text1(k + 8)
//   gradient Label3(6)       Text1(3)          delay   Label3(7)        Text1(4)
//   array method Label3(14), arrayed parameter Label3(15), cycle count: the red box Text1(12).
#pragma once

#include "model/pulse_sequence.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::workbench {

class Workbench;

// Label3 cells.
inline constexpr int kElementCell = 0;  // + channel
inline constexpr int kPhaseCell = 3;    // + channel
inline constexpr int kGradientCell = 6;
inline constexpr int kDelayCell = 7;
inline constexpr int kOffsetCell = 8;  // + channel
inline constexpr int kPowerCell = 11;  // + channel
inline constexpr int kArrayMethodCell = 14;
inline constexpr int kArrayedParameterCell = 15;
// Text1 value boxes.
inline constexpr int kElementBox = 0;  // + channel
inline constexpr int kGradientBox = 3;
inline constexpr int kDelayBox = 4;
inline constexpr int kOffsetBox = 5;  // + channel
inline constexpr int kPowerBox = 8;   // + channel
inline constexpr int kCycleCountBox = 12;
// Height of a row of the phase-cycle list, where its editor is placed (twips).
inline constexpr double kPhaseRowHeightTwips = 190.0;

// Where the steps 0..S lie across a diagram of scale width W: a left margin of W/13 for the
// channel names, a right margin of W/13, and in between one width unit per step with a delay and
// a third of a unit per step without one (delay reference 0), the unit chosen so that the steps
// fill the space exactly.
struct SequenceLayout {
    double scaleWidth = 0.0;
    double unit = 0.0;
    // S + 2 boundaries: boundaries[0] = W/13 opens step 0, boundaries[s + 1] closes step s, the last
    // one lies at W - W/13.
    std::vector<double> boundaries;

    int stepCount() const { return static_cast<int>(boundaries.size()) - 2; }
    double stepLeft(int s) const { return boundaries.at(static_cast<std::size_t>(s)); }
    double stepRight(int s) const { return boundaries.at(static_cast<std::size_t>(s) + 1); }
    // The step a click at x selects: the step closed by the first boundary at or right of x
    // (boundary 0, left of the steps, gives step 0); right of the last boundary, step S + 1.
    int stepAt(double x) const;
};

SequenceLayout layoutSteps(const model::PulseSequence& sequence, double scaleWidth);

// The current step, as Label10(52) shows it: 0 when the caption holds no number, S when it names
// a step beyond S + 1 (a shorter sequence was read).
int currentStep(const Workbench& bench);

// "x", "y", "-x", "-y", "f4".."f9" for the phase codes 0..9.
const std::vector<std::string>& phaseNames();

class SequencePanelEditor {
public:
    explicit SequencePanelEditor(Workbench& bench);

    int currentStep() const;
    // Makes `step` (0..S + 1) current and fills its cells; false for any other step.
    bool setCurrentStep(int step);
    // A click on the diagram at x (scale units of a picture of scale width W): the step under x
    // becomes current. Returns it.
    int selectStepAt(double x, double scaleWidth);
    // Fills every cell and value box of the current step; the window calls it with every redraw
    // that does not come from an edit (after a sequence file was read, for example).
    void showCurrentStep();

    // The chooser's items for Label3(cell), in normal mode:
    //   element cells 0..2: "dec", "none", the names of elements 1..10, the non-empty names of the
    //     shaped pulses 51..60, then "n_" + each "*.rf" file of the working directory;
    //   phase cells 3..5: "x", "y", "-x", "-y", "f4".."f9";
    //   gradient cell 6: "none", the names of 21..30, the non-empty names of 61..70, then "n_" + each
    //     "*.GRD" file; delay cell 7: "none", 11..20; offset cells 8..10: "none", 31..40;
    //   power cells 11..13: "none", 41..50; array method 14: "Add", "Mult", each "*.tab" file;
    //   arrayed parameter 15: "none", the name of every element some step 0..S + 1 refers to (in
    //     element order; "dec" is a marker, not an element), then "Ncycle", "T1", "T2", "Tcr", "Kex".
    // Empty for any other cell.
    std::vector<std::string> cellChoices(int cell) const;
    // A click on Label3(cell): the chooser Combo1(0) gets the cell's items and is shown. False (and
    // nothing shown) in exchange mode, whose cells the exchange experiment fills, or for a cell
    // without choices.
    bool pickCell(int cell);
    // The cell picked last, none before the first pick and after a choice.
    std::optional<int> pickedCell() const { return picked_; }
    // A click on `choice` in the chooser: stored into the current step through the sequence's
    // setters (phases by their code; the array method into Label3(14); the arrayed parameter by
    // name and index, shown in Label3(15)). The chooser hides, the cells are refilled and the
    // preparation-only run follows. A choice the cell cannot take is shown as a message titled
    // "Error!" and changes nothing. False when nothing was stored, also while a run is in progress.
    bool choose(std::string_view choice);

    // A click in the value box Text1(box): remembers its text and hides the chooser.
    void clickValueBox(int box);
    // Text1(box) was edited. Refused while a run is in progress (the box shows the model again).
    // A text that is not a number is refused with a message, gets back the text remembered at the
    // box's last click and nothing changes; so does a negative number in a cell without an element, since a negative
    // step entry would name an element. Otherwise: a cell that names an element (-1..-129) sets
    // that element's value, so every step using it changes; a cell with no element (0 or a literal)
    // stores the number as a literal of the step (pulse lengths rounded to whole microseconds);
    // "dec" takes no value; the red box Text1(12) sets the cycle count. The other cells of the
    // step are refilled, the edited box keeps its text. False when nothing changed.
    bool editValue(int box);

    // The buttons, on the current step, each refused while a run is in progress or in exchange mode.
    // "Del": after deleting beyond the end the current step becomes S.
    bool deleteStep();
    bool insertStep();  // "Ins"
    bool markPoint();   // "point"
    // "Acqu": only on a step that carries a shaped pulse.
    bool toggleAcquisition();
    // "{" and "}": the red box shows the cycle count afterwards (a fresh block counts 1).
    bool markCycleStart();
    bool markCycleEnd();

    // The initial-condition button Command7: "equilibrium" becomes "nonequilibrium" with the
    // operator list List6 shown and filled with the starting operators of the spin system;
    // "nonequilibrium" becomes "equilibrium" with the list hidden.
    void toggleInitialCondition();

    // A click on row `row` (0..5, f4..f9) of the phase-cycle list: the editor Text14(15) loads
    // the row's text and is shown. False for a row the list does not have.
    bool openPhaseRow(int row);
    // Writes the editor's text back into the row it was opened on. False when none was opened.
    bool commitPhaseRow();
    std::optional<int> phaseRow() const { return phaseRow_; }

private:
    bool editable() const;
    void fillCells(std::optional<int> keepBox);
    void showCycleCount();
    bool storeValue(int box, double number);

    Workbench& bench_;
    std::optional<int> picked_;
    std::optional<int> phaseRow_;
    std::map<int, std::string> remembered_;
};

}  // namespace velmora::workbench
