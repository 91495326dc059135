#include "workbench/control_override.h"

#include "model/controls.h"
#include "model/element_table.h"
#include "model/spin_value_ranges.h"
#include "workbench/generator_boxes.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/text_compare.h"
#include "workbench/control_handlers.h"
#include "workbench/control_names.h"
#include "workbench/spin_panel_editor.h"
#include "workbench/workbench.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace velmora::workbench {

namespace {

struct Assignment {
    std::string_view name;
    std::string_view value;
};

// Splits at the first "="; none when there is no "=" or nothing before it.
std::optional<Assignment> splitAssignment(std::string_view assignment)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals == 0)
        return std::nullopt;
    return Assignment{assignment.substr(0, equals), assignment.substr(equals + 1)};
}

bool sameControl(model::ControlId a, model::ControlId b)
{
    return a.array == b.array && a.index == b.index;
}

std::string quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

std::optional<bool> truthValue(std::string_view text)
{
    if (text == "1" || util::equalsIgnoreCase(text, "true"))
        return true;
    if (text == "0" || util::equalsIgnoreCase(text, "false"))
        return false;
    return std::nullopt;
}

std::vector<std::string> commaSeparated(std::string_view text)
{
    std::vector<std::string> items;
    if (text.empty())
        return items;
    for (;;) {
        const std::size_t comma = text.find(',');
        items.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return items;
        text.remove_prefix(comma + 1);
    }
}

// The boxes whose text the model reads as a number through their handler.
bool takesNumber(model::ControlId id)
{
    using namespace model::ctl;
    return sameControl(id, FieldTesla) || sameControl(id, ProtonFrequency) || sameControl(id, CycleCountBox);
}

// What a change of the box sets off in the window.
void runHandler(Workbench& bench, model::ControlId id)
{
    using namespace model::ctl;
    if (sameControl(id, FieldTesla))
        onFieldTeslaEdited(bench);
    else if (sameControl(id, ProtonFrequency))
        onProtonFrequencyEdited(bench);
    else if (sameControl(id, DetectionChannel))
        onDetectionChannelChosen(bench);
    else if (sameControl(id, CycleCountBox))
        onCycleCountEdited(bench);
    else if (id.array == "Check1")
        onOptionClicked(bench, id.index);
    else if (id.array == "Check2")
        onShapeBoxClicked(bench.controls(), id.index);
}

// Pulse lengths, delays, shaped-pulse durations and the cycle count; gradients, offsets and
// powers may be negative.
bool mustNotBeNegative(int index)
{
    using namespace model::element;
    return index == kCycleCount || (index >= kFirstPulse && index <= kLastDelay) || isShapedPulse(index);
}

// What the value of a non-negative element counts, for the refusal message.
std::string_view unitOfElement(int index)
{
    using namespace model::element;
    if (index == kCycleCount)
        return "it is a count of cycles";
    if (index >= kFirstDelay && index <= kLastDelay)
        return "it is a delay in ms";
    return "it is a pulse length in us";
}

bool isChoice(std::string_view choices, std::string_view text)
{
    for (const std::string& choice : commaSeparated(choices))
        if (choice == text)
            return true;
    return false;
}

bool fitsKind(const ReadableControl& box, std::string_view text)
{
    if (box.kind == BoxKind::Choice)
        return isChoice(box.choices, text);
    if (box.kind == BoxKind::Switch)
        return truthValue(text).has_value();
    if (box.kind == BoxKind::Text)
        return true;
    const std::optional<double> value = util::parseNumber(text);
    if (!value || !std::isfinite(*value))
        return false;
    switch (box.kind) {
    case BoxKind::PowerOfTwo:
    case BoxKind::Whole: {
        if (*value != std::floor(*value) || *value < box.low || *value > box.high)
            return false;
        if (box.kind == BoxKind::Whole)
            return true;
        const auto whole = static_cast<long long>(*value);
        return (whole & (whole - 1)) == 0;
    }
    case BoxKind::Positive:
        return *value > 0.0 && *value <= box.high;
    case BoxKind::NonNegative:
        return *value >= 0.0 && *value <= box.high;
    default:
        return true;
    }
}

// The nuclei window's boxes: couplings to spins 0..9, the shift in ppm, T1 and T2 (the shift in
// Hz is shown only).
std::optional<model::SpinValue> spinValueOf(model::ControlId id)
{
    if (id.array != std::string_view("Text42") || id.index < 0 || id.index == kShiftHzBox || id.index > kT2Box)
        return std::nullopt;
    if (id.index < kShiftHzBox)
        return model::SpinValue::CouplingHz;
    return id.index == kShiftPpmBox ? model::SpinValue::ShiftPpm
           : id.index == kT1Box     ? model::SpinValue::T1Ms
                                    : model::SpinValue::T2Ms;
}

