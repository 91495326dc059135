#include "workbench/result_tables.h"

#include "processing/peaks.h"
#include "util/number_text_buffer.h"
#include "util/numeric_text.h"
#include "util/text_file.h"
#include "util/text_in_pieces.h"
#include "util/work_pool.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace velmora::workbench {

namespace {

// Characters a table line is guessed to take per number (a tab and most of the general format's
// 15 digits): it sizes the pieces written at once.
constexpr std::size_t kNumberWidth = 20;
// Lines of spectra.tsv gathered at a time from the columns.
constexpr int kBlockLines = 16;

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

namespace {

// Splits the runs as the records hold them into every run's own data and the last slot's sum.
SpectraColumns separateLastSlot(std::vector<std::array<std::vector<double>, 3>> runs, const Workbench& bench)
{
    SpectraColumns columns;
    const RunRecords& records = bench.records();
    if (runs.empty() || records.preparation->run.runsPerValue != 1) {
        columns.runs = std::move(runs);
        return columns;
    }
    columns.sum = runs.back();
    if (records.sampled && runs.size() > 1) {
        runs.pop_back();  // the profile-weighted sum took the last run's place
        columns.runs = std::move(runs);
        return columns;
    }
    // The last run's record collects every run; its own data is that sum less the earlier runs.
    // The phase correction is linear, so this holds for the phased parts.
    std::array<std::vector<double>, 3>& own = runs.back();
    for (std::size_t r = 0; r + 1 < runs.size(); ++r)
        for (std::size_t p = 0; p < 2; ++p)
            for (std::size_t i = 0; i < own[p].size(); ++i)
                own[p][i] -= runs[r][p][i];
    for (std::size_t i = 0; i < own[0].size(); ++i)
        own[2][i] = std::sqrt(own[0][i] * own[0][i] + own[1][i] * own[1][i]);  // as the display's
    columns.runs = std::move(runs);
    return columns;
}

}  // namespace

SpectraColumns spectraColumns(const Workbench& bench)
{
    const processing::DisplayArrays display = spectrumDisplay(bench);
    if (display.empty())
        return {};
    const int np = display.pointCount();
    std::vector<std::array<std::vector<double>, 3>> runs;
    for (int r = 0; r <= display.lastRun(); ++r) {
        std::array<std::vector<double>, 3>& parts = runs.emplace_back();
        for (int p = 0; p < 3; ++p)
            for (int i = 0; i < np; ++i)
                parts[static_cast<std::size_t>(p)].push_back(display.at(r, p, i));
    }
    return separateLastSlot(std::move(runs), bench);
}

SpectraColumns fidColumns(const Workbench& bench)
{
    const RunRecords& records = bench.records();
    if (!records.spectraComputed || !records.preparation || records.twoD)
        return {};
    const engine::SampleRecord& fid = records.preparation->timeDomain;
    const int np = records.preparation->run.pointCount;
    const int lastRun = records.preparation->run.lastRun;
    if (np < 1 || fid.lastSample() < np || fid.lastRun() < lastRun)
        return {};
    std::vector<std::array<std::vector<double>, 3>> runs;
    for (int r = 0; r <= lastRun; ++r) {
        std::array<std::vector<double>, 3>& parts = runs.emplace_back();
        for (int c = 1; c <= 3; ++c)
            for (int i = 1; i <= np; ++i)
                parts[static_cast<std::size_t>(c - 1)].push_back(fid.at(c, i, r));
    }
    return separateLastSlot(std::move(runs), bench);
}

util::Outcome writeSpectraTable(const Workbench& bench, const std::filesystem::path& path)
{
    const SpectraColumns columns = spectraColumns(bench);
    if (columns.runs.empty())
        return util::Outcome::failure("There are no spectra to write to " + path.string() + ".");
    const double sw = spectraWidthHz(bench);
    const int np = static_cast<int>(columns.runs.front()[0].size());
    std::vector<const std::vector<double>*> written;
    std::string header = "# frequency_Hz";
    for (std::size_t r = 0; r < columns.runs.size(); ++r) {
        const std::string run = "run" + std::to_string(r);
        header += "\t" + run + "_real\t" + run + "_imaginary\t" + run + "_magnitude";
        for (const std::vector<double>& part : columns.runs[r])
            written.push_back(&part);
    }
    if (columns.sum) {
        header += "\tsum_real\tsum_imaginary\tsum_magnitude";
        for (const std::vector<double>& part : *columns.sum)
            written.push_back(&part);
    }
    header += util::kLineEnd;
    const std::size_t columnCount = 1 + written.size();
    util::WorkPool pool(bench.threads());
    return util::writeLines(pool, path, header, np, columnCount * kNumberWidth + 2,
                            [&](int first, int end, util::TextBuffer& out) {
                                // A line takes one value of every column: a block of lines is first
                                // gathered column by column, each column's values lying together.
                                std::vector<double> block(kBlockLines * written.size());
                                for (int from = first; from < end; from += kBlockLines) {
                                    const auto count = static_cast<std::size_t>(std::min(kBlockLines, end - from));
                                    for (std::size_t c = 0; c < written.size(); ++c)
                                        for (std::size_t i = 0; i < count; ++i)
                                            block[i * written.size() + c] =
                                                (*written[c])[static_cast<std::size_t>(from) + i];
                                    for (std::size_t i = 0; i < count; ++i) {
                                        const int line = from + static_cast<int>(i);
                                        util::appendGeneral(out, processing::pointFrequencyHz(line, np, sw));
                                        for (std::size_t c = 0; c < written.size(); ++c) {
                                            out.append('\t');
                                            util::appendGeneral(out, block[i * written.size() + c]);
                                        }
                                        out.append(util::kLineEnd);
                                    }
                                }
                            });
}

util::Outcome writeMapTable(const Workbench& bench, const std::filesystem::path& path)
{
    const std::optional<processing::Map2D>& map = bench.records().map;
    if (!map)
        return util::Outcome::failure("There is no 2D map to write to " + path.string() + ".");
    const int np = map->pointCount;
    const double sw = spectraWidthHz(bench);
    const double sw1 = boxNumber(bench, model::ctl::IndirectSpectralWidth);
    // A map after a 1D run is the vector-evolution map of sampled runs: one row per run (the first
    // row of its band), labelled with the run.
    const RunRecords& records = bench.records();
    const int runs = !records.twoD && records.preparation ? records.preparation->run.lastRun + 1 : 0;
    std::vector<int> rows;
    for (int q = 0; q < np; ++q)
        if (runs == 0 || q == 0 || q * runs / np != (q - 1) * runs / np)
            rows.push_back(q);
    std::string head = runs > 0 ? "run\\f2" : "f1\\f2";
    for (int p = 0; p < np; ++p) {
        head += '\t';
        util::appendGeneral(head, processing::pointFrequencyHz(p, np, sw));
    }
    head += util::kLineEnd;
    util::WorkPool pool(bench.threads());
    return util::writeLines(pool, path, head, static_cast<int>(rows.size()),
                            static_cast<std::size_t>(np + 1) * kNumberWidth + 2,
                            [&](int first, int end, util::TextBuffer& out) {
                                for (int k = first; k < end; ++k) {
                                    const int q = rows[static_cast<std::size_t>(k)];
                                    if (runs > 0)
                                        util::appendInteger(out, q * runs / np);
                                    else
                                        util::appendGeneral(out, processing::indirectFrequencyHz(q, np, sw1));
                                    for (int p = 0; p < np; ++p) {
                                        out.append('\t');
                                        util::appendGeneral(out, map->at(q, p));
                                    }
                                    out.append(util::kLineEnd);
                                }
                            });
}

}  // namespace velmora::workbench
