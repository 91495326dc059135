// The exchange experiment cut into tasks, and the image fit one slice at a time. A grid point's
// histories depend only on (seed, grid, point), so a task may compute any set of them anywhere;
// the totals are then added grid after grid, point after point, exactly as one process adds them,
// which makes the table the same bits however the points were spread. Tallies travel as tuples of
// doubles (pickled exactly).
#include "sweep_bindings.h"

#include "exchange/dispersion_experiment.h"
#include "exchange/dispersion_table.h"
#include "imagefit/map_files.h"
#include "imagefit/map_geometry.h"
#include "imagefit/series_loading.h"
#include "imagefit/vfa_fit.h"
#include "util/run_control.h"
#include "util/work_pool.h"
#include "workbench/dispersion_command.h"
#include "workbench/exchange_assignment.h"
#include "workbench/workbench.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace velmora::python {

namespace {

using Tally = exchange::DispersionExperiment::Tally;
// (sumX, sumX2, sumRate, histories, errPercent, x0)
using TallyTuple = std::tuple<double, double, double, std::int64_t, double, double>;

exchange::PreparedDispersion prepared(PythonSession& session)
{
    workbench::Workbench& bench = session.idleBench();
    (void)session.takeMessages();
    std::optional<exchange::PreparedDispersion> ready = exchange::prepareDispersion(
        workbench::dispersionRequest(bench), bench.workingDirectory(), bench.messages());
    if (!ready) {
        std::string text;
        for (const std::string& message : session.takeMessages())
            text += (text.empty() ? "" : "; ") + message;
        throw SessionError(text.empty() ? "the exchange settings were refused" : text);
    }
    return std::move(*ready);
}

// The tallies of the given (grid, point) pairs (grid from 1, point from 0), in the order given.
std::vector<TallyTuple> exchangeTallies(PythonSession& session, std::int64_t seed,
                                        const std::vector<std::pair<int, int>>& pieces)
{
    const exchange::PreparedDispersion ready = prepared(session);
    for (const auto& [grid, point] : pieces)
        if (grid < 1 || grid > exchange::kMostGrids || point < 0 || point >= ready.pointCount())
            throw SessionError("no grid point " + std::to_string(point) + " of grid " + std::to_string(grid) +
                               " (grids 1.." + std::to_string(exchange::kMostGrids) + ", points 0.." +
                               std::to_string(ready.pointCount() - 1) + ")");
    const exchange::DispersionExperiment experiment(ready, seed);
    util::RunControl control;
    (void)control.tryStart();
    std::vector<TallyTuple> tallies;
    tallies.reserve(pieces.size());
    {
        const py::gil_scoped_release released;
        for (const auto& [grid, point] : pieces) {
            const std::optional<Tally> tally = experiment.evaluate(grid, point, control);
            tallies.emplace_back(tally->sumX, tally->sumX2, tally->sumRate, tally->histories, tally->errPercent,
                                 tally->x0);
        }
    }
    return tallies;
}

py::array_t<double> column(const std::vector<exchange::PointResult>& points, double exchange::PointResult::*field)
{
    py::array_t<double> values(static_cast<py::ssize_t>(points.size()));
    auto out = values.mutable_unchecked<1>();
    for (std::size_t p = 0; p < points.size(); ++p)
        out(static_cast<py::ssize_t>(p)) = points[p].*field;
    return values;
}

py::array_t<double> optionalColumn(const std::vector<exchange::PointResult>& points,
                                   std::optional<double> exchange::PointResult::*field)
{
    py::array_t<double> values(static_cast<py::ssize_t>(points.size()));
    auto out = values.mutable_unchecked<1>();
    for (std::size_t p = 0; p < points.size(); ++p)
        out(static_cast<py::ssize_t>(p)) = (points[p].*field).value_or(std::nan(""));
    return values;
}

// Adds the grids' tallies (grids[g][point], grid g + 1) in order and writes the results file as the
// experiment writes it after its last grid. Returns the table's columns and the file's path.
py::dict exchangeTable(PythonSession& session, std::int64_t seed,
                       const std::vector<std::vector<std::optional<TallyTuple>>>& grids, const std::string& date,
                       bool write)
{
    const exchange::PreparedDispersion ready = prepared(session);
    // Checked also when nothing is written yet, so that a sweep is refused before its tasks run.
    if (const util::Outcome named = workbench::dispersionTableName(session.idleBench()); !named)
        throw SessionError(named.message());
    exchange::DispersionExperiment experiment(ready, seed);
    experiment.clear();
    for (std::size_t g = 0; g < grids.size(); ++g) {
        if (static_cast<int>(grids[g].size()) != ready.pointCount())
            throw SessionError("grid " + std::to_string(g + 1) + " has " + std::to_string(grids[g].size()) +
                               " tallies for " + std::to_string(ready.pointCount()) + " points");
        std::vector<std::optional<Tally>> tallies;
        for (const std::optional<TallyTuple>& given : grids[g]) {
            if (!given) {
                tallies.emplace_back();
                continue;
            }
            Tally& tally = tallies.emplace_back(Tally{}).value();
            std::tie(tally.sumX, tally.sumX2, tally.sumRate, tally.histories, tally.errPercent, tally.x0) = *given;
        }
        if (!experiment.addGrid(static_cast<int>(g) + 1, tallies))
            break;
    }
    const exchange::DispersionResults& results = experiment.results();
    const workbench::Workbench& bench = session.idleBench();
    py::dict table;
    std::filesystem::path path;
    if (write) {
        path = workbench::dispersionTablePath(bench);
        if (const util::Outcome saved =
                exchange::writeDispersionTable(path, ready, results, date.empty() ? workbench::todayText() : date);
            !saved)
            throw SessionError(saved.message());
    }
    const std::vector<exchange::PointResult>& points = results.points;
    table["path"] = write ? py::cast(path) : py::none();
    table["header"] = exchange::resultListHeader(ready);
    table["items"] = exchange::resultListItems(results);
    table["grids_done"] = results.gridsDone;
    table["first_name"] = ready.first.name;
    table["second_name"] = ready.second.name;
    table["first_count"] = ready.first.valueCount;
    table["second_count"] = ready.second.valueCount;
    using R = exchange::PointResult;
    table["first"] = column(points, &R::firstValue);
    table["second"] = column(points, &R::secondValue);
    py::dict quantities;
    quantities["Rex"] = column(points, &R::rexPerS);
    quantities["X"] = column(points, &R::x);
    quantities["X0"] = column(points, &R::x0);
    quantities["err%"] = column(points, &R::errPercent);
    quantities["Rab"] = column(points, &R::rabPerS);
    quantities["Rba"] = column(points, &R::rbaPerS);
    quantities["Pa"] = column(points, &R::pa);
    quantities["Kex_cal"] = optionalColumn(points, &R::kexCalPerS);
    quantities["R2eff"] = column(points, &R::r2effPerS);
    quantities["R2eff_rep"] = column(points, &R::r2effRepPerS);
    quantities["R2eff_se"] = column(points, &R::r2effErrorPerS);
    quantities["Kex_cal_se"] = optionalColumn(points, &R::kexCalErrorPerS);
    quantities["nu_CPMG"] = column(points, &R::cpmgFrequencyHz);
    table["quantities"] = quantities;
    return table;
}

py::array_t<double> mapArray(const std::vector<double>& values, int rows, int columns)
{
    py::array_t<double> array({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

// Fits one slice of a series as velmora-cli fit-images does and writes its maps under `base`
// (raw and NIfTI). The threshold defaults to a tenth of the series' largest value, so every slice
// of a series takes the same one.
py::dict fitSlice(const std::filesystem::path& seriesPath, int slice, const std::filesystem::path& base,
                  const std::vector<double>& flipAnglesDeg, const std::vector<double>& trMs,
                  const std::string& orientation, int slab, std::optional<double> threshold,
                  std::pair<double, double> t1RangeSeconds, std::pair<double, double> b1Range,
                  std::int64_t seed, int threads)
{
    imagefit::FitSettings settings;
    const std::optional<imagefit::Orientation> placed = imagefit::orientationFromText(orientation);
    if (!placed)
        throw SessionError("orientation is cor, trans or sag, not \"" + orientation + "\"");
    settings.orientation = *placed;
    settings.slabHalfThickness = slab;
    settings.t1MinSeconds = t1RangeSeconds.first;
    settings.t1MaxSeconds = t1RangeSeconds.second;
    settings.b1Min = b1Range.first;
    settings.b1Max = b1Range.second;
    settings.seed = seed;
    imagefit::FitMaps maps;
    imagefit::ImageSeries series;
    {
        const py::gil_scoped_release released;
        if (const util::Outcome loaded =
                imagefit::loadSeries(seriesPath, {}, {flipAnglesDeg, trMs}, series);
            !loaded)
            throw SessionError(loaded.message());
        const imagefit::MapGeometry geometry = imagefit::mapGeometry(series, settings.orientation);
        if (slice < 1 || slice > geometry.slices)
            throw SessionError("slice " + std::to_string(slice) + " is outside the series' 1.." +
                               std::to_string(geometry.slices));
        settings.slice = slice;
        settings.threshold = threshold.value_or(0.1 * series.largestValue);
        util::WorkPool pool(threads > 0 ? threads : util::WorkPool::hardwareThreads());
        if (const util::Outcome fitted = imagefit::fitImageSeries(series, settings, pool, nullptr, {}, maps);
            !fitted)
            throw SessionError(fitted.message());
        if (const util::Outcome written = imagefit::writeFitMaps(base, maps, series, settings); !written)
            throw SessionError(written.message());
    }
    py::dict result;
    result["t1"] = mapArray(maps.t1Seconds, maps.rows, maps.columns);
    result["b1"] = mapArray(maps.b1, maps.rows, maps.columns);
    result["amplitude"] = mapArray(maps.amplitude, maps.rows, maps.columns);
    result["error"] = mapArray(maps.error, maps.rows, maps.columns);
    result["fitted_pixels"] = maps.fittedPixels;
    result["unfitted_b1"] = imagefit::kUnfittedB1;
    return result;
}

}  // namespace

void bindSweepPieces(py::module_& module, py::class_<PythonSession>& workbench)
{
    workbench
        .def_property(
            "threads", [](const PythonSession& session) { return session.idleBench().threads(); },
            [](PythonSession& session, int threads) { session.idleBench().setThreads(threads); },
            "The threads a run uses (every core at the start; the results are the same bits for any count).")
        .def(
            "set_exchange",
            [](PythonSession& session, const std::string& name, const py::object& value) {
                const std::string text = py::str(value).cast<std::string>();
                if (const util::Outcome applied =
                        workbench::assignExchangeValue(session.idleBench(), name + "=" + text);
                    !applied)
                    throw SessionError(applied.message());
            },
            py::arg("name"), py::arg("value"),
            "Sets a value of the exchange experiment by the name its row shows (Tp, tcp, kex, ch_shift, "
            "RFoffset, w1, T1A, T1B, T2A, T2B, Necho, Pa, Angle, Phase, StartMagn, ShapedPulse, Array, "
            "Array2, step, step2, Ni, Ni2), as velmora-cli exchange --set does; any other name is a box "
            "('Label3(14)', 'Check1(7)', 'Text9').")
        .def("_exchange_tallies", &exchangeTallies, py::arg("seed"), py::arg("pieces"),
             "The repetitions of the exchange grid points (grid from 1, point from 0) as tallies.")
        .def("_exchange_table", &exchangeTable, py::arg("seed"), py::arg("grids"), py::arg("date") = "",
             py::arg("write") = true,
             "Adds the tallies of grids 1, 2, ... in order and writes the results file; returns the table.");
    module.def("_fit_image_slice", &fitSlice, py::arg("series"), py::arg("slice"), py::arg("base"),
               py::arg("flip_angles_deg"), py::arg("tr_ms"), py::arg("orientation"), py::arg("slab"),
               py::arg("threshold"), py::arg("t1_range"), py::arg("b1_range"), py::arg("seed"),
               py::arg("threads"), "Fits one slice of an image series and writes its maps under base.");
}

}  // namespace velmora::python
