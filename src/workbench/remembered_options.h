// The run options that belong to neither the molecule nor the sequence file, remembered beside the
// automatic copies in "rem.options" so that the next start-up in the working directory takes them
// up again: today the strong-coupling switch. One line per option, "name,value," with CR LF ends;
// an unknown or malformed line is left out, so a newer file reads in an older program.
#pragma once

#include "util/outcome.h"

#include <filesystem>

namespace velmora::workbench {

class Workbench;

inline constexpr const char* kRememberedOptions = "rem.options";

util::Outcome saveRememberedOptions(const Workbench& bench, const std::filesystem::path& path);
// Sets the options the file names; a missing file changes nothing.
void readRememberedOptions(Workbench& bench, const std::filesystem::path& path);

// A sequence may carry the same options in a side file of its own name, "NAME.options" beside
// "NAME.psq" (an example that needs the strong-coupling switch does): opening the sequence takes
// them up, and saving it writes them when the switch is on or the side file is already there.
std::filesystem::path optionsBeside(const std::filesystem::path& sequenceFile);

}  // namespace velmora::workbench
