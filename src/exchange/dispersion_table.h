// The results of the relaxation-dispersion experiment as text: the result list (a header and one
// item per grid point) and the results file, whose first lines also carry the experiment's
// parameters.
#pragma once

#include "exchange/dispersion_experiment.h"
#include "util/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::exchange {

// "<first>\t<second>\tRex\tX\tX0\terr%\tRab\tRba\tPa\tKex_cal\tR2eff\tR2eff_rep\tR2eff_se\tKex_cal_se"
std::string resultListHeader(const PreparedDispersion& prepared);

// The word in place of Rex, R2eff and R2eff_se at a point whose ensemble signal is lost.
inline constexpr const char* kLostSignal = "lost";

// One item per grid point, its fields in the order of the header (Kex_cal and Kex_cal_se empty
// without a fit; every measured field empty at a point that has no histories yet).
std::vector<std::string> resultListItems(const DispersionResults& results);

// The 15 parameter entries: a name padded with "_" so that name and value fill 15 characters;
// "array" for a quantity swept over two values or more. `date` closes the list.
std::vector<std::string> parameterEntries(const PreparedDispersion& prepared, int experimentNumber,
                                          const std::string& date);

// The results file: "Parameters" and the header, then one line per grid point, the first 15 of
// them led by a parameter entry and a tab, the later ones by a tab. When the grid has fewer than
// 15 points the remaining entries follow on lines of their own, so the parameters are always
// complete. Written whole or not at all.
util::Outcome writeDispersionTable(const std::filesystem::path& path, const PreparedDispersion& prepared,
                                   const DispersionResults& results, const std::string& date);

}  // namespace velmora::exchange
