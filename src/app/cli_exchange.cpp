#include "app/cli_exchange.h"

#include "app/cli_messages.h"
#include "app/cli_run.h"
#include "app/cli_start_up.h"
#include "exchange/dispersion_table.h"
#include "model/workspace.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/text_compare.h"
#include "util/text_file.h"
#include "util/work_pool.h"
#include "workbench/control_override.h"
#include "workbench/dispersion_command.h"
#include "workbench/exchange_assignment.h"
#include "workbench/file_commands.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#ifdef VELMORA_HAVE_RENDER
#include "app/offscreen_drawing.h"
#include "render/dispersion_plot.h"
#endif

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>
#include <iostream>
#include <optional>
#include <unistd.h>
#include <vector>

namespace velmora::app {

namespace {


constexpr const char* kExchangeProgram = "velmora-cli exchange";

struct ExchangeOptions {
    std::optional<std::filesystem::path> workingDirectory;
    std::string sequenceFile;
    std::vector<std::string> assignments;  // in command-line order
    workbench::DispersionRunOptions run;
    std::optional<int> threads;
    bool png = false;
    bool quiet = false;
    bool help = false;
};

// The most threads --threads takes, as for "velmora-cli run".
constexpr int kMostThreads = 256;

// Ctrl-C (and SIGTERM) clears the running flag, as Stop does: the experiment ends within the
// histories in progress, keeping the points finished.
std::atomic<util::RunControl*> interruptedRun{nullptr};
extern "C" void onExchangeInterrupt(int)
{
    if (util::RunControl* control = interruptedRun.load())
        control->stop();
}

template <typename Number> bool parseNumber(std::string_view text, Number& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

std::optional<std::string> parse(std::span<const std::string_view> arguments, ExchangeOptions& options)
{
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const auto [name, inlineValue] = splitArgument(arguments[k]);
        if (name == "--help" || name == "-h") {
            options.help = true;
            return std::nullopt;
        }
        if (name == "--png" || name == "--quiet") {
            if (inlineValue)
                return std::string(name) + " takes no value";
            (name == "--png" ? options.png : options.quiet) = true;
            continue;
        }
        if (name != "--workdir" && name != "--psq" && name != "--set" && name != "--seed" &&
            name != "--grids" && name != "--threads")
            return (name.starts_with("-") ? "unknown option \"" : "unexpected argument \"") +
                   std::string(name) + "\"";
        if (!inlineValue && k + 1 >= arguments.size())
            return std::string(name) + " needs a value";
        const std::string_view value = inlineValue ? *inlineValue : arguments[++k];
        if (name == "--workdir") {
            if (value.empty())
                return "--workdir needs a directory";
            options.workingDirectory = std::filesystem::path(value);
        } else if (name == "--psq") {
            if (value.empty() || value.find('/') != std::string_view::npos)
                return "--psq takes the name of a file in the working directory, not \"" +
                       std::string(value) + "\"";
            options.sequenceFile = value;
        } else if (name == "--set") {
            if (value.find('=') == std::string_view::npos || value.front() == '=')
                return "--set takes an assignment NAME=VALUE, not \"" + std::string(value) + "\"";
            options.assignments.emplace_back(value);
        } else if (name == "--seed") {
            if (!parseNumber(value, options.run.seed))
                return "--seed takes a whole number, not \"" + std::string(value) + "\"";
        } else {
            int number = 0;
            const int most = name == "--grids" ? exchange::kMostGrids : kMostThreads;
            if (!parseNumber(value, number) || number < 1 || number > most)
                return std::string(name) + " takes a whole number from 1 to " + std::to_string(most) +
                       ", not \"" + std::string(value) + "\"";
            (name == "--grids" ? options.run.gridCount : options.threads.emplace()) = number;
        }
    }
    return std::nullopt;
}

#ifdef VELMORA_HAVE_RENDER
util::Outcome writeDispersionPng(const workbench::Workbench& bench,
                                 const exchange::PreparedDispersion& prepared,
                                 const exchange::DispersionResults& results)
{
    const OffscreenDrawing drawing;
    render::PictureBox box(800, 560);
    render::drawDispersionPlot(box, render::dispersionPlotData(prepared, results));
    return box.save(bench.pathOf("dispersion.png"));
}
#endif

// How the experiment ended, in the words of the run manifest: completed, stopped or failed.
std::string endedText(const workbench::DispersionRun& run, const ExchangeOptions& options)
{
    if (!run.failure.empty())
        return "failed: " + run.failure;
    if (run.outcome == workbench::DispersionOutcome::Completed)
        return "completed";
    std::string text = "stopped after " + std::to_string(run.results.gridsDone) + " of " +
                       std::to_string(options.run.gridCount) + " grid(s)";
    if (run.results.partialGridPoints > 0)
        text += " and " + std::to_string(run.results.partialGridPoints) + " of " +
                std::to_string(run.prepared->pointCount()) + " point(s) of grid " +
                std::to_string(run.results.gridsDone + 1);
    return text;
}

void printSummary(const workbench::DispersionRun& run, const ExchangeOptions& options)
{
    const exchange::PreparedDispersion& prepared = *run.prepared;
    const std::vector<exchange::PointResult>& points = run.results.points;
    const std::int64_t histories = points.empty() ? 0 : points.front().histories;
    std::cout << "exchange: " << run.results.gridsDone << " grid(s) of " << prepared.pointCount()
              << " point(s) (" << prepared.first.name << " x " << prepared.second.name << "), " << histories
              << " histories a point, seed " << options.run.seed << "\n"
              << "table: " << run.table.string() << "\n";
    if (!run.note.empty())
        std::cout << "note: " << run.note << "\n";
    std::cout << exchange::resultListHeader(prepared) << "\n";
    for (const std::string& item : exchange::resultListItems(run.results))
        std::cout << item << "\n";
    // One fitted kex per line of the grid along tcp (the points of a line share it), named by the
    // value of the other sweep when it has several.
    const bool alongFirst = prepared.first.name == "tcp" && prepared.first.valueCount >= 3;
    const exchange::SweptParameter& across = alongFirst ? prepared.second : prepared.first;
    for (int line = 0; line < across.valueCount; ++line) {
        const auto point = static_cast<std::size_t>(alongFirst ? line * prepared.first.valueCount : line);
        if (point >= points.size() || !points[point].kexCalPerS)
            continue;
        const exchange::PointResult& p = points[point];
        std::cout << "Kex_cal: " << util::formatPattern(*p.kexCalPerS, "#0.0") << " +- "
                  << (p.kexCalErrorPerS ? util::formatPattern(*p.kexCalErrorPerS, "#0.0") : std::string("?"))
                  << " /s (standard error)";
        if (across.valueCount > 1)
            std::cout << " at " << across.name << " = "
                      << util::formatGeneral(alongFirst ? p.secondValue : p.firstValue);
        std::cout << "\n";
    }
    const auto lost = std::count_if(points.begin(), points.end(),
                                    [](const exchange::PointResult& p) { return p.signalLost; });
    if (lost > 0)
        std::cout << "lost: " << lost << " point(s) whose ensemble signal is within "
                  << util::formatGeneral(exchange::kLeastSignalToNoise)
                  << " standard errors of 0 have no R2eff and stay out of Kex_cal\n";
    std::cout << "ended " << endedText(run, options) << "\n" << std::flush;
}

}  // namespace

std::string exchangeUsageText()
{
    return "Usage: velmora-cli exchange [options]\n"
           "\n"
           "Runs the relaxation-dispersion experiment the way Start does in the window's exchange mode,\n"
           "writes the results table (working directory + Text9 + \".dat\") and prints the result list.\n"
           "\n"
           "Options:\n"
           "  --workdir DIR      work in DIR (it must exist) instead of the directory the settings file "
           "names\n"
           "  --psq NAME.psq     read the sequence file NAME.psq (and its exchange values) first\n"
           "  --set NAME=VALUE   set an exchange value: Tp (us), tcp (us), kex (1/s), RFoffset (Hz),\n"
           "                     ch_shift (Hz, the shift difference), half_shift (Hz), Necho, w1 (Hz), Pa,\n"
           "                     T1A, T1B, T2A, T2B (ms), Angle (rad), Phase, StartMagn, ShapedPulse,\n"
           "                     Array and Array2 (the swept names), Ni and Ni2 (values - 1), step and "
           "step2\n"
           "                     (the increments); or a control: 'Label3(14)=Mult', 'Label3(16)=Add',\n"
           "                     'Check1(5)=1' (T1), 'Check1(7)=1' (T2), 'Text9=NAME' (results file)\n"
           "  --seed N           seed of the random jump histories (default 1)\n"
           "  --grids N          repeat the grid N times, 1 to 1000 (default 1000)\n"
           "  --threads N        grid points run on N threads, 1 to 256 (default: all cores)\n"
           "  --png              draw the dispersion plot into dispersion.png\n"
           "  --quiet            print nothing but errors\n"
           "\n"
           "Refused before anything is written: Ni or Ni2 above 99999, a grid above 100000 points, Necho\n"
           "above 1000000, values that are not finite, a ShapedPulse or Text9 with a folder, two sweeps\n"
           "that both step one quantity, and a grid point estimated above 10 minutes. Ctrl-C ends the\n"
           "experiment within a history, keeping the points finished; the summary's last line says how\n"
           "it ended.\n"
           "\n"
           "Exit status: 0 every grid ran; 1 refused, stopped or failed; 2 the command line was not "
           "understood.\n";
}

int exchangeCommand(std::span<const std::string_view> arguments)
{
    ExchangeOptions options;
    if (const std::optional<std::string> error = parse(arguments, options)) {
        std::cerr << kExchangeProgram << ": " << *error << "\nTry \"velmora-cli exchange --help\".\n";
        return kExitUsage;
    }
    if (options.help) {
        std::cout << exchangeUsageText();
        return kExitSuccess;
    }
#ifndef VELMORA_HAVE_RENDER
    if (options.png) {
        std::cerr << kExchangeProgram << ": --png: this build has no drawing (it was built without Qt)\n";
        return kExitUsage;
    }
#endif
    StderrMessages messages;
    const CommandBench started = startCommandBench(options.workingDirectory, messages);
    if (!started.bench)
        return started.exitCode;
    workbench::Workbench& bench = *started.bench;
    // The sequence is compiled by the runs, after the --set changes (see velmora-cli run).
    bench.setPreparationOnlyRun({});
    if (!options.sequenceFile.empty()) {
        if (!util::fileExists(bench.pathOf(options.sequenceFile))) {
            messages.show("cannot read " + bench.pathOf(options.sequenceFile).string() +
                              ": the file does not exist",
                          "Error!");
            return kExitRunFailed;
        }
        if (!workbench::openSequence(bench, options.sequenceFile).wasRead())
            return kExitRunFailed;
    }
    for (const std::string& assignment : options.assignments) {
        if (const util::Outcome applied = workbench::assignExchangeValue(bench, assignment); !applied) {
            std::cerr << kExchangeProgram << ": " << applied.message() << "\n";
            return kExitUsage;
        }
    }
    bench.setThreads(options.threads.value_or(util::WorkPool::hardwareThreads()));

    const bool showProgress = !options.quiet && isatty(STDERR_FILENO) == 1;
    workbench::DispersionListeners listeners;
    listeners.points = [&](int grid, int done, int points) {
        if (showProgress)
            std::cerr << "\rgrid " << grid << " of " << options.run.gridCount << ", point " << done << " of "
                      << points << "   " << std::flush;
    };
    interruptedRun.store(&bench.runControl());
    struct sigaction action {};
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
    action.sa_handler = onExchangeInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
    const workbench::DispersionRun run = workbench::runDispersionCommand(bench, options.run, listeners);
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
    interruptedRun.store(nullptr);
    if (showProgress)
        std::cerr << "\r" << std::string(60, ' ') << "\r" << std::flush;

    if (run.outcome == workbench::DispersionOutcome::Refused ||
        run.outcome == workbench::DispersionOutcome::Busy)
        return kExitRunFailed;
    bool plotted = true;
#ifdef VELMORA_HAVE_RENDER
    if (options.png && !run.results.points.empty()) {
        if (const util::Outcome saved = writeDispersionPng(bench, *run.prepared, run.results); !saved) {
            messages.show(saved.message(), "Error!");
            plotted = false;
        }
    }
#endif
    if (!options.quiet && !run.results.points.empty())
        printSummary(run, options);
    if (run.outcome == workbench::DispersionOutcome::Stopped) {
        if (run.failure.empty())
            messages.show(endedText(run, options), kExchangeProgram);
        return kExitRunFailed;
    }
    return plotted ? kExitSuccess : kExitRunFailed;
}

}  // namespace velmora::app
