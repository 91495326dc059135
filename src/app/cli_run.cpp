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
#include <string>
#include <system_error>
#include <unistd.h>

namespace velmora::app {

namespace {

// Ctrl-C stops the run as Stop does. The handler only stores to lock-free atomics.
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

// Installs the Ctrl-C handler for the lifetime of a run; a second Ctrl-C ends the program.
class InterruptScope {
public:
    explicit InterruptScope(util::RunControl& control)
    {
        interruptedRun.store(&control);
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptScope()
    {
        sigaction(SIGINT, &previous_, nullptr);
        interruptedRun.store(nullptr);
    }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    struct sigaction previous_ {};
};

// "runs done of total" on stderr, rewritten in place, once a run has taken more than a second and
// only when stderr is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) == 1) {}

    void update(int runsDone, int runs)
    {
        if (!enabled_ || std::chrono::steady_clock::now() - started_ < std::chrono::seconds(1))
            return;
        const std::string text = "run " + std::to_string(runsDone) + " of " + std::to_string(runs);
        std::cerr << '\r' << text << std::string(width_ > text.size() ? width_ - text.size() : 0, ' ')
                  << std::flush;
        width_ = text.size();
    }

    // Clears the line so that what follows starts at the left margin.
    void end()
    {
        if (width_ > 0)
            std::cerr << '\r' << std::string(width_, ' ') << '\r' << std::flush;
        width_ = 0;
    }

private:
    bool enabled_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::size_t width_ = 0;
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
    return open(bench, name).wasRead();
}

}  // namespace

// "spectra.tsv" and, for a 2D run, "map2d.tsv" in `directory`.
void writeResultTables(const workbench::Workbench& bench, const std::filesystem::path& directory,
                       util::Messages& messages)
{
    if (!bench.records().spectraComputed)
        return;
    for (const util::Outcome& written :
         {workbench::writeSpectraTable(bench, directory / "spectra.tsv"),
          bench.records().map ? workbench::writeMapTable(bench, directory / "map2d.tsv")
                              : util::Outcome::success()}) {
        if (!written)
            messages.show(written.message(), "Error!");
    }
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
    bench.setProgressListener([&progress](int runsDone, int runs) { progress.update(runsDone, runs); });
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
        writeResultTables(bench, staging, messages);
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
    workbench::StartOutcome outcome = workbench::StartOutcome::Stopped;
    {
        const InterruptScope scope(control);
        if (interrupted == 0)
            outcome = workbench::startExperiment(bench, options.twoD, writeTablesAndPlots);
    }
    progress.end();
    messages.setBeforeEachMessage({});

    switch (outcome) {
    case workbench::StartOutcome::Completed: {
        if (!options.quiet)
            std::cout << runSummary(bench) << std::flush;
        return plotsWritten ? kExitSuccess : kExitRunFailed;
    }
    case workbench::StartOutcome::Stopped:
        messages.show(stoppedRunNote(bench), kProgram);
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
        messages.show("the run failed", kProgram);
        return kExitRunFailed;
    case workbench::StartOutcome::Busy:
        break;
    }
    messages.show("a run is already in progress", kProgram);
    return kExitRunFailed;
}

}  // namespace velmora::app
