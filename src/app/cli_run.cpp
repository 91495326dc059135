#include "app/cli_run.h"

#include "app/cli_messages.h"
#include "app/cli_start_up.h"
#include "app/cli_summary.h"
#ifdef VELMORA_HAVE_RENDER
#include "app/cli_plots.h"
#include "render/vector_evolution_frames.h"
#endif
#include "model/workspace.h"
#include "util/messages.h"
#include "util/text_file.h"
#include "workbench/automatic_phase.h"
#include "workbench/control_override.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/jcamp_export.h"
#include "workbench/result_tables.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <unistd.h>

namespace velmora::app {

namespace {

// Ctrl-C and SIGTERM stop the run as Stop does. The handler only changes lock-free atomics.
std::atomic<util::RunControl*> interruptedRun{nullptr};
volatile std::sig_atomic_t interrupted = 0;
static_assert(std::atomic<util::RunControl*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int)
{
    interrupted = 1;
    if (util::RunControl* control = interruptedRun.load())
        control->stop();
}

// Installs the Ctrl-C and SIGTERM handler for the lifetime of a run; a second signal of the same
// kind ends the program.
class InterruptScope {
public:
    explicit InterruptScope(util::RunControl& control)
    {
        interruptedRun.store(&control);
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~InterruptScope()
    {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
        interruptedRun.store(nullptr);
    }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

// "runs 12.5 %" (the phase and how far the whole run has come) on stderr, rewritten in place,
// once the run has taken more than a second and only when stderr is a terminal. The writing
// phase reports from the threads that write, so every change takes the lock.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) == 1) {}

    void update(std::string_view phase, double fraction)
    {
        if (!enabled_ || std::chrono::steady_clock::now() - started_ < std::chrono::seconds(1))
            return;
        char percent[16];
        std::snprintf(percent, sizeof percent, " %.1f %%", 100.0 * fraction);
        const std::string text = std::string(phase) + percent;
        const std::lock_guard lock(mutex_);
        if (text == shown_)
            return;
        std::cerr << '\r' << text
                  << std::string(shown_.size() > text.size() ? shown_.size() - text.size() : 0, ' ')
                  << std::flush;
        shown_ = text;
    }

    // Clears the line so that what follows starts at the left margin.
    void end()
    {
        const std::lock_guard lock(mutex_);
        if (!shown_.empty())
            std::cerr << '\r' << std::string(shown_.size(), ' ') << '\r' << std::flush;
        shown_.clear();
    }

private:
    bool enabled_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    std::string shown_;
};

// Why a path named on the command line is not a file to read: what it is instead, or empty when
// it is a regular file (after following symbolic links).
std::string notARegularFile(const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    switch (status.type()) {
    case fs::file_type::regular:
        return {};
    case fs::file_type::directory:
        return "it is a directory, not a file";
    case fs::file_type::fifo:
        return "it is a named pipe (FIFO), not a file";
    case fs::file_type::character:
    case fs::file_type::block:
        return "it is a device, not a file";
    case fs::file_type::socket:
        return "it is a socket, not a file";
    case fs::file_type::not_found:
        return fs::is_symlink(fs::symlink_status(path, ec)) ? "it is a symbolic link to nothing"
                                                            : "the file does not exist";
    default:
        return ec ? ec.message() : std::string("it is not a regular file");
    }
}

// A file named on the command line must be there and be read; missing is an error here. Only a
// regular file is opened, so a FIFO never blocks the program and a device is never read.
bool readNamedFile(workbench::Workbench& bench, const std::string& name,
                   model::FileReadResult (*open)(workbench::Workbench&, std::string_view))
{
    if (const std::string why = notARegularFile(bench.pathOf(name)); !why.empty()) {
        bench.messages().show("cannot read " + bench.pathOf(name).string() + ": " + why, "Error!");
        return false;
    }
    if (!open(bench, name).wasRead())
        return false;
    // The manifest names the files the user opened.
    workbench::markDocumentSaved(bench,
                                 open == workbench::openMolecule ? workbench::FileList::Molecules
                                                                 : workbench::FileList::Sequences,
                                 name);
    return true;
}

}  // namespace

// "spectra.tsv" and, for a 2D run, "map2d.tsv" in `directory`, those of them `outputs` asks for.
// False when one could not be written (its message was shown).
bool writeResultTables(const workbench::Workbench& bench, const std::filesystem::path& directory,
                       util::Messages& messages, const workbench::OutputChoice& outputs = {})
{
    if (!bench.records().spectraComputed)
        return true;
    const util::Outcome spectra = outputs.spectra
                                      ? workbench::writeSpectraTable(bench, directory / "spectra.tsv")
                                      : util::Outcome::success();
    if (!spectra) {
        messages.show(spectra.message(), "Error!");
        return false;
    }
    const util::Outcome map = bench.records().map && outputs.map
                                  ? workbench::writeMapTable(bench, directory / "map2d.tsv")
                                  : util::Outcome::success();
    if (!map)
        messages.show(map.message(), "Error!");
    return bool(map);
}

int runCommand(const CliOptions& options)
{
#ifndef VELMORA_HAVE_RENDER
    if (options.png)
        return usageError("--png: this build has no drawing (it was built without Qt)");
#endif
    StderrMessages messages;
    const CommandBench started = startCommandBench(options.workingDirectory, messages);
    if (!started.bench)
        return started.exitCode;
    workbench::Workbench& bench = *started.bench;
#ifdef VELMORA_HAVE_RENDER
    // "plot vector evolution": the frames are written without the window's pause between them.
    render::VectorEvolutionFrames vectorFrames(messages, bench.runControl());
    bench.setVectorEvolutionView(&vectorFrames);
#endif
    if (options.threads > 0)
        bench.setThreads(options.threads);
    workbench::OutputChoice outputs;
    if (options.outputs) {
        std::string wrong;
        const std::optional<workbench::OutputChoice> chosen =
            workbench::parseOutputChoice(*options.outputs, wrong);
        if (!chosen)
            return usageError("--outputs: " + wrong);
        outputs = *chosen;
    }
    // --png and --jcamp add their files to whatever the list holds.
    outputs.pictures = options.png;
    outputs.jcamp = options.jcamp;
    // The window compiles a sequence as soon as it is read, to show what it would refuse. Here the
    // run compiles it anyway, after the --set changes: a refusal they mend is never shown, and one
    // they leave is shown once.
    bench.setPreparationOnlyRun({});

    if (!options.moleculeFile.empty() && !readNamedFile(bench, options.moleculeFile, workbench::openMolecule))
        return kExitRunFailed;
    if (!options.sequenceFile.empty() && !readNamedFile(bench, options.sequenceFile, workbench::openSequence))
        return kExitRunFailed;

    // The pictures show the spectra unless a --set chooses otherwise: a 1D run keeps them in the
    // "spec" view, a Start_2D its direct-dimension spectra in the "fid" view.
    bench.controls().setCaption(model::ctl::SpectrumOrFid, options.twoD ? "fid" : "spec");
    for (const Override& change : options.overrides) {
        const util::Outcome applied = change.target == Override::Target::Control
                                          ? workbench::applyControlOverride(bench, change.assignment)
                                          : workbench::applyElementOverride(bench, change.assignment);
        if (!applied)
            return usageError(applied.message());
    }

    ProgressLine progress(!options.quiet);
    messages.setBeforeEachMessage([&progress] { progress.end(); });
    bench.setPhaseListener(
        [&progress](std::string_view phase, double fraction) { progress.update(phase, fraction); });
    util::RunControl& control = bench.runControl();
    // A Ctrl-C between the start of the program and the claim of the running flag is seen here.
    control.setYield([&control] {
        if (interrupted != 0)
            control.stop();
    });

    // The tables and plots of a completed run join its result set before the set moves in.
    bool plotsWritten = true;
    const auto writeTablesAndPlots = [&](workbench::StartOutcome ended,
                                         const std::filesystem::path& staging) {
        if (ended != workbench::StartOutcome::Completed)
            return;
        if (options.autophase) {
            if (const util::Outcome phased = workbench::phaseAutomatically(bench); !phased)
                messages.show(phased.message(), "Error!");
        }
        // A table that could not be written fails the run through the file layer's watch.
        if (!writeResultTables(bench, staging, messages, outputs))
            return;
        if (options.jcamp) {
            if (const util::Outcome exported = workbench::writeJcampFiles(bench, staging); !exported) {
                messages.show(exported.message(), "Error!");
                plotsWritten = false;
            }
        }
#ifdef VELMORA_HAVE_RENDER
        if (options.png) {
            if (const util::Outcome plots = writePlotPngs(bench, staging, options.pngScale); !plots) {
                messages.show(plots.message(), "Error!");
                plotsWritten = false;
            }
        }
#endif
    };
    workbench::RunRequestNote note{std::string(kProgram) + " " + VELMORA_VERSION, options.commandLine, {}};
    for (const Override& change : options.overrides)
        note.overrides.push_back((change.target == Override::Target::Control ? "--set " : "--element ") +
                                 change.assignment);
    workbench::StartOutcome outcome = workbench::StartOutcome::Stopped;
    {
        // The run is accepted once the flag is claimed: a signal from here on stops it.
        const bool claimed = control.claim();
        const InterruptScope scope(control);
        if (claimed && interrupted == 0)
            outcome = workbench::startExperiment(bench, options.twoD, writeTablesAndPlots, outputs, note);
        else
            control.release();
    }
    progress.end();
    messages.setBeforeEachMessage({});
    bench.setPhaseListener({});

    switch (outcome) {
    case workbench::StartOutcome::Completed: {
        if (!options.quiet)
            std::cout << runSummary(bench) << std::flush;
        return plotsWritten ? kExitSuccess : kExitRunFailed;
    }
    case workbench::StartOutcome::Stopped:
        if (bench.records().driver.stopped)
            messages.show(stoppedRunNote(bench), kProgram);
        if (!bench.records().ended.empty())
            messages.show("ended " + bench.records().ended, kProgram);
        return kExitRunFailed;
    case workbench::StartOutcome::Refused:
        messages.show("the sequence was refused; nothing was run", kProgram);
        return kExitRunFailed;
    case workbench::StartOutcome::StepRefused:
        messages.show("the runs were done and their files kept, but a processing step refused; no spectra "
                      "were written (the reason is above and in run-manifest.txt)",
                      kProgram);
        return kExitRunFailed;
    case workbench::StartOutcome::Failed:
        messages.show(bench.records().ended.empty()
                          ? std::string("the run failed")
                          : "ended " + bench.records().ended + "; the previous result set is kept",
                      kProgram);
        return kExitRunFailed;
    case workbench::StartOutcome::Busy:
        break;
    }
    messages.show("a run is already in progress", kProgram);
    return kExitRunFailed;
}

}  // namespace velmora::app