const char* spinValueName(model::SpinValue kind)
{
    switch (kind) {
    case model::SpinValue::ShiftPpm:
        return "the chemical shift";
    case model::SpinValue::T1Ms:
        return "T1";
    case model::SpinValue::T2Ms:
        return "T2";
    case model::SpinValue::CouplingHz:
        break;
    }
    return "the J coupling";
}

}  // namespace

bool isCheckedBox(model::ControlId id)
{
    return readableControlOf(id) != nullptr || spinValueOf(id).has_value();
}

util::Outcome checkControlText(model::ControlId id, std::string_view text)
{
    if (const std::optional<model::SpinValue> kind = spinValueOf(id)) {
        const std::string name = std::string(spinValueName(*kind)) + " (" + model::Controls::nameOf(id) + ")";
        const std::optional<double> value = util::parseNumber(text);
        if (!value)
            return util::Outcome::failure(name + " takes a number, not " + quoted(text));
        if (const std::optional<std::string> problem = model::spinValueProblem(*kind, *value))
            return util::Outcome::failure(name + " " + *problem);
        return util::Outcome::success();
    }
    const ReadableControl* box = readableControlOf(id);
    if (!box || fitsKind(*box, text))
        return util::Outcome::success();
    return util::Outcome::failure(std::string(box->name) + " (" + model::Controls::nameOf(id) + ") takes " +
                                  std::string(box->accepted) + ", not " + quoted(std::string_view(text)));
}

util::Outcome checkElementValue(const model::ElementTable& elements, int index, double value)
{
    const std::string text = util::formatGeneral(value);
    if (!std::isfinite(value))
        return util::Outcome::failure("the element " + elements.name(index) + " takes a number, not " +
                                      quoted(std::string_view(text)));
    if (value < 0.0 && mustNotBeNegative(index))
        return util::Outcome::failure("the element " + elements.name(index) + " cannot be negative (" +
                                      quoted(std::string_view(text)) + "): " + std::string(unitOfElement(index)));
    return util::Outcome::success();
}

util::Outcome applyControlOverride(Workbench& bench, std::string_view assignment)
{
    const std::optional<Assignment> parts = splitAssignment(assignment);
    if (!parts)
        return util::Outcome::failure("cannot read the control assignment " + quoted(assignment) +
                                      ": expected NAME(INDEX)=TEXT or NAME=TEXT");
    model::Controls& controls = bench.controls();
    const std::optional<model::ControlId> id = controlByName(controls, parts->name);
    if (!id)
        return util::Outcome::failure(unknownControlMessage(parts->name));
    const std::string name = model::Controls::nameOf(*id);
    const std::string_view array = id->array;

    if (array.starts_with("Text") || array.starts_with("Combo")) {
        if (takesNumber(*id) && !util::isNumeric(parts->value))
            return util::Outcome::failure(name + " takes a number, not " + quoted(parts->value));
        if (const util::Outcome fits = checkControlText(*id, parts->value); !fits)
            return fits;
        controls.setText(*id, std::string(parts->value));
    } else if (array.starts_with("Check")) {
        const std::optional<bool> on = truthValue(parts->value);
        if (!on)
            return util::Outcome::failure(name + " takes 1, 0, true or false, not " + quoted(parts->value));
        controls.setChecked(*id, *on);
    } else if (array.starts_with("Label") || array.starts_with("Command")) {
        if (const util::Outcome fits = checkControlText(*id, parts->value); !fits)
            return fits;
        controls.setCaption(*id, std::string(parts->value));
    } else if (array.starts_with("List")) {
        controls.setItems(*id, commaSeparated(parts->value));
    } else {
        return util::Outcome::failure(name + " cannot be set by an assignment");
    }
    runHandler(bench, *id);
    return util::Outcome::success();
}

util::Outcome applyElementOverride(Workbench& bench, std::string_view assignment)
{
    const std::optional<Assignment> parts = splitAssignment(assignment);
    if (!parts)
        return util::Outcome::failure("cannot read the element assignment " + quoted(assignment) +
                                      ": expected NAME=VALUE");
    model::ElementTable& elements = bench.sequence().elements();
    // "dec" and "none" mark decoupling and an empty channel; they hold no value.
    const std::optional<int> index = elements.find(parts->name, 0, model::element::kDecoupling - 1);
    if (!index)
        return util::Outcome::failure("there is no element " + quoted(parts->name));
    const std::optional<double> value = util::parseNumber(parts->value);
    if (!value)
        return util::Outcome::failure("the element " + elements.name(*index) + " takes a number, not " +
                                      quoted(parts->value));
    if (const util::Outcome fits = checkElementValue(elements, *index, *value); !fits)
        return fits;
    elements.setValue(*index, *value);
    // The red cycle box shows the cycle count.
    if (*index == model::element::kCycleCount)
        bench.controls().setText(model::ctl::CycleCountBox, util::formatGeneral(*value));
    return util::Outcome::success();
}

}  // namespace velmora::workbench
