// Setting a control or an element by a textual assignment, as the command line does before a run:
// "Text14(3)=400", "Check1(4)=1", "List5=0213,01,0,0,0,0", "d1=2.5". A control changes the way the
// window would change it: the field the control kind shows is written, then the control's own
// handler runs, so the model and the box agree afterwards.
#pragma once

#include "model/controls.h"
#include "util/outcome.h"

#include <string_view>

namespace velmora::model {
class ElementTable;
}

namespace velmora::workbench {

class Workbench;

// The one check of a value typed or set into a box, for the window, the command line and the Python
// module alike: the box's kind and range come from the table that "velmora-cli controls" lists
// (control_names.h). Refuses, with the box's readable name and what it accepts, a text the box
// cannot hold ("np (Text14(12)) takes a power of two, 2 to 65536, not \"abc\""). The nuclei
// window's boxes take the values a spin may have (spin_value_ranges.h); another box without a
// readable name takes any text.
util::Outcome checkControlText(model::ControlId id, std::string_view text);
// Whether checkControlText has anything to check for the box.
bool isCheckedBox(model::ControlId id);

// "NAME(INDEX)=TEXT" or "NAME=TEXT" (index 0). Text and combo boxes take TEXT as their text; check
// boxes take "1", "0", "true" or "false" as their value; labels and buttons take TEXT as their
// caption; lists take their items from TEXT split at commas. Refuses, changing nothing, a
// malformed assignment, an unknown control, a control kind that cannot be set this way, a check
// value that is no truth value, a text that is no number for the field, MHz and cycle boxes, and
// a text that checkControlText refuses.
util::Outcome applyControlOverride(Workbench& bench, std::string_view assignment);

// "NAME=VALUE": the element named NAME (without regard to case) of the element table takes the
// number VALUE in the element's own unit (microseconds for pulses, milliseconds for delays, ...).
// Refuses, changing nothing, a malformed assignment, an unknown element, a value that is no number
// and a negative pulse length, delay or cycle count (the message names the element).
util::Outcome applyElementOverride(Workbench& bench, std::string_view assignment);

// The check of applyElementOverride for a value of element `index` of `elements`: refuses a
// negative pulse length, delay or cycle count and a value that is not finite.
util::Outcome checkElementValue(const model::ElementTable& elements, int index, double value);

}  // namespace velmora::workbench
