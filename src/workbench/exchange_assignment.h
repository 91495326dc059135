// The exchange experiment's values by the names the window's exchange rows show (Tp, tcp, kex,
// ch_shift, Ni, Array, ...), for velmora-cli exchange's --set and the Python module.
#pragma once

#include "util/outcome.h"

#include <string>

namespace velmora::workbench {

class Workbench;

// Applies "NAME=VALUE": an exchange value (numbers must be finite; Ni and Ni2 whole numbers from 0),
// or, for any other name, the box of the control registry ("Label3(14)=Mult", "Check1(7)=1",
// "Text9=cpmg") through its handler. A refusal names the value and changes nothing.
util::Outcome assignExchangeValue(Workbench& bench, const std::string& assignment);

}  // namespace velmora::workbench
