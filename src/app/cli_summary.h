// The short report velmora-cli prints after a completed run: the spins, the steps, the runs and
// scans, the elapsed time and the operators listed at the point step in the first and the last run;
// and the note after a stopped run, saying what its records hold.
#pragma once

#include <string>

namespace velmora::workbench {
class Workbench;
}

namespace velmora::app {

// Several lines, each ending in "\n". Reads the workbench's records of the last run.
std::string runSummary(const workbench::Workbench& bench);

// One line without "\n": the scan Stop ended and, run by run, over how many scans the kept records
// are averaged ("none" for runs never completed).
std::string stoppedRunNote(const workbench::Workbench& bench);

}  // namespace velmora::app
