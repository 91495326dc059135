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

}  // namespace velmora::workbench
