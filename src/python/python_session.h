// One Python session of the simulator: a Workbench on a working directory, with its messages kept
// instead of shown, and the guard that keeps the model still while a run (released from the
// Python interpreter's lock) works on it. Every call that is refused gives its reason as a
// SessionError carrying the program's message; nothing is printed.
#pragma once

#include "processing/autophase.h"
#include "util/messages.h"
#include "workbench/workbench.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::python {

// A refusal or failure, with the message the program shows for it.
class SessionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A run was stopped before its end; the runs done are recorded.
class RunStopped : public SessionError {
public:
    using SessionError::SessionError;
};
// Another call while a run is in progress.
class SessionBusy : public SessionError {
public:
    using SessionError::SessionError;
};

class PythonSession {
public:
    // Opens `workingDirectory` as the window does at start-up (the settings file is not touched).
    explicit PythonSession(const std::filesystem::path& workingDirectory);

    const std::string& workingDirectory() const { return bench_.workingDirectory(); }

    // A bare file name is a file of the working directory; an absolute path names any file. A
    // relative path with a folder is refused. Save adds the extension when it is missing.
    void openMolecule(const std::filesystem::path& name);
    void openSequence(const std::filesystem::path& name);
    void saveMolecule(const std::filesystem::path& name);
    void saveSequence(const std::filesystem::path& name);
    // A spin system or sequence built in code, taken in as its file would be read.
    void setSpinSystem(const std::vector<std::string>& moleculeLines);
    void setSequence(const std::vector<std::string>& sequenceLines);

    // A box by its readable name ("np", "sw", ...) or control name ("Text14(12)") and the text,
    // caption, value or items the assignment gives, as --set takes them, checked by the box's
    // range first. "phase0" and "phase1" set the phase in degrees (the bars autophase moves).
    void setControl(const std::string& name, const std::string& text);
    // The zero-order and first-order phase in degrees: 10 x lp, and rp x np / 10 across the spectrum.
    double phaseDegrees(bool firstOrder) const;
    // The text of a text or combo box, the caption of a label or button, "1"/"0" of a check box,
    // by readable or control name; `id` receives the box.
    std::string control(const std::string& name, model::ControlId* id = nullptr) const;
    void setElement(const std::string& name, double value);
    // Phases the last 1D run's spectra automatically, as the window's autophase button and
    // velmora-cli --autophase do: sets the phase bars rp and lp and returns what it set. Throws
    // SessionError when there is no 1D spectrum to phase.
    processing::PhaseSetting autophase();
    double element(const std::string& name) const;

    // A run in two halves, so that the caller claims the session while it holds the interpreter's
    // lock and runs without it: claimRun() throws SessionBusy when a run is in progress;
    // runClaimed() runs Start (twoD false) or Start_2D and releases the claim however it ends.
    // `progress` hears (runs done, runs) after every run, on the thread that runs; `phases` hears
    // the phase ("runs", "spectra", "writing") and the fraction of the whole run, also from the
    // threads that write. `outputs` chooses the result files (OutputChoice::nothing() with
    // `writeFiles` false keeps the results in memory only: the result set on disk is left as it
    // is). `call` is the Python call, for the manifest. Throws SessionError when the sequence is
    // refused or the run fails, RunStopped when stop() ended it.
    using Progress = std::function<void(int runsDone, int runs)>;
    struct RunChoice {
        Progress progress;
        workbench::Workbench::PhaseListener phases;
        bool writeFiles = true;
        // A list given: these outputs, spectra.tsv and map2d.tsv among them when named.
        std::optional<workbench::OutputChoice> outputs;
        std::string call;
    };
    void claimRun();
    void runClaimed(bool twoD, const RunChoice& choice);
    // Ends a run in progress, from any thread; nothing when no run is in progress. A stop made
    // once run() has claimed the session is never lost, even before the run has started.
    void stop() { bench_.runControl().stop(); }
    bool running() const { return busy_.load(); }

    // Throws SessionBusy while a run is in progress; otherwise the bench, unchanged.
    const workbench::Workbench& idleBench() const;
    workbench::Workbench& idleBench();

    // The messages shown since the last call (warnings of runs and reads that went through).
    std::vector<std::string> takeMessages();

private:
    std::string messagesSince(std::size_t first) const;
    void checkRead(bool read, std::size_t first, const std::string& what);

    util::RecordedMessages messages_;
    // Every set() and set_element() of the session, as "name=value", for the manifest.
    std::vector<std::string> overrides_;
    workbench::Workbench bench_;
    // Set for the whole of run(). Callers hold the interpreter's lock except inside the run, so a
    // call that finds it clear cannot overlap a run.
    std::atomic<bool> busy_{false};
};

}  // namespace velmora::python
