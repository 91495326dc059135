#include "workbench/sequence_panel_editor.h"

#include "model/controls.h"
#include "model/operator_choices.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "workbench/control_handlers.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <type_traits>

namespace velmora::workbench {

namespace {

namespace element = model::element;
using model::ChannelSetting;
using model::PulseSequence;

constexpr double kMarginFraction = 1.0 / 13.0;
constexpr double kStepWithoutDelay = 1.0 / 3.0;  // width units of a step whose delay reference is 0
// Elements whose value a value box may set: every named element up to the last unused ones.
constexpr int kLastValueElement = 129;
constexpr int kLastNamedStepElement = 131;
constexpr const char* kErrorTitle = "Error!";

model::ControlId cell(int index)
{
    return {"Label3", index};
}

model::ControlId valueBox(int index)
{
    return {"Text1", index};
}

bool isChannelCell(int index, int first)
{
    return index >= first && index < first + model::kChannelCount;
}

std::string referenceName(double reference, const model::ElementTable& elements)
{
    const int m = PulseSequence::referencedElement(reference);
    if (m == element::kDecoupling)
        return "dec";
    return m > 0 ? elements.name(m) : std::string("none");
}

std::string referenceValueText(double reference, const model::ElementTable& elements)
{
    const int m = PulseSequence::referencedElement(reference);
    if (m > kLastValueElement)
        return {};
    if (m > 0)
        return util::formatGeneral(elements.value(m));
    return util::formatGeneral(reference);
}

void appendNames(std::vector<std::string>& items, const model::ElementTable& elements, int first, int last,
                 bool skipEmpty)
{
    for (int m = first; m <= last; ++m) {
        if (!skipEmpty || !elements.name(m).empty())
            items.push_back(elements.name(m));
    }
}

void appendFiles(std::vector<std::string>& items, const std::string& directory, std::string_view extension,
                 std::string_view prefix)
{
    for (const std::string& file : util::listFilesWithExtension(directory, extension))
        items.push_back(std::string(prefix) + file);
}

// The element a step entry refers to, for the arrayed-parameter choices: named elements only.
void collectReferenced(std::set<int>& found, double reference)
{
    const int m = PulseSequence::referencedElement(reference);
    if (m >= 1 && m <= kLastNamedStepElement)
        found.insert(m);
}

}  // namespace

int SequenceLayout::stepAt(double x) const
{
    for (std::size_t k = 0; k < boundaries.size(); ++k) {
        if (boundaries[k] >= x)
            return k == 0 ? 0 : static_cast<int>(k) - 1;
    }
    return stepCount() + 1;
}

SequenceLayout layoutSteps(const PulseSequence& sequence, double scaleWidth)
{
    const int lastStep = sequence.stepCount();
    std::vector<double> weights;
    double total = 0.0;
    for (int s = 0; s <= lastStep; ++s) {
        weights.push_back(sequence.step(s).delay != 0.0 ? 1.0 : kStepWithoutDelay);
        total += weights.back();
    }
    SequenceLayout layout;
    layout.scaleWidth = scaleWidth;
    const double left = scaleWidth * kMarginFraction;
    const double available = scaleWidth - 2.0 * left;
    layout.unit = available / total;
    layout.boundaries.push_back(left);
    double filled = 0.0;
    for (double w : weights) {
        filled += w;
        layout.boundaries.push_back(left + available * (filled / total));
    }
    return layout;
}

int currentStep(const Workbench& bench)
{
    const int last = bench.sequence().stepCount() + 1;
    const std::optional<std::int32_t> step =
        util::parseWholeNumber(bench.controls().caption(model::ctl::CurrentStep));
    if (!step || *step < 0)
        return 0;
    return *step > last ? last - 1 : *step;
}

const std::vector<std::string>& phaseNames()
{
    static const std::vector<std::string> names = {"x", "y", "-x", "-y", "f4", "f5", "f6", "f7", "f8", "f9"};
    return names;
}

SequencePanelEditor::SequencePanelEditor(Workbench& bench) : bench_(bench)
{
}

bool SequencePanelEditor::editable() const
{
    return !bench_.runControl().running() && !bench_.exchangeMode();
}

int SequencePanelEditor::currentStep() const
{
    return workbench::currentStep(bench_);
}

bool SequencePanelEditor::setCurrentStep(int step)
{
    if (step < 0 || step > bench_.sequence().stepCount() + 1)
        return false;
    bench_.controls().setCaption(model::ctl::CurrentStep, std::to_string(step));
    picked_.reset();
    bench_.controls().setVisible(model::ctl::CellChooser, false);
    fillCells(std::nullopt);
    return true;
}

int SequencePanelEditor::selectStepAt(double x, double scaleWidth)
{
    const int step = layoutSteps(bench_.sequence(), scaleWidth).stepAt(x);
    setCurrentStep(step);
    return step;
}

void SequencePanelEditor::showCurrentStep()
{
    setCurrentStep(currentStep());
}

// In exchange mode the cells and boxes carry the exchange experiment's values: they are left alone.
void SequencePanelEditor::fillCells(std::optional<int> keepBox)
{
    if (bench_.exchangeMode())
        return;
    const PulseSequence& sequence = bench_.sequence();
    const model::ElementTable& elements = sequence.elements();
    const model::SequenceStep& step = sequence.step(currentStep());
    model::Controls& controls = bench_.controls();
    const auto show = [&](int cellIndex, int boxIndex, double reference) {
        controls.setCaption(cell(cellIndex), referenceName(reference, elements));
        if (keepBox != boxIndex)
            controls.setText(valueBox(boxIndex), referenceValueText(reference, elements));
    };
    for (int k = 0; k < model::kChannelCount; ++k) {
        const ChannelSetting& channel = step.channels[k];
        show(kElementCell + k, kElementBox + k, channel.content);
        const int phase = channel.phase;
        controls.setCaption(cell(kPhaseCell + k), phase >= 0 && phase < static_cast<int>(phaseNames().size())
                                                      ? phaseNames()[static_cast<std::size_t>(phase)]
                                                      : std::to_string(phase));
        show(kOffsetCell + k, kOffsetBox + k, channel.offset);
        show(kPowerCell + k, kPowerBox + k, channel.power);
    }
    show(kGradientCell, kGradientBox, step.gradient);
    show(kDelayCell, kDelayBox, step.delay);
}

std::vector<std::string> SequencePanelEditor::cellChoices(int index) const
{
    const PulseSequence& sequence = bench_.sequence();
    const model::ElementTable& elements = sequence.elements();
    const std::string& directory = bench_.workingDirectory();
    std::vector<std::string> items;
    if (isChannelCell(index, kElementCell)) {
        items = {"dec", "none"};
        appendNames(items, elements, element::kFirstPulse, element::kLastPulse, false);
        appendNames(items, elements, element::kFirstShapedPulse, element::kLastShapedPulse, true);
        appendFiles(items, directory, ".rf", "n_");
    } else if (isChannelCell(index, kPhaseCell)) {
        items = phaseNames();
    } else if (index == kGradientCell) {
        items = {"none"};
        appendNames(items, elements, element::kFirstGradient, element::kLastGradient, false);
        appendNames(items, elements, element::kFirstShapedGradient, element::kLastShapedGradient, true);
        appendFiles(items, directory, ".GRD", "n_");
    } else if (index == kDelayCell) {
        items = {"none"};
        appendNames(items, elements, element::kFirstDelay, element::kLastDelay, false);
    } else if (isChannelCell(index, kOffsetCell)) {
        items = {"none"};
        appendNames(items, elements, element::kFirstOffset, element::kLastOffset, false);
    } else if (isChannelCell(index, kPowerCell)) {
        items = {"none"};
        appendNames(items, elements, element::kFirstPower, element::kLastPower, false);
    } else if (index == kArrayMethodCell) {
        items = {"Add", "Mult"};
        appendFiles(items, directory, ".tab", "");
    } else if (index == kArrayedParameterCell) {
        std::set<int> referenced;
        for (int s = 0; s <= sequence.stepCount() + 1; ++s) {
            const model::SequenceStep& step = sequence.step(s);
            for (const ChannelSetting& channel : step.channels) {
                collectReferenced(referenced, channel.content);
                collectReferenced(referenced, channel.power);
                collectReferenced(referenced, channel.offset);
            }
            collectReferenced(referenced, step.delay);
            collectReferenced(referenced, step.gradient);
        }
        items = {"none"};
        for (int m : referenced) {
            const std::string& name = elements.name(m);
            if (!name.empty() && std::find(items.begin(), items.end(), name) == items.end())
                items.push_back(name);
        }
        for (const char* name : {"Ncycle", "T1", "T2", "Tcr", "Kex"})
            items.emplace_back(name);
    }
    return items;
}

bool SequencePanelEditor::pickCell(int index)
{
    if (bench_.exchangeMode())
        return false;
    std::vector<std::string> items = cellChoices(index);
    if (items.empty())
        return false;
    model::Controls& controls = bench_.controls();
    controls.setItems(model::ctl::CellChooser, std::move(items));
    controls.setText(model::ctl::CellChooser, controls.caption(cell(index)));
    controls.setVisible(model::ctl::CellChooser, true);
    picked_ = index;
    return true;
}

bool SequencePanelEditor::choose(std::string_view choice)
{
    if (!picked_ || !editable())
        return false;
    const int index = *picked_;
    const int step = currentStep();
    PulseSequence& sequence = bench_.sequence();
    model::Controls& controls = bench_.controls();

    util::Outcome stored = util::Outcome::success();
    if (isChannelCell(index, kElementCell)) {
        stored = sequence.setContent(step, index - kElementCell, choice);
    } else if (isChannelCell(index, kPhaseCell)) {
        const auto& names = phaseNames();
        const auto found = std::find(names.begin(), names.end(), choice);
        stored = found == names.end()
                     ? util::Outcome::failure("\"" + std::string(choice) +
                                              "\" is not a phase (x, y, -x, -y, f4 to f9).")
                     : sequence.setPhase(step, index - kPhaseCell, static_cast<int>(found - names.begin()));
    } else if (index == kGradientCell) {
        stored = sequence.setGradient(step, choice);
    } else if (index == kDelayCell) {
        stored = sequence.setDelay(step, choice);
    } else if (isChannelCell(index, kOffsetCell)) {
        stored = sequence.setOffset(step, index - kOffsetCell, choice);
    } else if (isChannelCell(index, kPowerCell)) {
        stored = sequence.setPower(step, index - kPowerCell, choice);
    } else if (index == kArrayMethodCell) {
        controls.setCaption(model::ctl::ArrayMethod, std::string(choice));
    } else if (index == kArrayedParameterCell) {
        sequence.setArrayedParameter(std::string(choice));
        controls.setCaption(model::ctl::ArrayedParameter, std::string(choice));
    } else {
        return false;
    }
    if (!stored) {
        bench_.messages().show(stored.message(), kErrorTitle);
        return false;
    }
    picked_.reset();
    controls.setVisible(model::ctl::CellChooser, false);
    fillCells(std::nullopt);
    bench_.runPreparationOnly();
    return true;
}

void SequencePanelEditor::clickValueBox(int box)
{
    model::Controls& controls = bench_.controls();
    if (controls.contains(valueBox(box)))
        remembered_[box] = controls.text(valueBox(box));
    picked_.reset();
    controls.setVisible(model::ctl::CellChooser, false);
}

void SequencePanelEditor::showCycleCount()
{
    bench_.controls().setText(model::ctl::CycleCountBox, util::formatGeneral(bench_.sequence().cycleCount()));
}

bool SequencePanelEditor::storeValue(int box, double number)
{
    PulseSequence& sequence = bench_.sequence();
    model::SequenceStep& step = sequence.step(currentStep());
    const auto store = [&](auto& reference) {
        const int m = PulseSequence::referencedElement(static_cast<double>(reference));
        if (m > kLastValueElement)
            return false;  // "dec" and the markers take no value
        if (m > 0) {
            sequence.elements().setValue(m, number);
            return true;
        }
        if (number < 0.0)
            return false;
        if constexpr (std::is_same_v<std::remove_reference_t<decltype(reference)>, int>) {
            const std::optional<std::int32_t> whole = util::toInt32(number);
            if (!whole)
                return false;
            reference = *whole;
        } else {
            reference = number;
        }
        return true;
    };
    if (isChannelCell(box, kElementBox))
        return store(step.channels[box - kElementBox].content);
    if (box == kGradientBox)
        return store(step.gradient);
    if (box == kDelayBox)
        return store(step.delay);
    if (isChannelCell(box, kOffsetBox))
        return store(step.channels[box - kOffsetBox].offset);
    if (isChannelCell(box, kPowerBox))
        return store(step.channels[box - kPowerBox].power);
    return false;
}

bool SequencePanelEditor::editValue(int box)
{
    if (box < 0 || box > kCycleCountBox || bench_.exchangeMode())
        return false;
    model::Controls& controls = bench_.controls();
    const auto restore = [&] {
        if (const auto it = remembered_.find(box); it != remembered_.end())
            controls.setText(valueBox(box), it->second);
        else if (box == kCycleCountBox)
            showCycleCount();
        else
            fillCells(std::nullopt);
    };
    if (bench_.runControl().running()) {
        if (box == kCycleCountBox)
            showCycleCount();
        else
            fillCells(std::nullopt);
        return false;
    }
    const std::optional<double> number = util::parseNumber(controls.text(valueBox(box)));
    if (!number) {
        bench_.messages().show(
            "\"" + controls.text(valueBox(box)) + "\" is not a number; the value is kept.", "Error!");
        restore();
        return false;
    }
    if (box == kCycleCountBox)
        return onCycleCountEdited(bench_);
    if (!storeValue(box, *number)) {
        restore();
        return false;
    }
    fillCells(box);
    return true;
}

bool SequencePanelEditor::deleteStep()
{
    if (!editable())
        return false;
    PulseSequence& sequence = bench_.sequence();
    if (!sequence.deleteStep(currentStep()))
        return false;
    if (currentStep() > sequence.stepCount())
        bench_.controls().setCaption(model::ctl::CurrentStep, std::to_string(sequence.stepCount()));
    fillCells(std::nullopt);
    return true;
}

bool SequencePanelEditor::insertStep()
{
    if (!editable() || !bench_.sequence().insertStep(currentStep()))
        return false;
    fillCells(std::nullopt);
    return true;
}

bool SequencePanelEditor::markPoint()
{
    if (!editable())
        return false;
    bench_.sequence().setPointStep(currentStep());
    return true;
}

bool SequencePanelEditor::toggleAcquisition()
{
    return editable() && bench_.sequence().toggleAcquisition(currentStep());
}

bool SequencePanelEditor::markCycleStart()
{
    if (!editable())
        return false;
    bench_.sequence().setCycleStart(currentStep());
    showCycleCount();
    return true;
}

bool SequencePanelEditor::markCycleEnd()
{
    if (!editable())
        return false;
    bench_.sequence().setCycleEnd(currentStep());
    showCycleCount();
    return true;
}

void SequencePanelEditor::toggleInitialCondition()
{
    model::Controls& controls = bench_.controls();
    if (controls.caption(model::ctl::InitialCondition) == "nonequilibrium") {
        controls.setCaption(model::ctl::InitialCondition, "equilibrium");
        controls.setVisible(model::ctl::InitialOperators, false);
        return;
    }
    controls.setCaption(model::ctl::InitialCondition, "nonequilibrium");
    controls.setItems(model::ctl::InitialOperators, model::initialOperatorChoices(bench_.spinSystem()));
    controls.setVisible(model::ctl::InitialOperators, true);
}

bool SequencePanelEditor::openPhaseRow(int row)
{
    model::Controls& controls = bench_.controls();
    const std::vector<std::string>& rows = controls.at(model::ctl::PhaseCycle).items;
    if (row < 0 || row >= static_cast<int>(rows.size()))
        return false;
    controls.setText(model::ctl::PhaseRowEditor, rows[static_cast<std::size_t>(row)]);
    controls.setVisible(model::ctl::PhaseRowEditor, true);
    phaseRow_ = row;
    return true;
}

bool SequencePanelEditor::commitPhaseRow()
{
    model::Controls& controls = bench_.controls();
    std::vector<std::string> rows = controls.at(model::ctl::PhaseCycle).items;
    if (!phaseRow_ || *phaseRow_ >= static_cast<int>(rows.size()))
        return false;
    rows[static_cast<std::size_t>(*phaseRow_)] = controls.text(model::ctl::PhaseRowEditor);
    controls.setItems(model::ctl::PhaseCycle, std::move(rows));
    return true;
}

}  // namespace velmora::workbench
