// Undo and redo of the model edits made in the window. Every edit of the spin system or the pulse
// sequence becomes one step of a QUndoStack that holds the model as it was before and after it:
// the spins, the sequence with its element table, and the few boxes that belong to the sequence
// (array method and parameter, phase cycle, initial condition, current step, sw, Ni and the array
// increment). A run changes none
// of these, so the edits made before a run stay undoable; reading a file starts a new history.
#pragma once

#include "model/controls.h"
#include "model/pulse_sequence.h"
#include "model/spin_system.h"

#include <QString>
#include <QUndoStack>
#include <functional>
#include <utility>
#include <vector>

namespace velmora::workbench {
class Workbench;
}

namespace velmora::ui {

// The undoable part of the model at one moment.
struct ModelState {
    model::SpinSystem spins;
    model::PulseSequence sequence;
    std::vector<std::pair<model::ControlId, model::ControlState>> boxes;
};

class EditHistory {
public:
    // `restored` runs after an undo or redo put a state back (the window redraws and refills).
    EditHistory(workbench::Workbench& bench, std::function<void()> restored);

    QUndoStack& stack() { return stack_; }

    // Runs `edit`; when it reports a change the model before and after becomes one step named `text`.
    bool record(const QString& text, const std::function<bool()>& edit);
    void clear() { stack_.clear(); }

    ModelState capture() const;
    void restore(const ModelState& state);

private:
    workbench::Workbench& bench_;
    std::function<void()> restored_;
    QUndoStack stack_;
};

}  // namespace velmora::ui
