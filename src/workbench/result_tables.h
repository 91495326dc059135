// Tables of a run's spectra for other programs: "spectra.tsv" (the display points of every run) and,
// for a 2D run, "map2d.tsv" (the map with its frequency axes). Both tab separated, CR LF.
#pragma once

#include "processing/display_arrays.h"
#include "util/outcome.h"

#include <array>
#include <filesystem>
#include <optional>
#include <vector>

namespace velmora::workbench {

class Workbench;

// The spectra of the last run as the spectrum view shows them ("signalspec", phased with the phase
// bars' values); empty when no spectra were computed.
processing::DisplayArrays spectrumDisplay(const Workbench& bench);

// Every run's own spectrum as the spectrum view shows it (real, imaginary, magnitude), and for a
// one-dimensional run the sum that the display keeps in the last run's place: the sum of all runs
// when the acquisition was synthesized (the last run's own spectrum is that sum less the others);
// when the signal was sampled during a pulse and there are several runs, the object-profile
// weighted sum of the other runs, which replaced the last run's own record, so that run has no
// entry of its own.
struct SpectraColumns {
    std::vector<std::array<std::vector<double>, 3>> runs;
    std::optional<std::array<std::vector<double>, 3>> sum;
};
SpectraColumns spectraColumns(const Workbench& bench);

// The same for the windowed FIDs of a one-dimensional run (the time-domain record, points 1..np):
// every run's own FID and the last slot's sum. Empty when the record holds no FIDs (2D runs).
SpectraColumns fidColumns(const Workbench& bench);

// "spectra.tsv": a "#" header line, then one row per display point i = 1..np: the frequency
// (np/2 + 1 - i) sw / np in Hz, then real, imaginary and magnitude of every run's own spectrum
// ("run<r>_real", ...), and in 1D the sum of all runs last ("sum_real", "sum_imaginary",
// "sum_magnitude", the magnitude of the summed spectrum). A signal sampled in several runs has the
// profile-weighted sum in its last run's place, in 2D too: that run is the sum, not a run.
util::Outcome writeSpectraTable(const Workbench& bench, const std::filesystem::path& path);

// "map2d.tsv": the first row holds "f1\f2" and the direct frequencies, every further row an indirect
// frequency (from the indirect spectral width Text14(13), growing with the row: see
// indirectFrequencyHz) and the map's row.
util::Outcome writeMapTable(const Workbench& bench, const std::filesystem::path& path);

}  // namespace velmora::workbench
