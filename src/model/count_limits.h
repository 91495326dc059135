// The largest counts a sequence file, a box or an array file may ask a run for. Each keeps a run
// that can finish on a desktop, and keeps every counter of the engine inside a 32-bit integer:
// scans x runs x cycle passes stay countable, and the largest run index (Ni + 1) x 2 - 1 fits.
#pragma once

#include "util/number_format.h"

#include <cmath>
#include <optional>
#include <string>

namespace velmora::model {

// Repetitions of the cycled block ("Ncycle", element 0, the red cycle box).
inline constexpr double kMostCycles = 100000.0;
// Scans per run ("Ncycles X ND", Text14(1)).
inline constexpr int kMostScans = 1024;
// Arrayed values - 1 ("Ni", Text14(11)); a Start_2D makes twice as many runs.
inline constexpr int kMostArraySize = 1000000;
// Rows of an array file (each row is one arrayed value): what the numeric reader's buffer holds.
inline constexpr int kMostArrayFileRows = 200000;

// Why a cycle count cannot be run, or none when it can: it must be a finite number no larger than
// kMostCycles (a count of 0 or below runs the block once).
inline std::optional<std::string> cycleCountProblem(double count)
{
    if (!std::isfinite(count))
        return std::string("the cycle count is not a finite number");
    if (count > kMostCycles)
        return "the cycle count " + util::formatGeneral(count) + " is larger than " +
               util::formatGeneral(kMostCycles) + ", the most a run repeats its cycled block";
    return std::nullopt;
}

}  // namespace velmora::model
