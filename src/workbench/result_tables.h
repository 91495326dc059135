// Tables of a run's spectra for other programs: "spectra.tsv" (the display points of every run) and,
// for a 2D run, "map2d.tsv" (the map with its frequency axes). Both tab separated, CR LF.
#pragma once

#include "processing/display_arrays.h"
#include "util/outcome.h"

#include <filesystem>

namespace velmora::workbench {

class Workbench;

// The spectra of the last run as the spectrum view shows them ("signalspec", phased with the phase
// bars' values); empty when no spectra were computed.
processing::DisplayArrays spectrumDisplay(const Workbench& bench);

// "spectra.tsv": a "#" header line, then one row per display point i = 1..np: the frequency
// (np/2 + 1 - i) sw / np in Hz, then real, imaginary and magnitude of every run.
util::Outcome writeSpectraTable(const Workbench& bench, const std::filesystem::path& path);

// "map2d.tsv": the first row holds "f1\f2" and the direct frequencies, every further row an indirect
// frequency (from the indirect spectral width Text14(13), growing with the row: see
// indirectFrequencyHz) and the map's row.
util::Outcome writeMapTable(const Workbench& bench, const std::filesystem::path& path);

}  // namespace velmora::workbench
