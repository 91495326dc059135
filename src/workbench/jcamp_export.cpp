#include "workbench/jcamp_export.h"

#include "processing/peaks.h"
#include "util/text_file.h"
#include "workbench/control_handlers.h"
#include "workbench/result_tables.h"
#include "workbench/workbench.h"

#include <array>
#include <cmath>
#include <stdexcept>

namespace velmora::workbench {

namespace {

// Gyromagnetic constants of the three channels relative to 1H = 1e7 (1H, 13C, 15N).
constexpr std::array<double, 3> kChannelGamma{10000000.0, 2515074.0, -1013984.0};
constexpr std::array<const char*, 3> kChannelNucleus{"^1H", "^13C", "^15N"};

double boxNumber(const Workbench& bench, model::ControlId id)
{
    return bench.controls().number(id).value_or(0.0);
}

// Builds the lines and writes them; a data set the writer refuses becomes the outcome's message.
template <class Data, class Build>
util::Outcome writeLines(const std::filesystem::path& path, const Data& data, Build build,
                         std::vector<std::string>* written)
{
    std::vector<std::string> lines;
    try {
        lines = build(data);
    } catch (const std::invalid_argument& refused) {
        return util::Outcome::failure("cannot write " + path.string() + ": " + refused.what());
    }
    util::Outcome outcome = util::writeTextFile(path, lines);
    if (outcome && written != nullptr)
        written->push_back(path.filename().string());
    return outcome;
}

util::Outcome writeMap(const Workbench& bench, const std::filesystem::path& directory,
                       std::vector<std::string>* written)
{
    const processing::Map2D& map = *bench.records().map;
    const int np = map.pointCount;
    const double sw = spectraWidthHz(bench);
    const double sw1 = indirectSpectraWidthHz(bench);
    const processing::JcampMap jcamp{
        .title = "Velmora 2D map",
        .observe = jcampObserve(bench),
        .rowCount = np,
        .columnCount = np,
        .firstF1Hz = processing::indirectFrequencyHz(0, np, sw1),
        .deltaF1Hz = sw1 / np,
        .firstF2Hz = processing::pointFrequencyHz(0, np, sw),
        .deltaF2Hz = -sw / np,
        .values = map.values,
    };
    return writeLines(directory / "map2d.jdx", jcamp, processing::jcampMapLines, written);
}

// One spectrum and, when the record holds it, one FID: "spectrum_NAME.jdx" and "fid_NAME.jdx".
util::Outcome writeRun(const Workbench& bench, const std::filesystem::path& directory,
                       const std::string& name, const std::array<std::vector<double>, 3>& spectrum,
                       const std::array<std::vector<double>, 3>* fid, std::vector<std::string>* written)
{
    const auto np = static_cast<int>(spectrum[0].size());
    const double sw = spectraWidthHz(bench);
    processing::JcampSeries series{.kind = processing::JcampSeries::Kind::Spectrum,
                                   .title = "Velmora spectrum, " + name,
                                   .observe = jcampObserve(bench),
                                   .firstX = processing::pointFrequencyHz(0, np, sw),
                                   .deltaX = -sw / np,
                                   .real = spectrum[0],
                                   .imaginary = spectrum[1]};
    if (util::Outcome done = writeLines(directory / ("spectrum_" + name + ".jdx"), series,
                                        processing::jcampSeriesLines, written);
        !done || fid == nullptr)
        return done;
    series.kind = processing::JcampSeries::Kind::Fid;
    series.title = "Velmora FID, " + name;
    series.firstX = 0.0;
    series.deltaX = 1.0 / sw;
    series.real = (*fid)[0];
    series.imaginary = (*fid)[1];
    return writeLines(directory / ("fid_" + name + ".jdx"), series, processing::jcampSeriesLines, written);
}

// Every run's own spectrum and FID as "run<r>", and with several runs the last slot's sum as "sum".
util::Outcome writeRuns(const Workbench& bench, const std::filesystem::path& directory,
                        std::vector<std::string>* written)
{
    const SpectraColumns spectra = spectraColumns(bench);
    const SpectraColumns fids = fidColumns(bench);
    const bool withFids = fids.runs.size() == spectra.runs.size();
    for (std::size_t r = 0; r < spectra.runs.size(); ++r) {
        if (util::Outcome done = writeRun(bench, directory, "run" + std::to_string(r), spectra.runs[r],
                                          withFids ? &fids.runs[r] : nullptr, written);
            !done)
            return done;
    }
    if (!spectra.sum || bench.records().preparation->run.lastRun == 0)
        return util::Outcome::success();
    return writeRun(bench, directory, "sum", *spectra.sum, withFids && fids.sum ? &*fids.sum : nullptr,
                    written);
}

}  // namespace

processing::JcampObserve jcampObserve(const Workbench& bench)
{
    const auto channel = static_cast<std::size_t>(detectionChannel(bench));
    const double protonMHz = boxNumber(bench, model::ctl::ProtonFrequency);
    return {kChannelNucleus[channel], protonMHz * std::abs(kChannelGamma[channel]) / kChannelGamma[0]};
}

util::Outcome writeJcampFiles(const Workbench& bench, const std::filesystem::path& directory,
                              std::vector<std::string>* written)
{
    const RunRecords& records = bench.records();
    if (!records.spectraComputed || !records.preparation)
        return util::Outcome::failure("There are no spectra to export.");
    // A map after a 1D run is the vector-evolution map of sampled runs: their spectra are exported.
    if (records.twoD)
        return records.map ? writeMap(bench, directory, written)
                           : util::Outcome::failure("There are no spectra to export.");
    if (spectrumDisplay(bench).empty())
        return util::Outcome::failure("There are no spectra to export.");
    return writeRuns(bench, directory, written);
}

}  // namespace velmora::workbench
