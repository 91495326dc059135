// Sequence files (".psq", format version 14): the pulse sequence with its element table, the run,
// processing and relaxation settings of the main window's boxes, the phase-cycle table, the
// exchange-experiment parameters and the shaped-pulse generator's boxes, as comma-terminated text
// with CR LF line ends. Older versions are read by skipping what they lack; the section sizes of
// the header place the element values, so files written with other sizes read correctly.
#pragma once

#include "model/controls.h"
#include "model/exchange_settings.h"
#include "model/file_read_result.h"
#include "model/pulse_sequence.h"
#include "util/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::model {

inline constexpr int kSequenceFormatVersion = 14;

// What a sequence file stores, owned elsewhere.
struct SequenceDocument {
    PulseSequence& sequence;
    Controls& controls;
    ExchangeSettings& exchange;
};

// The lines of a version 14 file (without line ends), refused as writeSequence refuses.
util::Outcome composeSequence(const PulseSequence& sequence, const Controls& controls,
                              const ExchangeSettings& exchange, std::vector<std::string>& lines);
// Writes version 14. Refused (nothing written) when a stored text holds a comma or a line break,
// which the format cannot carry; the message names the control or element.
util::Outcome writeSequence(const std::filesystem::path& path, const PulseSequence& sequence,
                            const Controls& controls, const ExchangeSettings& exchange);

// Replaces the document from the file and sets the point step to S. A shaped element takes the
// stored name only when its shape file exists in `workingDirectory`. A missing file changes
// nothing; a malformed one is refused with a message naming the line and changes nothing.
FileReadResult readSequence(const std::filesystem::path& path, const std::filesystem::path& workingDirectory,
                            SequenceDocument document);
// The same from the file's lines (line ends removed); `source` names them in a refusal. An empty
// `workingDirectory` keeps every stored shaped-element name (a copy of a sequence held in memory).
FileReadResult readSequenceLines(std::vector<std::string> lines, const std::string& source,
                                 const std::filesystem::path& workingDirectory, SequenceDocument document);

}  // namespace velmora::model
