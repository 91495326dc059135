#include "ui/edit_history.h"

#include "workbench/workbench.h"

#include <QUndoCommand>

namespace velmora::ui {

namespace {

namespace ctl = model::ctl;

// The boxes that describe the sequence but live in the controls registry.
constexpr model::ControlId kSequenceBoxes[] = {
    ctl::ArrayMethod,    ctl::ArrayedParameter, ctl::SecondArrayMethod, ctl::SecondArrayedParameter,
    ctl::CurrentStep,    ctl::PhaseCycle,       ctl::InitialOperators,  ctl::InitialCondition,
    ctl::CycleCountBox,  ctl::SpectralWidth,    ctl::ArraySize,         ctl::ArrayIncrement,
};

class ModelEdit : public QUndoCommand {
public:
    ModelEdit(EditHistory& history, ModelState before, ModelState after, const QString& text)
        : QUndoCommand(text), history_(history), before_(std::move(before)), after_(std::move(after))
    {
    }

    void undo() override { history_.restore(before_); }
    void redo() override
    {
        // The stack calls redo when the step is pushed; the edit itself has already been made.
        if (pushed_)
            history_.restore(after_);
        pushed_ = true;
    }

private:
    EditHistory& history_;
    ModelState before_;
    ModelState after_;
    bool pushed_ = false;
};

}  // namespace

EditHistory::EditHistory(workbench::Workbench& bench, std::function<void()> restored)
    : bench_(bench), restored_(std::move(restored))
{
}

ModelState EditHistory::capture() const
{
    ModelState state{bench_.spinSystem(), bench_.sequence(), {}};
    for (const model::ControlId id : kSequenceBoxes)
        state.boxes.emplace_back(id, bench_.controls().at(id));
    return state;
}

void EditHistory::restore(const ModelState& state)
{
    bench_.spinSystem() = state.spins;
    bench_.spinSystem().rebuild();
    bench_.sequence() = state.sequence;
    for (const auto& [id, box] : state.boxes)
        bench_.controls().at(id) = box;
    if (restored_)
        restored_();
}

bool EditHistory::record(const QString& text, const std::function<bool()>& edit)
{
    if (bench_.runControl().running())
        return edit();
    ModelState before = capture();
    if (!edit())
        return false;
    stack_.push(new ModelEdit(*this, std::move(before), capture(), text));
    return true;
}

}  // namespace velmora::ui
