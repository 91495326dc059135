// Opening and saving molecules and sequences in the working directory, and the file frame's
// pick/open/save commands. Failures are shown through the workbench's messages with the title
// "Error!"; a refused file leaves the model exactly as it was.
#pragma once

#include "model/file_read_result.h"
#include "workbench/open_documents.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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
inline constexpr std::string_view kUnknownFileMessage = "The input file is unknown!";

// A click on an entry: a name without "." is refused with kUnknownFileMessage, others fill the box.
bool pickFile(Workbench& bench, FileList list, std::string_view entry);
// A double click: opens the name in the box (kUnknownFileMessage when the box is empty).
bool openPickedFile(Workbench& bench, FileList list);
// The "Go" button: saves under the name in the box (see savedFileName), replacing an existing file.
bool savePickedFile(Workbench& bench, FileList list);

// The name a molecule or a sequence is saved under, from the name a user typed: ".mol" or ".psq"
// is added unless the name ends with it (in any case), so a molecule and a sequence saved under one
// typed name become two files that the Open lists show. Empty when refused, with the reason in
// `why`: no name, a folder in the name, or the other kind's extension (a molecule saved as "x.psq"
// would replace a sequence).
std::string savedFileName(std::string_view typed, FileList kind, std::string& why);
// Saves the molecule or the sequence under savedFileName(typed): the user's Save (the frame's Go
// button, the dialogs, the Python module). Afterwards the document carries that name, unedited.
bool saveDocument(Workbench& bench, FileList kind, std::string_view typed);

// The text a molecule or sequence file of the model would hold now (the sequence's is empty when
// it cannot be written).
std::vector<std::string> documentText(const Workbench& bench, FileList kind);
// Whether the model differs from what was last opened or saved as that document.
bool documentEdited(const Workbench& bench, FileList kind);
// Records the model as it is as the document `name` ("" for the automatic copies), unedited.
void markDocumentSaved(Workbench& bench, FileList kind, std::string name);
// Runs `change` (a run, a switch of mode), which may rewrite the stored form of the model without
// being an edit of the user's: a document unedited before stays unedited after.
void keepingUnedited(Workbench& bench, const std::function<void()>& change);

}  // namespace velmora::workbench
