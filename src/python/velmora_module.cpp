// The Python module `velmora`: a notebook drives the same workbench as the window and velmora-cli.
// A Workbench opens a working directory; molecule and sequence files, controls (by the names
// --set takes) and elements (as --element takes them) are read and written through the core's own
// commands; a run releases the interpreter's lock and can be stopped from another thread; the
// results come back as NumPy arrays that own their memory (a view into the live records would
// dangle once the next run rebuilds them).
#include "model_bindings.h"
#include "result_bindings.h"
#include "sweep_bindings.h"
#include "text_signatures.h"
#include "python_session.h"

#include "engine/operator_output.h"
#include "processing/peaks.h"
#include "workbench/jcamp_export.h"
#include "workbench/result_tables.h"

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace velmora::python {

namespace {

// A NumPy array that takes over `values` without copying them.
py::array_t<double> ownedArray(std::vector<double>&& values, std::vector<py::ssize_t> shape)
{
    auto* held = new std::vector<double>(std::move(values));
    const py::capsule owner(held, [](void* p) { delete static_cast<std::vector<double>*>(p); });
    return py::array_t<double>(std::move(shape), held->data(), owner);
}

const engine::Preparation& preparedRun(const workbench::Workbench& bench)
{
    const workbench::RunRecords& records = bench.records();
    if (!records.spectraComputed || !records.preparation)
        throw SessionError("there are no results: no run has completed");
    return *records.preparation;
}

// Puts every run's own real, imaginary and magnitude rows (runs x np) into `result`, and with
// several runs the last slot's sum as "sum_real", "sum_imaginary" and "sum_magnitude" (np each).
void putColumns(py::dict& result, workbench::SpectraColumns&& columns, int lastRun)
{
    const char* names[] = {"real", "imaginary", "magnitude"};
    const auto runs = static_cast<py::ssize_t>(columns.runs.size());
    const auto np = static_cast<py::ssize_t>(columns.runs.front()[0].size());
    for (std::size_t part = 0; part < 3; ++part) {
        std::vector<double> values;
        values.reserve(static_cast<std::size_t>(runs * np));
        for (const auto& run : columns.runs)
            values.insert(values.end(), run[part].begin(), run[part].end());
        result[names[part]] = ownedArray(std::move(values), {runs, np});
        if (columns.sum && lastRun > 0)
            result[("sum_" + std::string(names[part])).c_str()] = ownedArray(std::move((*columns.sum)[part]), {np});
    }
}

py::dict spectra(const PythonSession& session)
{
    const workbench::Workbench& bench = session.idleBench();
    const engine::Preparation& prepared = preparedRun(bench);
    workbench::SpectraColumns columns = workbench::spectraColumns(bench);
    if (columns.runs.empty())
        throw SessionError("there are no spectra");
    const auto np = static_cast<int>(columns.runs.front()[0].size());
    const double sw = workbench::spectraWidthHz(bench);
    const double mhz = workbench::jcampObserve(bench).frequencyMHz;
    std::vector<double> hz, ppm;
    for (int i = 0; i < np; ++i) {
        hz.push_back(processing::pointFrequencyHz(i, np, sw));
        ppm.push_back(hz.back() / mhz);
    }
    py::dict result;
    result["hz"] = ownedArray(std::move(hz), {np});
    result["ppm"] = ownedArray(std::move(ppm), {np});
    putColumns(result, std::move(columns), prepared.run.lastRun);
    return result;
}

py::dict fids(const PythonSession& session)
{
    const workbench::Workbench& bench = session.idleBench();
    const engine::Preparation& prepared = preparedRun(bench);
    if (bench.records().twoD)
        throw SessionError("a 2D run keeps no FIDs: its records hold the direct-dimension spectra");
    workbench::SpectraColumns columns = workbench::fidColumns(bench);
    if (columns.runs.empty())
        throw SessionError("there are no FIDs");
    const auto np = static_cast<int>(columns.runs.front()[0].size());
    const double sw = workbench::spectraWidthHz(bench);
    std::vector<double> seconds;
    for (int i = 0; i < np; ++i)
        seconds.push_back(i / sw);
    py::dict result;
    result["seconds"] = ownedArray(std::move(seconds), {np});
    putColumns(result, std::move(columns), prepared.run.lastRun);
    return result;
}

py::object map2d(const PythonSession& session)
{
    const workbench::Workbench& bench = session.idleBench();
    const std::optional<processing::Map2D>& map = bench.records().map;
    if (!map)
        return py::none();
    const int np = map->pointCount;
    const double sw = workbench::spectraWidthHz(bench);
    const double sw1 = workbench::indirectSpectraWidthHz(bench);
    const double mhz = workbench::jcampObserve(bench).frequencyMHz;
    std::vector<double> f1, f2, f1ppm, f2ppm;
    for (int i = 0; i < np; ++i) {
        f1.push_back(processing::indirectFrequencyHz(i, np, sw1));
        f2.push_back(processing::pointFrequencyHz(i, np, sw));
        f1ppm.push_back(f1.back() / mhz);
        f2ppm.push_back(f2.back() / mhz);
    }
    py::dict result;
    result["f1_hz"] = ownedArray(std::move(f1), {np});
    result["f2_hz"] = ownedArray(std::move(f2), {np});
    result["f1_ppm"] = ownedArray(std::move(f1ppm), {np});
    result["f2_ppm"] = ownedArray(std::move(f2ppm), {np});
    result["values"] = ownedArray(std::vector<double>(map->values), {np, np});
    return result;
}

py::dict operators(const PythonSession& session)
{
    const workbench::Workbench& bench = session.idleBench();
    const workbench::RunRecords& records = bench.records();
    const engine::OperatorRecord& record = records.driver.operators;
    py::dict result;
    for (std::size_t k = 0; k < records.operators.listed.size(); ++k) {
        std::vector<double> values;
        for (int r = 0; r <= record.lastRun(); ++r)
            values.push_back(record.at(records.operators.listed[k], r) / 1000.0);
        const auto runs = static_cast<py::ssize_t>(values.size());
        result[py::str(records.operators.names[k])] = ownedArray(std::move(values), {runs});
    }
    return result;
}

py::array_t<double> arrayedValues(const PythonSession& session)
{
    const engine::Preparation& prepared = preparedRun(session.idleBench());
    std::vector<double> values = prepared.run.arrayedValues;
    const auto count = static_cast<py::ssize_t>(values.size());
    return ownedArray(std::move(values), {count});
}

// write_files: True (the run's files, as the window writes them), False (results in memory only)
// or a list of outputs ("spectra", "map", "operators", "records").
PythonSession::RunChoice runChoice(bool twoD, const py::object& writeFiles)
{
    PythonSession::RunChoice choice;
    std::string written = "True";
    if (py::isinstance<py::bool_>(writeFiles)) {
        choice.writeFiles = writeFiles.cast<bool>();
        written = choice.writeFiles ? "True" : "False";
    } else {
        std::string list;
        for (const py::handle item : writeFiles)
            list += (list.empty() ? "" : ",") + py::str(item).cast<std::string>();
        std::string wrong;
        const std::optional<workbench::OutputChoice> chosen = workbench::parseOutputChoice(list, wrong);
        if (!chosen)
            throw SessionError("write_files: " + wrong);
        choice.outputs = *chosen;
        written = "[" + list + "]";
    }
    choice.call =
        std::string("Workbench.run(two_d=") + (twoD ? "True" : "False") + ", write_files=" + written + ")";
    return choice;
}

void run(PythonSession& session, bool twoD, const py::object& progress, const py::object& writeFiles,
         const py::object& onProgress)
{
    PythonSession::RunChoice choice = runChoice(twoD, writeFiles);
    session.claimRun();
    std::exception_ptr callbackError;
    // A callback's own exception ends the run and reaches the caller.
    const auto call = [&](const auto& callback) {
        const py::gil_scoped_acquire gil;
        if (callbackError)
            return;
        try {
            callback();
        } catch (...) {
            callbackError = std::current_exception();
            session.stop();
        }
    };
    if (!progress.is_none())
        choice.progress = [&](int runsDone, int runs) { call([&] { progress(runsDone, runs); }); };
    if (!onProgress.is_none())
        choice.phases = [&](std::string_view phase, double fraction) {
            call([&] { onProgress(std::string(phase), fraction); });
        };
    std::exception_ptr runError;
    {
        // Runs of other Workbenches of this process may go on meanwhile: each run's watch on the
        // files it writes belongs to its own thread.
        const py::gil_scoped_release released;
        try {
            session.runClaimed(twoD, choice);
        } catch (...) {
            runError = std::current_exception();
        }
    }
    if (callbackError)
        std::rethrow_exception(callbackError);
    if (runError)
        std::rethrow_exception(runError);
}

std::vector<std::string> writeJcamp(PythonSession& session, const py::object& directory)
{
    const workbench::Workbench& bench = session.idleBench();
    const std::filesystem::path target = directory.is_none()
                                             ? std::filesystem::path(bench.workingDirectory())
                                             : std::filesystem::path(py::str(directory).cast<std::string>());
    std::vector<std::string> written;
    if (const util::Outcome done = workbench::writeJcampFiles(bench, target, &written); !done)
        throw SessionError(done.message());
    return written;
}

}  // namespace

}  // namespace velmora::python

