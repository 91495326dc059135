#include "app/cli_summary.h"

#include "processing/peaks.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "workbench/result_set.h"
#include "workbench/result_tables.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmora::app {

namespace {

std::string padLeft(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string padRight(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// As "prodop.dat" shows a coefficient.
std::string scaled(double coefficient)
{
    return util::formatPattern(coefficient / 1000.0, "#.000");
}

std::string operatorTable(const workbench::RunRecords& records)
{
    const engine::OperatorTable& table = records.operators;
    const engine::OperatorRecord& values = records.driver.operators;
    std::vector<int> runs = {0};
    if (values.lastRun() > 0)
        runs.push_back(values.lastRun());

    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> heading = {"operator", "index"};
    for (int run : runs)
        heading.push_back("run " + std::to_string(run));
    rows.push_back(heading);
    for (std::size_t k = 0; k < table.listed.size(); ++k) {
        std::vector<std::string> row = {table.names[k], std::to_string(table.listed[k])};
        for (int run : runs)
            row.push_back(scaled(values.at(table.listed[k], run)));
        rows.push_back(row);
    }

    std::vector<std::size_t> widths(heading.size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    std::string text;
    for (const auto& row : rows) {
        std::string line = "  " + padRight(row[0], widths[0]);
        for (std::size_t c = 1; c < row.size(); ++c)
            line += "  " + padLeft(row[c], widths[c]);
        text += line + "\n";
    }
    return text;
}

std::string hz(double frequency)
{
    return util::formatPattern(frequency, "0.0") + " Hz";
}

std::string peakLine(const processing::DisplayArrays& display, int run, double sw)
{
    std::vector<double> magnitude(static_cast<std::size_t>(display.pointCount()));
    for (int i = 0; i < display.pointCount(); ++i)
        magnitude[static_cast<std::size_t>(i)] = display.at(run, 2, i);
    std::string line;
    for (const processing::SpectrumPeak& peak : processing::strongestPeaks(magnitude, sw, 6))
        line += "  " + hz(peak.frequencyHz) + " (" + util::formatPattern(peak.height, "0.00") + ")";
    return line.empty() ? std::string("  none") : line;
}

// ", written to NAME" when the result set now in the working directory holds the file.
std::string writtenTo(const workbench::Workbench& bench, const std::string& name)
{
    const std::optional<std::vector<std::string>> files = workbench::manifestFiles(bench.workingDirectory());
    const bool there = files && std::find(files->begin(), files->end(), name) != files->end();
    return there ? ", written to " + name : std::string();
}

// The strongest lines: of the first run and of the sum (the last run) in 1D, of the map in 2D.
std::string peakSummary(const workbench::Workbench& bench)
{
    const workbench::RunRecords& records = bench.records();
    if (!records.spectraComputed)
        return "spectra: none; " + workbench::missingSpectraReason(records) + "\n";
    const double sw = workbench::spectraWidthHz(bench);
    if (records.map && records.twoD) {
        const double sw1 = workbench::indirectSpectraWidthHz(bench);
        const std::vector<processing::MapPeak> peaks =
            processing::strongestMapPeaks(*records.map, sw, sw1, 256);
        std::string text = "2D map peaks (f1, f2: height)" + writtenTo(bench, "map2d.tsv") + ":\n";
        for (const bool diagonal : {true, false}) {
            text += diagonal ? "  diagonal:" : "  cross:   ";
            int shown = 0;
            for (const processing::MapPeak& peak : peaks) {
                if (peak.diagonal != diagonal || shown == 8)
                    continue;
                text += (shown++ % 4 == 0 && shown > 1 ? "\n            " : "  ") + hz(peak.indirectHz) +
                        ", " + hz(peak.directHz) + ": " + util::formatPattern(peak.height, "0.00");
            }
            text += shown == 0 ? "  none\n" : "\n";
        }
        return text;
    }
    const processing::DisplayArrays display = workbench::spectrumDisplay(bench);
    if (display.empty())
        return "spectra: none\n";
    std::string text = "spectrum phase: rp " + bench.controls().text({"Text2", 5}) +
                       " (tenths of a degree per point), lp " + bench.controls().text({"Text2", 6}) +
                       " (tens of degrees)\n";
    text += "spectrum peaks (frequency, magnitude)" + writtenTo(bench, "spectra.tsv") + ":\n";
    text += "  run 0:" + peakLine(display, 0, sw) + "\n";
    if (display.lastRun() > 0)
        text += "  sum of all runs:" + peakLine(display, display.lastRun(), sw) + "\n";
    return text;
}

std::string runRange(int first, int last)
{
    return first == last ? "run " + std::to_string(first)
                         : "runs " + std::to_string(first) + "-" + std::to_string(last);
}

std::string scanCount(int scans)
{
    return scans == 0 ? std::string("none") : std::to_string(scans) + (scans == 1 ? " scan" : " scans");
}

}  // namespace

std::string stoppedRunNote(const workbench::Workbench& bench)
{
    const workbench::RunRecords& records = bench.records();
    const std::vector<int>& done = records.driver.scansDone;
    const int scans = records.preparation ? records.preparation->run.settings.scans : 0;
    if (done.empty())
        return "stopped before the first run";
    // The last run has the fewest completed scans; Stop came in the scan after them.
    std::string text = "stopped in scan " + std::to_string(done.back() + 1) + " of " + std::to_string(scans) +
                       "; each run is averaged over the scans that completed it:";
    std::size_t first = 0;
    for (std::size_t r = 1; r <= done.size(); ++r) {
        if (r < done.size() && done[r] == done[first])
            continue;
        text += (first == 0 ? " " : ", ") + runRange(static_cast<int>(first), static_cast<int>(r - 1)) +
                ": " + scanCount(done[first]);
        first = r;
    }
    return text;
}

std::string runSummary(const workbench::Workbench& bench)
{
    const model::SpinSystem& spins = bench.spinSystem();
    const model::PulseSequence& sequence = bench.sequence();
    const workbench::RunRecords& records = bench.records();

    std::string labels;
    for (int k = 0; k < spins.spinCount(); ++k)
        labels += (k == 0 ? "" : " ") + spins.label(k);
    const int lastStep = sequence.stepCount() + 1;
    const int runs = records.driver.operators.lastRun() + 1;
    const int scans = records.preparation ? records.preparation->run.settings.scans : 0;

    std::string text;
    text += std::string(records.twoD ? "Start_2D" : "Start") + " in " + bench.workingDirectory() + "\n";
    text += "spins: " + std::to_string(spins.spinCount()) + " (" + labels + ")\n";
    // The switch may come from an earlier start in the folder (rem.options): say which path ran.
    if (bench.controls().checked(model::ctl::StrongCoupling))
        text += "coupling: strong (full scalar couplings between spins of one nucleus, exact path)\n";
    text += "steps: " + std::to_string(lastStep + 1) + " (0 to " + std::to_string(lastStep) +
            "), point step " + std::to_string(sequence.pointStep()) + "\n";
    text += "runs: " + std::to_string(runs) + ", " + std::to_string(scans) +
            (scans == 1 ? " scan" : " scans") + " each\n";
    text += "elapsed: " + util::formatPattern(records.elapsedSeconds, "0.000") + " s\n";
    if (records.operators.listed.empty()) {
        text += "operators at the point step: none above " + scaled(engine::kSignificantCoefficient) + "\n";
    } else {
        text += "operators at the point step (coefficient / 1000, as in prodop.dat):\n";
        text += operatorTable(records);
    }
    if (const std::string note = workbench::operatorListNote(records); !note.empty())
        text += "note: " + note + "\n";
    text += peakSummary(bench);
    return text;
}

}  // namespace velmora::app
