// Readable names for the boxes a run reads, as the command line takes them ("np", "sw", "ni",
// "field-mhz", ...), beside the control names ("Text14(12)"), with each box's caption, unit and
// accepted values for the listing of "velmora-cli controls". Also the element table's units, for
// "velmora-cli elements".
#pragma once

#include "model/controls.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmora::model {
class ElementTable;
}

namespace velmora::workbench {

// What a box takes, checked when a value is set (checkControlText in control_override.h).
enum class BoxKind {
    PowerOfTwo,   // a whole power of two within [low, high]
    Whole,        // a whole number within [low, high]
    Positive,     // a number above 0 (and at most high)
    NonNegative,  // a number, 0 or more (and at most high)
    Number,       // any finite number
    Choice,       // one of `choices` (exactly as written)
    Text,         // any text: the box's handler reads it (the detection box takes others as H1)
    Switch,       // 1, 0, true or false
};

struct ReadableControl {
    std::string_view name;  // the readable name, lower case
    model::ControlId id;
    std::string_view caption;
    std::string_view unit;      // empty for a count, a choice or a switch
    std::string_view accepted;  // what the box takes, as the listing and the refusals say it
    BoxKind kind = BoxKind::Number;
    double low = 0.0;  // the bounds of PowerOfTwo and Whole, the upper bound of the others
    double high = 1e300;
    std::string_view choices = {};  // a Choice box's values, separated by commas
};

// Every box that has a readable name, in the order the listing shows them.
std::span<const ReadableControl> readableControls();

// The control named `name` (without regard to case); none for a name that is no readable name.
std::optional<model::ControlId> controlByReadableName(std::string_view name);
// A box by its readable name or by its control name ("np" or "Text14(12)"); none for neither.
std::optional<model::ControlId> controlByName(const model::Controls& controls, std::string_view name);
// What a command line, a Python call or a window says of a name that names no box.
std::string unknownControlMessage(std::string_view name);
// The row of the box `id`, whichever name it was set by; none for a box without a readable name.
const ReadableControl* readableControlOf(model::ControlId id);

// The listing of "velmora-cli controls": one line per box with its readable name, control name,
// caption, unit, current text (or value for a switch) and accepted values, tab separated, after a
// header line.
std::string controlListing(const model::Controls& controls);

// The unit of element `index` of the element table ("us", "ms", "Hz", "dB", ...).
std::string_view elementUnit(int index);

// The listing of "velmora-cli elements": one line per element that holds a value, with its name,
// value and unit, tab separated, after a header line.
std::string elementListing(const model::ElementTable& elements);

}  // namespace velmora::workbench
