#include "workbench/result_tables.h"

#include "processing/peaks.h"
#include "util/number_text_buffer.h"
#include "util/numeric_text.h"
#include "util/text_file.h"
#include "util/text_in_pieces.h"
#include "util/work_pool.h"
#include "workbench/workbench.h"

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace velmora::workbench {

namespace {

// Characters a table reserves per number: a tab and most of the general format's 15 digits.
constexpr std::size_t kNumberWidth = 20;

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

SpectraColumns spectraColumns(const Workbench& bench)
{
    SpectraColumns columns;
    const processing::DisplayArrays display = spectrumDisplay(bench);
    if (display.empty())
        return columns;
    const int np = display.pointCount();
    const int last = display.lastRun();
    const bool lastIsSum = bench.records().preparation->run.runsPerValue == 1;
    const auto part = [&](int run, int p) {
        std::vector<double> values(static_cast<std::size_t>(np));
        for (int i = 0; i < np; ++i)
            values[static_cast<std::size_t>(i)] = display.at(run, p, i);
        return values;
    };
    for (int r = 0; r <= last; ++r)
        columns.runs.push_back({part(r, 0), part(r, 1), part(r, 2)});
    if (!lastIsSum)
        return columns;
    // The last run's record collects every run (the display's sum); its own spectrum is that sum
    // less the earlier runs. The phase correction is linear, so this holds for the phased parts.
    columns.sum = columns.runs.back();
    std::array<std::vector<double>, 3>& own = columns.runs.back();
    for (int r = 0; r < last; ++r)
        for (int p = 0; p < 2; ++p)
            for (int i = 0; i < np; ++i)
                own[p][static_cast<std::size_t>(i)] -=
                    columns.runs[static_cast<std::size_t>(r)][p][static_cast<std::size_t>(i)];
    for (int i = 0; i < np; ++i) {
        const auto k = static_cast<std::size_t>(i);
        own[2][k] = std::sqrt(own[0][k] * own[0][k] + own[1][k] * own[1][k]);  // as the display's
    }
    return columns;
}

util::Outcome writeSpectraTable(const Workbench& bench, const std::filesystem::path& path)
{
    const SpectraColumns columns = spectraColumns(bench);
    if (columns.runs.empty())
        return util::Outcome::failure("There are no spectra to write to " + path.string() + ".");
    const double sw = boxNumber(bench, model::ctl::SpectralWidth);
    const int np = static_cast<int>(columns.runs.front()[0].size());
    std::vector<const std::array<std::vector<double>, 3>*> written;
    std::string header = "# frequency_Hz";
    for (std::size_t r = 0; r < columns.runs.size(); ++r) {
        const std::string run = "run" + std::to_string(r);
        header += "\t" + run + "_real\t" + run + "_imaginary\t" + run + "_magnitude";
        written.push_back(&columns.runs[r]);
    }
    if (columns.sum) {
        header += "\tsum_real\tsum_imaginary\tsum_magnitude";
        written.push_back(&*columns.sum);
    }
    const std::size_t columnCount = 1 + 3 * written.size();
    util::WorkPool pool(bench.threads());
    const std::vector<std::string> text = util::buildLines(
        pool, header + std::string(util::kLineEnd), np, columnCount * kNumberWidth + 2,
        [&](int i, std::string& out) {
            util::appendGeneral(out, processing::pointFrequencyHz(i, np, sw));
            for (const std::array<std::vector<double>, 3>* parts : written)
                for (const std::vector<double>& values : *parts) {
                    out += '\t';
                    util::appendGeneral(out, values[static_cast<std::size_t>(i)]);
                }
            out += util::kLineEnd;
        });
    return util::writeWholeText(path, text);
}

util::Outcome writeMapTable(const Workbench& bench, const std::filesystem::path& path)
{
    const std::optional<processing::Map2D>& map = bench.records().map;
    if (!map)
        return util::Outcome::failure("There is no 2D map to write to " + path.string() + ".");
    const int np = map->pointCount;
    const double sw = boxNumber(bench, model::ctl::SpectralWidth);
    const double sw1 = boxNumber(bench, model::ctl::IndirectSpectralWidth);
    std::string head = "f1\\f2";
    for (int p = 0; p < np; ++p) {
        head += '\t';
        util::appendGeneral(head, processing::pointFrequencyHz(p, np, sw));
    }
    head += util::kLineEnd;
    util::WorkPool pool(bench.threads());
    const std::vector<std::string> text = util::buildLines(
        pool, std::move(head), np, static_cast<std::size_t>(np + 1) * kNumberWidth + 2,
        [&](int q, std::string& out) {
            util::appendGeneral(out, processing::indirectFrequencyHz(q, np, sw1));
            for (int p = 0; p < np; ++p) {
                out += '\t';
                util::appendGeneral(out, map->at(q, p));
            }
            out += util::kLineEnd;
        });
    return util::writeWholeText(path, text);
}

}  // namespace velmora::workbench
