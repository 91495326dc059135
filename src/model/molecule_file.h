// Molecule files (".mol"): the spin system as comma-terminated text with CR LF line ends.
//   1  N, 14, N          2, 3  labels (twice)      4  shifts in ppm
//   5  all J(i, j) in Hz, i outer, j inner       6  T1 in ms   7  T2 in ms   8..10  "spare,"
// Numbers are read at single precision; the field is not stored.
#pragma once

#include "model/file_read_result.h"
#include "model/spin_system.h"
#include "util/outcome.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

namespace velmora::model {

// The lines of the file for the current spins 0..N-1 (without line ends).
std::vector<std::string> moleculeLines(const SpinSystem& system);
// Creates or replaces the file with the current spins 0..N-1. Writes the whole file or nothing.
util::Outcome writeMolecule(const std::filesystem::path& path, const SpinSystem& system);

// Replaces labels, shifts, couplings and relaxation times from the file and rebuilds the spin
// system. A missing file changes nothing; a malformed one is refused and changes nothing.
// Slots beyond the file's N keep their shifts and relaxation times, lose label and couplings.
FileReadResult readMolecule(const std::filesystem::path& path, SpinSystem& system);
// The same from the file's lines (line ends removed); `source` names them in a refusal.
FileReadResult readMoleculeLines(std::vector<std::string> lines, const std::string& source, SpinSystem& system);

// The reader's checks, shared with spin systems built in code: the refusal for a spin count, and
// the one for a value beyond single precision (the reader's message ends with it).
std::optional<std::string> spinCountProblem(int count);
inline constexpr std::string_view kValueTooLarge = "the value is too large";

}  // namespace velmora::model
