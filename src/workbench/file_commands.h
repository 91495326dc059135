// Opening and saving molecules and sequences in the working directory, and the file frame's
// pick/open/save commands. Failures are shown through the workbench's messages with the title
// "Error!"; a refused file leaves the model exactly as it was.
#pragma once

#include "model/file_read_result.h"

#include <string_view>

namespace velmora::workbench {

class Workbench;

// Reads working directory + name into the spin system (rebuilt afterwards). Missing: silent.
model::FileReadResult openMolecule(Workbench& bench, std::string_view fileName);
// Reads working directory + name into the sequence, its boxes and the exchange settings; then the
// stored boxes go through their handlers and the preparation-only run follows. Missing: silent.
model::FileReadResult openSequence(Workbench& bench, std::string_view fileName);
bool saveMolecule(Workbench& bench, std::string_view fileName);
bool saveSequence(Workbench& bench, std::string_view fileName);

// The file frame: list 0 holds molecules ("*.mol"), list 1 sequences ("*.psq"); the name boxes
// Text11(0) and Text11(1) hold the chosen names.
enum class FileList { Molecules = 0, Sequences = 1 };
inline constexpr std::string_view kUnknownFileMessage = "The input file is unknown!";

// A click on an entry: a name without "." is refused with kUnknownFileMessage, others fill the box.
bool pickFile(Workbench& bench, FileList list, std::string_view entry);
// A double click: opens the name in the box (kUnknownFileMessage when the box is empty).
bool openPickedFile(Workbench& bench, FileList list);
// The "Go" button: saves under the name in the box, replacing an existing file.
bool savePickedFile(Workbench& bench, FileList list);

}  // namespace velmora::workbench
