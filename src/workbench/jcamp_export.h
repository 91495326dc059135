// The results of the last run as JCAMP-DX files: for a 1D run one spectrum file and one FID file
// per run ("spectrum_run<r>.jdx", "fid_run<r>.jdx"; when there are several runs the last slot holds
// the sum of all runs and is written as "spectrum_sum.jdx" and "fid_sum.jdx"), for a 2D run the
// map ("map2d.jdx"). Spectra are the phased display points that "spectra.tsv" holds, on a Hz axis;
// FIDs are the windowed time-domain records, on a seconds axis.
#pragma once

#include "processing/jcamp_writer.h"
#include "util/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::workbench {

class Workbench;

// The detected nucleus and its observe frequency (proton frequency x gamma ratio of the channel).
processing::JcampObserve jcampObserve(const Workbench& bench);

// Writes the files into `directory` and lists their names in `written`. Fails, naming the file,
// when a file cannot be written, and with "There are no spectra to export." when the last run
// left none.
util::Outcome writeJcampFiles(const Workbench& bench, const std::filesystem::path& directory,
                              std::vector<std::string>* written = nullptr);

}  // namespace velmora::workbench
