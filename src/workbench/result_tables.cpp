#include "workbench/result_tables.h"

#include "processing/peaks.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/text_file.h"
#include "workbench/workbench.h"

#include <string>
#include <vector>

namespace velmora::workbench {

namespace {

double boxNumber(const Workbench& bench, model::ControlId id)
{
    return bench.controls().number(id).value_or(0.0);
}

}  // namespace

processing::DisplayArrays spectrumDisplay(const Workbench& bench)
{
    processing::DisplayArrays display;
    const RunRecords& records = bench.records();
    if (!records.spectraComputed || !records.preparation)
        return display;
    const engine::Preparation& prepared = *records.preparation;
    const processing::DisplayArrays::BuildRequest request{
        .signal = prepared.signal,
        .timeDomain = prepared.timeDomain,
        .acquisitionPulse = nullptr,
        .viewMode = "signalspec",
        .allRuns = true,
        .currentRun = 0,
        .rp = boxNumber(bench, {"Text2", 5}),
        .lp = boxNumber(bench, {"Text2", 6}),
        .pointCount = prepared.run.pointCount,
        .lastRun = prepared.run.lastRun,
        .mapAllowed = false,
        .runsPerValue = prepared.run.runsPerValue,
    };
    (void)display.build(request);
    return display;
}

util::Outcome writeSpectraTable(const Workbench& bench, const std::filesystem::path& path)
{
    const processing::DisplayArrays display = spectrumDisplay(bench);
    if (display.empty())
        return util::Outcome::failure("There are no spectra to write to " + path.string() + ".");
    const double sw = boxNumber(bench, model::ctl::SpectralWidth);
    const int np = display.pointCount();
    std::vector<std::string> lines;
    std::string header = "# frequency_Hz";
    for (int r = 0; r <= display.lastRun(); ++r) {
        const std::string run = std::to_string(r);
        header += "\trun" + run + "_real\trun" + run + "_imaginary\trun" + run + "_magnitude";
    }
    lines.push_back(header);
    for (int i = 0; i < np; ++i) {
        std::string line = util::formatGeneral(processing::pointFrequencyHz(i, np, sw));
        for (int r = 0; r <= display.lastRun(); ++r)
            for (int part = 0; part < processing::DisplayArrays::kParts; ++part)
                line += "\t" + util::formatGeneral(display.at(r, part, i));
        lines.push_back(std::move(line));
    }
    return util::writeTextFile(path, lines);
}

util::Outcome writeMapTable(const Workbench& bench, const std::filesystem::path& path)
{
    const std::optional<processing::Map2D>& map = bench.records().map;
    if (!map)
        return util::Outcome::failure("There is no 2D map to write to " + path.string() + ".");
    const int np = map->pointCount;
    const double sw = boxNumber(bench, model::ctl::SpectralWidth);
    const double sw1 = boxNumber(bench, model::ctl::IndirectSpectralWidth);
    std::vector<std::string> lines;
    std::string first = "f1\\f2";
    for (int p = 0; p < np; ++p)
        first += "\t" + util::formatGeneral(processing::pointFrequencyHz(p, np, sw));
    lines.push_back(first);
    for (int q = 0; q < np; ++q) {
        std::string line = util::formatGeneral(processing::indirectFrequencyHz(q, np, sw1));
        for (int p = 0; p < np; ++p)
            line += "\t" + util::formatGeneral(map->at(q, p));
        lines.push_back(std::move(line));
    }
    return util::writeTextFile(path, lines);
}

}  // namespace velmora::workbench
