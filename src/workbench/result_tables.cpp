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
#include <span>
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

using Parts = std::array<std::span<const double>, 3>;

// How the last slot of the records is taken apart (see SpectraColumns): in 1D it is the sum, and
// either the last run's own data is that sum less the earlier runs, or (a sampled acquisition of
// several runs) the profile-weighted sum took the last run's place, which has no entry of its own.
// The weighting does that in 2D as well, so there too that slot is the sum and not a run.
struct LastSlot {
    bool isSum = false;
    bool replacedLastRun = false;
};

LastSlot lastSlotOf(const Workbench& bench, std::size_t runCount)
{
    const RunRecords& records = bench.records();
    if (records.sampled && runCount > 1)
        return {.isSum = true, .replacedLastRun = true};
    if (runCount == 0 || records.preparation->run.runsPerValue != 1)
        return {};
    return {.isSum = true, .replacedLastRun = false};
}

// The last run's own data where the last slot collects every run: that sum less the earlier runs.
// The phase correction is linear, so this holds for the phased parts; the magnitude as the display's.
std::array<std::vector<double>, 3> ownOfLastRun(const std::vector<Parts>& runs)
{
    const Parts& sum = runs.back();
    std::array<std::vector<double>, 3> own;
    for (std::size_t p = 0; p < 2; ++p)
        own[p].assign(sum[p].begin(), sum[p].end());
    for (std::size_t r = 0; r + 1 < runs.size(); ++r)
        for (std::size_t p = 0; p < 2; ++p)
            for (std::size_t i = 0; i < own[p].size(); ++i)
                own[p][i] -= runs[r][p][i];
    own[2].resize(own[0].size());
    for (std::size_t i = 0; i < own[0].size(); ++i)
        own[2][i] = std::sqrt(own[0][i] * own[0][i] + own[1][i] * own[1][i]);
    return own;
}

std::array<std::vector<double>, 3> copied(const Parts& parts)
{
    std::array<std::vector<double>, 3> copy;
    for (std::size_t p = 0; p < 3; ++p)
        copy[p].assign(parts[p].begin(), parts[p].end());
    return copy;
}

// Splits the runs as the records hold them into every run's own data and the last slot's sum.
SpectraColumns separateLastSlot(const std::vector<Parts>& runs, const Workbench& bench)
{
    SpectraColumns columns;
    const LastSlot slot = lastSlotOf(bench, runs.size());
    const std::size_t ownRuns = slot.replacedLastRun ? runs.size() - 1 : runs.size();
    for (std::size_t r = 0; r < ownRuns; ++r)
        columns.runs.push_back(copied(runs[r]));
    if (slot.isSum) {
        columns.sum = copied(runs.back());
        if (!slot.replacedLastRun)
            columns.runs.back() = ownOfLastRun(runs);
    }
    return columns;
}

// Every run's parts in the display arrays.
std::vector<Parts> displayedRuns(const processing::DisplayArrays& display)
{
    std::vector<Parts> runs;
    for (int r = 0; r <= display.lastRun(); ++r)
        runs.push_back({display.points(r, 0), display.points(r, 1), display.points(r, 2)});
    return runs;
}

}  // namespace

SpectraColumns spectraColumns(const Workbench& bench)
{
    const processing::DisplayArrays display = spectrumDisplay(bench);
    if (display.empty())
        return {};
    return separateLastSlot(displayedRuns(display), bench);
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
    std::vector<Parts> runs;
    for (int r = 0; r <= lastRun; ++r)
        runs.push_back({fid.samples(1, r).subspan(1, static_cast<std::size_t>(np)),
                        fid.samples(2, r).subspan(1, static_cast<std::size_t>(np)),
                        fid.samples(3, r).subspan(1, static_cast<std::size_t>(np))});
    return separateLastSlot(runs, bench);
}

util::Outcome writeSpectraTable(const Workbench& bench, const std::filesystem::path& path)
{
    // The columns are read where the display arrays hold them; only the last run's own data, where
    // the last slot is the sum, is computed apart.
    const processing::DisplayArrays display = spectrumDisplay(bench);
    const std::vector<Parts> runs = display.empty() ? std::vector<Parts>{} : displayedRuns(display);
    if (runs.empty())
        return util::Outcome::failure("There are no spectra to write to " + path.string() + ".");
    const LastSlot slot = lastSlotOf(bench, runs.size());
    const std::size_t ownRuns = slot.replacedLastRun ? runs.size() - 1 : runs.size();
    const std::array<std::vector<double>, 3> lastOwn =
        slot.isSum && !slot.replacedLastRun ? ownOfLastRun(runs) : std::array<std::vector<double>, 3>{};
    const double sw = spectraWidthHz(bench);
    const int np = display.pointCount();
    std::vector<std::span<const double>> written;
    std::string header = "# frequency_Hz";
    for (std::size_t r = 0; r < ownRuns; ++r) {
        const std::string run = "run" + std::to_string(r);
        header += "\t" + run + "_real\t" + run + "_imaginary\t" + run + "_magnitude";
        const bool computed = slot.isSum && !slot.replacedLastRun && r + 1 == runs.size();
        for (std::size_t p = 0; p < 3; ++p)
            written.push_back(computed ? std::span<const double>(lastOwn[p]) : runs[r][p]);
    }
    if (slot.isSum) {
        header += "\tsum_real\tsum_imaginary\tsum_magnitude";
        for (const std::span<const double> part : runs.back())
            written.push_back(part);
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
                                    const auto count =
                                        static_cast<std::size_t>(std::min(kBlockLines, end - from));
                                    for (std::size_t c = 0; c < written.size(); ++c)
                                        for (std::size_t i = 0; i < count; ++i)
                                            block[i * written.size() + c] =
                                                written[c][static_cast<std::size_t>(from) + i];
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
    const double sw1 = indirectSpectraWidthHz(bench);
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