PYBIND11_MODULE(_velmora, m)
{
    using velmora::python::PythonSession;
    namespace vp = velmora::python;
    m.doc() = "Velmora, the NMR spin-dynamics simulator, driven from Python: open a working directory, "
              "set up the spin system and the sequence, run, and read the spectra, FIDs, 2D map and "
              "operator table as NumPy arrays.";

    auto& error = py::register_exception<vp::SessionError>(m, "VelmoraError");
    error.doc() = "A refusal or failure of the simulator, carrying the program's message.";
    py::register_exception<vp::RunStopped>(m, "RunStopped", error.ptr());
    py::register_exception<vp::SessionBusy>(m, "Busy", error.ptr());

#ifdef VELMORA_VERSION
    m.attr("__version__") = VELMORA_VERSION;
#endif
    vp::bindModelObjects(m);

    py::class_<PythonSession> workbench(m, "Workbench", "One session of the simulator on a working directory.");
    vp::bindWorkbenchModel(workbench);
    vp::bindResults(workbench);
    vp::bindSweepPieces(m, workbench);
    workbench
        .def(py::init<const std::filesystem::path&>(), py::arg("working_directory"),
             "Opens the working directory (it must exist) with the start-up spin system, sequence and "
             "controls; the settings file is not touched.")
        .def_property_readonly("working_directory", &PythonSession::workingDirectory,
                               "The working directory, ending in the path separator.")
        .def("element", &PythonSession::element, py::arg("name"), "The value of an element of the sequence.")
        .def("run", &vp::run, py::arg("two_d") = false, py::arg("progress") = py::none(),
             py::arg("write_files") = true, py::arg("on_progress") = py::none(),
             "Runs Start (two_d False) or Start_2D. The interpreter's lock is released while it runs, "
             "so another thread may call stop(). progress(runs_done, runs) is called after every run; "
             "on_progress(phase, fraction) as the whole run goes on (phase 'runs', 'spectra' or "
             "'writing'; the fraction never falls and is 1.0 only once the run has completed). An "
             "exception either raises ends the run and is raised here. write_files True writes the "
             "run's files as the window does, False keeps the results in memory only (the result set "
             "on disk stays as it was; rem.mol and rem.psq are saved), a list such as ['spectra', "
             "'operators'] writes only those (spectra, map, operators, records). Raises RunStopped "
             "when stopped, VelmoraError with the program's message when the sequence is refused or "
             "the run fails ('the run ended failed: <file>: <reason>' when a file could not be written).")
        .def("stop", &PythonSession::stop,
             "Ends a run in progress (from any thread), as Stop does; a stop made once run() has begun "
             "is never lost.")
        .def_property_readonly("running", &PythonSession::running, "True while a run is in progress.")
        .def(
            "autophase",
            [](PythonSession& session) {
                const velmora::processing::PhaseSetting phase = session.autophase();
                return std::pair<int, int>(phase.rp, phase.lp);
            },
            "Phases the last 1D run's spectra automatically (zero and first order), as the window's "
            "autophase button and velmora-cli --autophase do: sets the phase bars and returns (rp, lp), "
            "rp in tenths of a degree per point and lp in tens of degrees. Later spectra() are phased "
            "with them. Raises VelmoraError when there is no 1D spectrum.")
        .def("spectra", &vp::spectra,
             "The spectra of the last run as the spectrum view shows them (phased), as in spectra.tsv: "
             "a dict of 'hz' and 'ppm' (the axis, np points), 'real', 'imaginary', 'magnitude' (every "
             "run's own spectrum, runs x np) and, with several runs, 'sum_real', 'sum_imaginary', "
             "'sum_magnitude' (np points).")
        .def("fids", &vp::fids,
             "The windowed FIDs of the last 1D run: a dict of 'seconds' (np points), 'real', "
             "'imaginary', 'magnitude' (every run's own FID, runs x np) and, with several runs, "
             "'sum_real', 'sum_imaginary', 'sum_magnitude'.")
        .def("map", &vp::map2d,
             "The 2D map of the last Start_2D as in map2d.tsv: a dict of 'f1_hz', 'f2_hz', 'f1_ppm', "
             "'f2_ppm' and 'values' (indirect x direct), or None after a 1D run.")
        .def("operators", &vp::operators,
             "The operator table of the last run as in prodop.dat: a dict of arrays (one value per run, "
             "coefficient / 1000) keyed by operator name.")
        .def("arrayed_values", &vp::arrayedValues,
             "The arrayed parameter's value of every run of the last run.")
        .def("write_jcamp", &vp::writeJcamp, py::arg("directory") = py::none(),
             "Writes the last run's spectra and FIDs, or its 2D map, as JCAMP-DX files into directory "
             "(the working directory by default) and returns their names.")
        .def("take_messages", &PythonSession::takeMessages,
             "The messages the simulator showed since the last call (warnings of reads and runs that "
             "went through), oldest first.");
    vp::addTextSignatures(m);
}
