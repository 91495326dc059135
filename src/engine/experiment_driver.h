// The experiment driver: propagates the spin system through the prepared sequence for every scan,
// every run of the arrayed parameter and every step, on every slice row, and records what is
// detected: the sampled signal of an acquisition inside the sequence, the coefficients of all
// operators at the point step, and the recorded operators after the receiver phase at the end.
//
// Runs after the first start at the first step that can differ from run 0 (the first step that uses
// the arrayed parameter, or an earlier one that carries a cycled phase f4..f9 or acquires), from the
// state run 0 had when it first got there, with the cycle-pass counter at 0 and what run 0's point
// step had recorded before that point: a resumed run equals the same run computed from step 0.
// Slice rows are created at the first gradient step and summed at the last; between
// those they are independent and evolve in parallel, with results identical to a serial run.
#pragma once

#include "engine/prepared_run.h"
#include "engine/recorded_operators.h"
#include "engine/run_records.h"
#include "engine/step_routine.h"
#include "model/pulse_sequence.h"
#include "model/spin_system.h"
#include "util/run_control.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace velmora::engine {

struct DriverInput {
    const model::PulseSequence& sequence;  // as prepared
    const model::SpinSystem& spins;        // rebuilt
    const PreparedRun& prepared;
    SampleRecord& signal;  // sampled by an acquisition step inside the sequence
    std::filesystem::path workingDirectory;
    util::RunControl& runControl;  // Stop clears its flag; yield after every step
    int threads = 1;               // workers for independent slice rows
    StepObserver* observer = nullptr;
    // Called after every completed run with the runs done so far and the total.
    std::function<void(int runsDone, int runs)> progress;
};

struct DriverResult {
    OperatorRecord operators;  // at the point step, averaged over the scans that completed each run
    RecordedOperators recorded;
    DetectionRecord detection;  // averaged over the scans that completed each run
    bool stopped = false;       // Stop ended the run early; later runs and scans were skipped
    int runsDone = 0;           // runs completed in the first scan
    // Per run: the scans that completed it. Its operator and detection records are averaged over
    // these (all scans unless Stop ended the run; 0 leaves the run's records at zero).
    std::vector<int> scansDone;
    // Strong coupling only: per run and slice row, the whole state at the acquisition after the
    // receiver phase (run r, slice s at (r (S + 1) + s) x 4^N, averaged over the scans that
    // completed it), which the exact acquisition turns into lines; empty on the weak path. The
    // slices are those of a gradient during the acquisition (S = acquisitionLastSlice, else 0).
    std::vector<double> acquisitionStates;
    int acquisitionLastSlice = 0;
};

// Where the driver's bookkeeping puts the markers of a sequence (kept apart for tests).
struct SequenceMarkers {
    int firstGradientStep = 255;  // 255: none
    int lastGradientStep = 255;
    int firstArrayedStep = 3333;  // 3333: no step uses the arrayed parameter
    int resumeStep = 0;           // where runs after the first start
};
SequenceMarkers findMarkers(const model::PulseSequence& sequence, const std::string& arrayedName);

// Throws on failures inside the run (the caller reports them); Stop is not a failure.
DriverResult runExperiment(const DriverInput& input);

}  // namespace velmora::engine
