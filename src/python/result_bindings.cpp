// Results as NMR people hold them: a complex spectrum or FID with the universal dictionary of its
// dimension (size, complex, sw, obs, car, label, time, freq), the 2D map with both dimensions,
// and xarray where it is installed.
#include "result_bindings.h"

#include "processing/peaks.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/jcamp_export.h"
#include "workbench/result_tables.h"

#include <pybind11/complex.h>
#include <pybind11/numpy.h>

#include <complex>
#include <string>
#include <vector>

namespace py = pybind11;

namespace velmora::python {

namespace {

py::array_t<double> realArray(std::vector<double> values)
{
    auto* held = new std::vector<double>(std::move(values));
    const py::capsule owner(held, [](void* p) { delete static_cast<std::vector<double>*>(p); });
    return py::array_t<double>({static_cast<py::ssize_t>(held->size())}, held->data(), owner);
}

py::array_t<std::complex<double>> complexArray(const std::vector<double>& real, const std::vector<double>& imaginary)
{
    auto* held = new std::vector<std::complex<double>>(real.size());
    for (std::size_t i = 0; i < real.size(); ++i)
        (*held)[i] = {real[i], imaginary[i]};
    const py::capsule owner(held, [](void* p) { delete static_cast<std::vector<std::complex<double>>*>(p); });
    return py::array_t<std::complex<double>>({static_cast<py::ssize_t>(held->size())}, held->data(), owner);
}

std::string nucleusLabel(const workbench::Workbench& bench)
{
    std::string nucleus = workbench::jcampObserve(bench).nucleus;
    if (!nucleus.empty() && nucleus.front() == '^')
        nucleus.erase(0, 1);
    return nucleus;
}

// Dimension 0 of a 1D result: the direct dimension, frequencies falling with the point index.
py::dict directDimension(const workbench::Workbench& bench, int np, bool time)
{
    const double sw = workbench::spectraWidthHz(bench);
    const double mhz = workbench::jcampObserve(bench).frequencyMHz;
    const double car = processing::pointFrequencyHz(np / 2, np, sw);
    py::dict d;
    d["size"] = np;
    d["complex"] = true;
    d["encoding"] = "direct";
    d["sw"] = sw;
    d["obs"] = mhz;
    d["car"] = car;
    d["label"] = nucleusLabel(bench);
    d["time"] = time;
    d["freq"] = !time;
    return d;
}

const std::array<std::vector<double>, 3>& chosenRun(const workbench::SpectraColumns& columns, const py::object& run,
                                                    int& runIndex, const char* what)
{
    if (columns.runs.empty())
        throw SessionError(std::string("there are no ") + what + ": no 1D run has completed");
    if (py::isinstance<py::str>(run) && run.cast<std::string>() == "sum") {
        if (!columns.sum)
            throw SessionError(std::string("the last run has no sum of ") + what + ": it was a single run");
        runIndex = -1;
        return *columns.sum;
    }
    runIndex = run.cast<int>();
    const int runs = static_cast<int>(columns.runs.size());
    if (runIndex < 0)
        runIndex += runs;
    if (runIndex < 0 || runIndex >= runs)
        throw SessionError("there is no run " + py::str(run).cast<std::string>() + ": the last run has runs 0 to " +
                           std::to_string(runs - 1));
    return columns.runs[static_cast<std::size_t>(runIndex)];
}

py::tuple oneDimension(const PythonSession& session, const py::object& run, bool time)
{
    const workbench::Workbench& bench = session.idleBench();
    if (!bench.records().spectraComputed)
        throw SessionError("there are no results: no run has completed");
    if (time && bench.records().twoD)
        throw SessionError("a 2D run keeps no FIDs: its records hold the direct-dimension spectra");
    const workbench::SpectraColumns columns = time ? workbench::fidColumns(bench) : workbench::spectraColumns(bench);
    int runIndex = 0;
    const std::array<std::vector<double>, 3>& chosen = chosenRun(columns, run, runIndex, time ? "FIDs" : "spectra");
    const int np = static_cast<int>(chosen[0].size());
    py::dict d = directDimension(bench, np, time);
    const double sw = d["sw"].cast<double>();
    const double mhz = d["obs"].cast<double>();
    d["car_ppm"] = d["car"].cast<double>() / mhz;
    d["run"] = runIndex < 0 ? py::object(py::str("sum")) : py::object(py::int_(runIndex));
    d["ndim"] = 1;
    std::vector<double> axis;
    for (int i = 0; i < np; ++i)
        axis.push_back(time ? i / sw : processing::pointFrequencyHz(i, np, sw));
    if (time) {
        d["seconds"] = realArray(std::move(axis));
    } else {
        std::vector<double> ppm;
        for (double hz : axis)
            ppm.push_back(hz / mhz);
        d["hz"] = realArray(std::move(axis));
        d["ppm"] = realArray(std::move(ppm));
    }
    return py::make_tuple(complexArray(chosen[0], chosen[1]), d);
}

py::tuple mapWithDimensions(const PythonSession& session)
{
    const workbench::Workbench& bench = session.idleBench();
    const std::optional<processing::Map2D>& map = bench.records().map;
    if (!map)
        throw SessionError("there is no 2D map: run Start_2D first (run(two_d=True))");
    const int np = map->pointCount;
    const double sw1 = workbench::indirectSpectraWidthHz(bench);
    // Rows from the highest f1 down, as the direct dimension runs: both axes fall with the index,
    // so the universal dictionary's car, sw and size give them (car is the frequency of point size/2).
    std::vector<double> values(static_cast<std::size_t>(np) * static_cast<std::size_t>(np));
    std::vector<double> f1, f1ppm;
    const double mhz = workbench::jcampObserve(bench).frequencyMHz;
    for (int r = 0; r < np; ++r) {
        const int row = np - 1 - r;
        std::copy_n(map->values.begin() + static_cast<std::ptrdiff_t>(row) * np, np,
                    values.begin() + static_cast<std::ptrdiff_t>(r) * np);
        f1.push_back(processing::indirectFrequencyHz(row, np, sw1));
        f1ppm.push_back(f1.back() / mhz);
    }
    py::dict indirect = directDimension(bench, np, false);
    indirect["encoding"] = bench.controls().text(model::ctl::IndirectMethod);
    indirect["complex"] = false;
    indirect["sw"] = sw1;
    indirect["car"] = f1[static_cast<std::size_t>(np / 2)];
    indirect["hz"] = realArray(std::move(f1));
    indirect["ppm"] = realArray(std::move(f1ppm));
    py::dict direct = directDimension(bench, np, false);
    direct["complex"] = false;
    std::vector<double> f2, f2ppm;
    for (int i = 0; i < np; ++i) {
        f2.push_back(processing::pointFrequencyHz(i, np, direct["sw"].cast<double>()));
        f2ppm.push_back(f2.back() / mhz);
    }
    direct["hz"] = realArray(std::move(f2));
    direct["ppm"] = realArray(std::move(f2ppm));
    py::dict d;
    d["ndim"] = 2;
    d[py::int_(0)] = indirect;
    d[py::int_(1)] = direct;
    auto* held = new std::vector<double>(std::move(values));
    const py::capsule owner(held, [](void* p) { delete static_cast<std::vector<double>*>(p); });
    py::array_t<double> array({static_cast<py::ssize_t>(np), static_cast<py::ssize_t>(np)}, held->data(), owner);
    return py::make_tuple(array, d);
}

py::object toXarray(const PythonSession& session, const std::string& kind, const py::object& run)
{
    py::module_ xarray;
    try {
        xarray = py::module_::import("xarray");
    } catch (const py::error_already_set&) {
        throw py::import_error("to_xarray needs xarray (Debian: python3-xarray; pip install xarray)");
    }
    py::tuple result;
    if (kind == "map")
        result = mapWithDimensions(session);
    else if (kind == "spectrum" || kind == "fid")
        result = oneDimension(session, run, kind == "fid");
    else
        throw SessionError("\"" + kind + "\" is not a result: spectrum, fid or map");
    py::dict d = result[1].cast<py::dict>();
    py::dict attrs;
    py::dict coords;
    py::list dims;
    if (kind == "map") {
        for (int k = 0; k < 2; ++k) {
            py::dict dim = d[py::int_(k)].cast<py::dict>();
            const char* name = k == 0 ? "f1_hz" : "f2_hz";
            coords[name] = dim["hz"];
            dims.append(name);
            for (const char* key : {"sw", "obs", "car", "label"})
                attrs[(std::string(name).substr(0, 2) + "_" + key).c_str()] = dim[key];
        }
    } else {
        const char* name = kind == "fid" ? "seconds" : "hz";
        coords[name] = d[name];
        dims.append(name);
        for (auto item : d)
            if (!py::isinstance<py::array>(item.second))
                attrs[item.first] = item.second;
    }
    return xarray.attr("DataArray")(result[0], py::arg("coords") = coords, py::arg("dims") = dims,
                                    py::arg("attrs") = attrs, py::arg("name") = kind);
}

}  // namespace

void bindResults(py::class_<PythonSession>& workbench)
{
    workbench
        .def(
            "spectrum", [](const PythonSession& s, const py::object& run) { return oneDimension(s, run, false); },
            py::arg("run") = 0,
            "The phased spectrum of one run of the last 1D run (run 0, 1, ..., -1 for the last, or 'sum') as "
            "(complex ndarray, dict). The dict is the universal dictionary of dimension 0 as nmrglue users know it: "
            "size, complex, encoding, sw (Hz), obs (MHz), car (Hz: the frequency of point size/2), label (nucleus), "
            "time False, freq True; beside it car_ppm, run, ndim 1 and the axes hz and ppm (falling with the index, "
            "as in spectra.tsv).")
        .def(
            "fid", [](const PythonSession& s, const py::object& run) { return oneDimension(s, run, true); },
            py::arg("run") = 0,
            "The windowed FID of one run of the last 1D run as (complex ndarray, dict): the same dictionary as "
            "spectrum() with time True, freq False and the axis seconds.")
        .def(
            "spectrum_2d", [](const PythonSession& s) { return mapWithDimensions(s); },
            "The 2D map of the last Start_2D as (ndarray indirect x direct, dict) with the universal dictionary of "
            "both dimensions (0 indirect f1, 1 direct f2) and ndim 2. Rows run from the highest f1 down, so both "
            "axes fall with the index (map() keeps map2d.tsv's rising f1).")
        .def(
            "to_xarray",
            [](const PythonSession& s, const std::string& kind, const py::object& run) { return toXarray(s, kind, run); },
            py::arg("kind") = "spectrum", py::arg("run") = 0,
            "The spectrum, fid or map as an xarray.DataArray with its axes as coordinates and the dictionary as "
            "attributes. Raises ImportError when xarray is not installed.");
}

}  // namespace velmora::python
