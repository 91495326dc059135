// The vector-evolution map of signals sampled during a pulse: one row per run, the magnitude
// spectrum of the run's record along the row, so that the way the spectrum changes from run to run
// (an arrayed delay, power or offset) reads as one picture in the 2D map's drawing.
#pragma once

#include "engine/run_records.h"
#include "processing/map_2d.h"
#include "util/messages.h"

#include <optional>

namespace velmora::processing {

// Builds the map from components 1 and 2 (real, imaginary) of points 1..np of runs 0..lastRun of
// `record`, which is only read. Each run's row is the modulus of its forward transform (`Fourier`,
// scaled by 1 / np) with the zero frequency moved to column np/2, as the "swift" transform of the
// chain places it, so a line at +f Hz lies f / (sw / np) columns left of the centre. The map is
// np x np, as the map drawing expects, and the runs share its rows in order: map row q shows run
// floor(q (lastRun + 1) / np), a band of about np / (lastRun + 1) equal rows per run (with more
// runs than rows, only the run that starts each row is shown). The extremes follow the 2D map's
// rule (they start from -1e6 and +1e6 and see every stored value). None, after a message, when np
// is not a transform length or the record is shorter.
std::optional<Map2D> buildVectorEvolutionMap(const engine::SampleRecord& record, int pointCount, int lastRun,
                                             util::Messages& messages);

}  // namespace velmora::processing
