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

struct ReadableControl {
    std::string_view name;  // the readable name, lower case
    model::ControlId id;
    std::string_view caption;
    std::string_view unit;      // empty for a count, a choice or a switch
    std::string_view accepted;  // what the box takes
};

// Every box that has a readable name, in the order the listing shows them.
std::span<const ReadableControl> readableControls();

// The control named `name` (without regard to case); none for a name that is no readable name.
std::optional<model::ControlId> controlByReadableName(std::string_view name);

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
