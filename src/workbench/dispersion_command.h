// "&Start" in exchange mode: the relaxation-dispersion experiment with the workbench's exchange
// settings and switches. Checks the settings, the size of the grid and the memory and disk it
// needs (a refusal writes nothing, not even "rem.psq"), saves "rem.psq", clears the result list,
// runs the grids on the workbench's threads, and after every grid fills the result list and
// rewrites the results file (working directory + Text9 + ".dat").
#pragma once

#include "exchange/dispersion_experiment.h"
#include "util/outcome.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace velmora::workbench {

class Workbench;

struct DispersionRunOptions {
    std::int64_t seed = 1;                 // the random streams derive from it
    int gridCount = exchange::kMostGrids;  // 1..1000
    std::string date;                      // of the results file; empty: today
};

enum class DispersionOutcome {
    Completed,  // every grid done
    Stopped,    // Stop (or a failure, see DispersionRun::failure) ended it; what was done is in the file
    Refused,    // the settings were refused (the message was shown): nothing run, nothing written
    Busy,       // a run is already in progress: nothing done
};

struct DispersionRun {
    DispersionOutcome outcome = DispersionOutcome::Refused;
    std::optional<exchange::PreparedDispersion> prepared;
    exchange::DispersionResults results;
    std::filesystem::path table;  // the results file
    std::string failure;          // why a run that started ended early other than by Stop
    // What the run leaves aside of the workbench's settings, said to the user with its results
    // (the strong-coupling switch); empty when nothing is.
    std::string note;
};

struct DispersionListeners {
    // After every batch of grid points (the window's progress).
    std::function<void(int grid, int pointsDone, int points)> points;
    // After every complete grid, once the list and the file are up to date.
    std::function<void(const exchange::PreparedDispersion&, const exchange::DispersionResults&)> grid;
};

DispersionRun runDispersionCommand(Workbench& bench, const DispersionRunOptions& options,
                                   const DispersionListeners& listeners = {});

// The exchange experiment follows one spin that jumps between two sites: it has no couplings, so
// the strong-coupling switch has nothing to act on. When the switch is on, this says so (the run goes
// ahead as always); none when it is off.
std::optional<std::string> strongCouplingNote(const Workbench& bench);

// The exchange settings and switches of the workbench, as Start in exchange mode takes them.
exchange::DispersionRequest dispersionRequest(const Workbench& bench);

// The results file, working directory + Text9 + ".dat". Text9 may come from a sequence file, so
// only a bare file name is taken; otherwise the failure says why and nothing may be written.
util::Outcome dispersionTableName(const Workbench& bench);
std::filesystem::path dispersionTablePath(const Workbench& bench);

// Today's date as "YYYY-MM-DD".
std::string todayText();

}  // namespace velmora::workbench
