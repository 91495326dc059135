// The work of a relaxation-dispersion grid before it runs: for every grid point the pulse
// elements, delays and expected jumps of its repetitions and the time they take on this machine,
// and the memory and disk the grid's results hold. A grid point that would run for more than ten
// minutes is refused before anything starts.
#pragma once

#include "exchange/dispersion_experiment.h"

#include <optional>
#include <string>

namespace velmora::exchange {

// The longest one grid point (its 10 repetitions) may take, seconds.
inline constexpr double kLongestPointSeconds = 600;

struct PointWork {
    HistoryWork history;  // one repetition
    double seconds = 0;   // all repetitions of one grid, on this machine
};

struct DispersionWork {
    int slowestPoint = 0;  // 0-based
    PointWork slowest;
    double memoryBytes = 0;  // results, lists and table lines held while the grid runs
    double tableBytes = 0;   // the results file
};

// The time of one grid point: its events counted from the train, each at its measured cost.
PointWork pointWork(const EchoTrain& train);

DispersionWork estimateDispersionWork(const PreparedDispersion& prepared);

// Why the grid cannot be run in reasonable time, naming the point, its estimate and what to
// lower; none when every point fits. Also refuses a train whose length is not a finite time.
std::optional<std::string> dispersionTimeProblem(const PreparedDispersion& prepared);

// "42 s", "12 minutes", "3.1 hours", "8.2 days", "2.4e+280 years".
std::string durationText(double seconds);

}  // namespace velmora::exchange
