#include "app/cli_summary.h"

#include "util/number_format.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cstddef>
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

}  // namespace

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
    text += "spectra: not computed yet (a later stage adds them)\n";
    return text;
}

}  // namespace velmora::app
