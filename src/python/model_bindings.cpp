// The Python side of models built in code (velmora.SpinSystem, velmora.Sequence) and of the
// Workbench's files and settings: open/save by name or path, set/get by readable or control name
// with numbers or text.
#include "model_bindings.h"

#include "model_objects.h"
#include "python_session.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "workbench/control_names.h"
#include "workbench/control_override.h"
#include "util/text_file.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <string>
#include <vector>

namespace py = pybind11;

namespace velmora::python {

namespace {

// A value as the box's text: True/False as 1/0, numbers in general format, text as it is.
std::string valueText(const py::handle& value)
{
    if (py::isinstance<py::bool_>(value))
        return value.cast<bool>() ? "1" : "0";
    if (py::isinstance<py::int_>(value))
        return py::str(value).cast<std::string>();
    if (py::isinstance<py::float_>(value))
        return util::formatGeneral(value.cast<double>());
    if (py::isinstance<py::str>(value))
        return value.cast<std::string>();
    throw py::type_error("a box takes a number or a text, not " +
                         py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
}

// The box's text as a number for numeric boxes, True/False for switches, else the text.
py::object boxValue(const std::string& text, model::ControlId id)
{
    const workbench::ReadableControl* box = workbench::readableControlOf(id);
    if (id.array.starts_with("Check"))
        return py::bool_(text == "1");
    if (!box || box->kind == workbench::BoxKind::Choice || box->kind == workbench::BoxKind::Switch ||
        box->kind == workbench::BoxKind::Text)
        return py::str(text);
    const std::optional<double> number = util::parseNumber(text);
    if (!number)
        return py::str(text);
    if ((box->kind == workbench::BoxKind::PowerOfTwo || box->kind == workbench::BoxKind::Whole) &&
        *number == std::floor(*number) && std::abs(*number) < 9e15)
        return py::int_(static_cast<long long>(*number));
    return py::float_(*number);
}

// A str is a file name of the working directory; an os.PathLike may also be an absolute path.
std::filesystem::path nameOrPath(const py::handle& argument)
{
    if (py::isinstance<py::str>(argument)) {
        const std::string name = argument.cast<std::string>();
        if (!util::isBareFileName(name))
            throw SessionError("\"" + name + "\": name a file of the working directory, without a folder (an "
                               "absolute pathlib.Path names a file elsewhere)");
        return name;
    }
    return std::filesystem::path(py::module_::import("os").attr("fspath")(argument).cast<std::string>());
}

std::filesystem::path pathArgument(const py::handle& path)
{
    return std::filesystem::path(py::module_::import("os").attr("fspath")(path).cast<std::string>());
}

int channelOf(const py::handle& channel)
{
    if (py::isinstance<py::int_>(channel)) {
        const int k = channel.cast<int>();
        if (k >= 0 && k < model::kChannelCount)
            return k;
    } else if (py::isinstance<py::str>(channel)) {
        const std::string name = channel.cast<std::string>();
        if (name == "1H" || name == "H")
            return 0;
        if (name == "13C" || name == "C")
            return 1;
        if (name == "15N" || name == "N")
            return 2;
    }
    throw SessionError("there is no channel " + py::repr(channel).cast<std::string>() +
                       ": the channels are 1H, 13C and 15N (0, 1, 2)");
}

int phaseCode(const py::handle& phase)
{
    if (py::isinstance<py::int_>(phase))
        return phase.cast<int>();
    const std::string name = py::str(phase).cast<std::string>();
    static const char* const names[] = {"x", "y", "-x", "-y", "f4", "f5", "f6", "f7", "f8", "f9"};
    for (int code = 0; code < 10; ++code)
        if (name == names[code])
            return code;
    throw SessionError("\"" + name + "\" is not a phase: x, y, -x, -y or f4 to f9");
}

void require(const util::Outcome& done)
{
    if (!done)
        throw SessionError(done.message());
}

model::ControlId sequenceBox(const model::Controls& controls, const std::string& name)
{
    const std::optional<model::ControlId> id = workbench::controlByName(controls, name);
    if (!id)
        throw SessionError(workbench::unknownControlMessage(name));
    return *id;
}

void setSequenceBox(CodeSequence& sequence, const std::string& name, const py::handle& value)
{
    const model::ControlId id = sequenceBox(sequence.controls, name);
    const std::string text = valueText(value);
    require(workbench::checkControlText(id, text));
    if (id.array.starts_with("Check")) {
        sequence.controls.setChecked(id, text == "1" || text == "true" || text == "True");
    } else if (id.array.starts_with("Label") || id.array.starts_with("Command")) {
        sequence.controls.setCaption(id, text);
    } else {
        sequence.controls.setText(id, text);
        if (id.array == model::ctl::CycleCountBox.array && id.index == model::ctl::CycleCountBox.index)
            sequence.sequence.elements().setValue(model::element::kCycleCount, util::parseNumber(text).value_or(0));
    }
}

py::object sequenceBoxValue(const CodeSequence& sequence, const std::string& name)
{
    const model::ControlId id = sequenceBox(sequence.controls, name);
    const model::ControlState& state = sequence.controls.at(id);
    if (id.array.starts_with("Check"))
        return py::bool_(state.value != 0);
    if (id.array.starts_with("Label") || id.array.starts_with("Command"))
        return py::str(state.caption);
    return boxValue(state.text, id);
}

int elementIndex(const model::ElementTable& elements, const std::string& name)
{
    const std::optional<int> index = elements.find(name, 0, model::element::kDecoupling - 1);
    if (!index)
        throw SessionError("there is no element \"" + name + "\"");
    return *index;
}

void requireStep(const CodeSequence& sequence, int step, bool withAcquisition)
{
    const int last = sequence.sequence.stepCount() + (withAcquisition ? 1 : 0);
    if (step < 0 || step > last)
        throw SessionError("there is no step " + std::to_string(step) + ": the sequence has steps 0 to " +
                           std::to_string(last));
}

py::bytes pickledText(const std::vector<std::string>& lines)
{
    return py::bytes(fileText(lines));
}

}  // namespace

void bindModelObjects(py::module_& m)
{
    py::class_<CodeSpinSystem>(m, "SpinSystem",
                               "A spin system (molecule) built in code: up to 10 spins 1H, 13C or 15N with a shift "
                               "in ppm, T1 and T2 in ms, and couplings in Hz, kept as given (a Workbench takes them at "
                               "single precision, as it reads a molecule file); every refusal of the molecule file reader is raised "
                               "here, as VelmoraError with the reader's message. Picklable.")
        .def(py::init<>(), "A spin system without spins.")
        .def("add_spin", &CodeSpinSystem::addSpin, py::arg("nucleus"), py::arg("shift_ppm") = 0.0,
             py::arg("t1_ms") = 1000.0, py::arg("t2_ms") = 1000.0,
             "Adds a spin of nucleus '1H', '13C' or '15N' and returns its index (0, 1, ...).")
        .def("couple", &CodeSpinSystem::couple, py::arg("i"), py::arg("j"), py::arg("hz"),
             "Sets the scalar coupling J(i, j) = J(j, i) in Hz.")
        .def("set_shift", &CodeSpinSystem::setShift, py::arg("spin"), py::arg("ppm"), "Sets a spin's shift in ppm.")
        .def("set_t1", &CodeSpinSystem::setT1, py::arg("spin"), py::arg("ms"), "Sets a spin's T1 in ms.")
        .def("set_t2", &CodeSpinSystem::setT2, py::arg("spin"), py::arg("ms"), "Sets a spin's T2 in ms.")
        .def_property_readonly("spin_count", &CodeSpinSystem::count, "The number of spins.")
        .def_property_readonly(
            "spins",
            [](const CodeSpinSystem& s) {
                py::list spins;
                static const char* const nuclei[] = {"1H", "13C", "15N"};
                for (int k = 0; k < s.count(); ++k) {
                    py::dict spin;
                    spin["label"] = s.system().label(k);
                    spin["nucleus"] = nuclei[s.system().channel(k)];
                    spin["shift_ppm"] = s.system().shiftPpm(k);
                    spin["t1_ms"] = s.system().t1Ms(k);
                    spin["t2_ms"] = s.system().t2Ms(k);
                    spins.append(spin);
                }
                return spins;
            },
            "The spins as dicts of label, nucleus, shift_ppm, t1_ms and t2_ms.")
        .def(
            "coupling", [](const CodeSpinSystem& s, int i, int j) { return s.system().couplingHz(i, j); },
            py::arg("i"), py::arg("j"), "J(i, j) in Hz.")
        .def(
            "to_text", [](const CodeSpinSystem& s) { return fileText(s.lines()); },
            "The molecule file's text (CR LF line ends).")
        .def_static(
            "from_text", [](const std::string& text) { return CodeSpinSystem::fromLines(textLines(text), "the text"); },
            py::arg("text"), "Reads a molecule file's text as the reader does.")
        .def_static(
            "read", [](const py::object& path) { return CodeSpinSystem::read(pathArgument(path)); }, py::arg("path"),
            "Reads a molecule file (a str or os.PathLike).")
        .def(
            "write",
            [](const CodeSpinSystem& s, const py::object& path) {
                require(util::writeTextFile(pathArgument(path), s.lines()));
            },
            py::arg("path"), "Writes the molecule file at path, as given.")
        .def("__eq__",
             [](const CodeSpinSystem& a, const CodeSpinSystem& b) {
                 return a.count() == b.count() && (a.count() == 0 || a.lines() == b.lines());
             })
        .def("__repr__",
             [](const CodeSpinSystem& s) {
                 std::string text = "SpinSystem(";
                 for (int k = 0; k < s.count(); ++k)
                     text += (k ? ", " : "") + s.system().label(k) + " " + util::formatGeneral(s.system().shiftPpm(k)) +
                             " ppm";
                 return text + ")";
             })
        .def(py::pickle(
            [](const CodeSpinSystem& s) {
                py::list spins;
                for (int k = 0; k < s.count(); ++k) {
                    py::list couplings;
                    for (int j = 0; j < s.count(); ++j)
                        couplings.append(s.system().couplingHz(k, j));
                    spins.append(py::make_tuple(s.system().label(k), s.system().shiftPpm(k), s.system().t1Ms(k),
                                                s.system().t2Ms(k), couplings));
                }
                return spins;
            },
            [](const py::list& spins) {
                static const char* const nuclei[] = {"1H", "13C", "15N"};
                CodeSpinSystem made;
                for (const py::handle spin : spins) {
                    const auto t = spin.cast<py::tuple>();
                    const std::string label = t[0].cast<std::string>();
                    const int channel = label.front() == 'H' ? 0 : label.front() == 'C' ? 1 : 2;
                    made.addSpin(nuclei[channel], t[1].cast<double>(), t[2].cast<double>(), t[3].cast<double>());
                }
                int k = 0;
                for (const py::handle spin : spins) {
                    const auto couplings = spin.cast<py::tuple>()[4].cast<std::vector<double>>();
                    for (int j = 0; j < static_cast<int>(couplings.size()); ++j)
                        if (j != k)
                            made.couple(k, j, couplings[static_cast<std::size_t>(j)]);
                    ++k;
                }
                return made;
            }));

    py::class_<CodeSequence>(m, "Sequence",
                             "A pulse sequence built in code, with the boxes a sequence file stores beside it (np, "
                             "sw, the switches, the phase cycle). Steps 1 to step_count are the editable steps, step "
                             "0 comes before them, and step_count + 1 is the acquisition. Channels are '1H', '13C', "
                             "'15N' (or 0, 1, 2); phases 'x', 'y', '-x', '-y' or 'f4' to 'f9'; elements are named as "
                             "in velmora-cli elements (p1..p10 in us, d1..d10 in ms, g1..g10, r1..r10 in dB, o1..o10 "
                             "in Hz, shaped pulses s1_FILE). Every call refuses what the window and the sequence "
                             "file reader refuse, with their message, as VelmoraError. Picklable.")
        .def(py::init<int>(), py::arg("steps") = 1,
             "A sequence of `steps` empty steps (every channel at r1..r3 and o1..o3), nothing arrayed, the "
             "start-up boxes.")
        .def_property_readonly(
            "step_count", [](const CodeSequence& s) { return s.sequence.stepCount(); }, "The editable steps.")
        .def(
            "insert_step",
            [](CodeSequence& s, int step) {
                if (!s.sequence.insertStep(step))
                    throw SessionError("cannot insert a step at " + std::to_string(step) + ": a sequence holds at most " +
                                       std::to_string(model::PulseSequence::kMaxStepCount) +
                                       " steps, inserted at 0 to " + std::to_string(s.sequence.stepCount()));
            },
            py::arg("step"), "Inserts a copy of step `step` before it.")
        .def(
            "delete_step",
            [](CodeSequence& s, int step) {
                if (!s.sequence.deleteStep(step))
                    throw SessionError("cannot delete step " + std::to_string(step) + ": the sequence has steps 1 to " +
                                       std::to_string(s.sequence.stepCount()));
            },
            py::arg("step"), "Deletes step `step`.")
        .def(
            "pulse",
            [](CodeSequence& s, int step, const py::object& channel, const std::string& element, const py::object& phase,
               const py::object& power, const py::object& offset) {
                requireStep(s, step, true);
                const int k = channelOf(channel);
                CodeSequence next = s;
                require(next.sequence.setContent(step, k, element));
                require(next.sequence.setPhase(step, k, phaseCode(phase)));
                if (!power.is_none())
                    require(next.sequence.setPower(step, k, py::str(power).cast<std::string>()));
                if (!offset.is_none())
                    require(next.sequence.setOffset(step, k, py::str(offset).cast<std::string>()));
                s = std::move(next);
            },
            py::arg("step"), py::arg("channel"), py::arg("element"), py::arg("phase") = "x", py::arg("power") = py::none(),
            py::arg("offset") = py::none(),
            "Puts a pulse (p1..p10, a shaped slot, 'n_' + a shaped-pulse file, 'dec' or 'none') on a channel of a "
            "step with its phase, and optionally its power (r1..r10) and offset (o1..o10) elements.")
        .def(
            "set_phase",
            [](CodeSequence& s, int step, const py::object& channel, const py::object& phase) {
                requireStep(s, step, true);
                require(s.sequence.setPhase(step, channelOf(channel), phaseCode(phase)));
            },
            py::arg("step"), py::arg("channel"), py::arg("phase"), "Sets the phase of a channel of a step.")
        .def(
            "delay",
            [](CodeSequence& s, int step, const std::string& element) {
                requireStep(s, step, true);
                require(s.sequence.setDelay(step, element));
            },
            py::arg("step"), py::arg("element"), "Sets the delay element (d1..d10 or 'none') of a step.")
        .def(
            "gradient",
            [](CodeSequence& s, int step, const std::string& element) {
                requireStep(s, step, true);
                require(s.sequence.setGradient(step, element));
            },
            py::arg("step"), py::arg("element"), "Sets the gradient element (g1..g10, a shaped gradient or 'none').")
        .def(
            "set_element",
            [](CodeSequence& s, const std::string& name, double value) {
                model::ElementTable& elements = s.sequence.elements();
                const int index = elementIndex(elements, name);
                require(workbench::checkElementValue(elements, index, value));
                elements.setValue(index, value);
                if (index == model::element::kCycleCount)
                    s.controls.setText(model::ctl::CycleCountBox, util::formatGeneral(value));
            },
            py::arg("name"), py::arg("value"), "Sets an element's value in its own unit (p2 in us, d1 in ms, ...).")
        .def(
            "element",
            [](const CodeSequence& s, const std::string& name) {
                return s.sequence.elements().value(elementIndex(s.sequence.elements(), name));
            },
            py::arg("name"), "An element's value in its own unit.")
        .def(
            "array",
            [](CodeSequence& s, const std::string& parameter, const py::object& ni, const py::object& increment,
               const py::object& method) {
                CodeSequence next = s;
                if (!ni.is_none())
                    setSequenceBox(next, "ni", ni);
                if (!increment.is_none())
                    setSequenceBox(next, "increment", increment);
                if (!method.is_none())
                    next.controls.setCaption(model::ctl::ArrayMethod, valueText(method));
                next.sequence.setArrayedParameter(parameter);
                s = std::move(next);
            },
            py::arg("parameter"), py::arg("ni") = py::none(), py::arg("increment") = py::none(),
            py::arg("method") = py::none(),
            "Arrays a parameter (an element name, 'Ncycle', 'T1', 'T2', 'Tcr', 'Kex' or 'none') over ni + 1 runs, "
            "stepping by increment in the element's unit; method 'Add', 'Mult' or a '*.tab' file.")
        .def(
            "phase_cycle",
            [](CodeSequence& s, const std::string& row, const std::string& digits) {
                static const char* const rows[] = {"f4", "f5", "f6", "f7", "f8", "f9"};
                int r = 0;
                while (r < model::PulseSequence::kPhaseRows && row != rows[r])
                    ++r;
                if (r == model::PulseSequence::kPhaseRows)
                    throw SessionError("\"" + row + "\" is not a variable phase: f4 to f9");
                if (digits.empty() || digits.find_first_not_of("0123") != std::string::npos)
                    throw SessionError("the phase cycle of " + row + " takes the digits 0 to 3 (x, y, -x, -y), not \"" +
                                       digits + "\"");
                std::vector<std::string> items = s.controls.at(model::ctl::PhaseCycle).items;
                items.resize(model::PulseSequence::kPhaseRows);
                items[static_cast<std::size_t>(r)] = digits;
                s.controls.setItems(model::ctl::PhaseCycle, items);
            },
            py::arg("row"), py::arg("digits"),
            "Sets the phase cycle of a variable phase f4..f9: one digit per scan, 0 x, 1 y, 2 -x, 3 -y.")
        .def(
            "acquire",
            [](CodeSequence& s, int step) {
                requireStep(s, step, true);
                if (s.sequence.acquisitionStep() == step)
                    return;
                if (!s.sequence.toggleAcquisition(step))
                    throw SessionError("step " + std::to_string(step) +
                                       " carries no shaped pulse: the receiver opens only during a shaped pulse");
            },
            py::arg("step"), "Acquires during the shaped pulse of a step.")
        .def(
            "cycle",
            [](CodeSequence& s, int start, int end, double count) {
                requireStep(s, start, false);
                requireStep(s, end, false);
                model::ElementTable& elements = s.sequence.elements();
                require(workbench::checkElementValue(elements, model::element::kCycleCount, count));
                s.sequence.setCycleStart(start);
                s.sequence.setCycleEnd(end);
                elements.setValue(model::element::kCycleCount, count);
                s.controls.setText(model::ctl::CycleCountBox, util::formatGeneral(count));
            },
            py::arg("start"), py::arg("end"), py::arg("count"),
            "Repeats steps start..end count times (the red { } buttons and the cycle box; the element Ncycle).")
        .def(
            "point",
            [](CodeSequence& s, int step) {
                requireStep(s, step, false);
                s.sequence.setPointStep(step);
            },
            py::arg("step"), "The step after which the operator table is taken (the point button).")
        .def(
            "set", [](CodeSequence& s, const std::string& name, const py::object& value) { setSequenceBox(s, name, value); },
            py::arg("control"), py::arg("value"),
            "Sets a box stored with the sequence by readable name (np, sw, lb, relax-t2, ...: velmora-cli controls) or "
            "control name, checked by the box's range.")
        .def(
            "get", [](const CodeSequence& s, const std::string& name) { return sequenceBoxValue(s, name); },
            py::arg("control"), "A box's value: a number for numeric boxes, True/False for switches, else its text.")
        .def(
            "to_text", [](const CodeSequence& s) { return fileText(s.lines()); },
            "The sequence file's text (CR LF line ends).")
        .def_static(
            "from_text",
            [](const std::string& text, const py::object& directory) {
                return CodeSequence::fromLines(textLines(text), "the text",
                                               directory.is_none() ? std::filesystem::path{} : pathArgument(directory));
            },
            py::arg("text"), py::arg("directory") = py::none(),
            "Reads a sequence file's text as the reader does; with a directory, shaped elements keep their names only "
            "when their files are there.")
        .def_static(
            "read", [](const py::object& path) { return CodeSequence::read(pathArgument(path)); }, py::arg("path"),
            "Reads a sequence file (a str or os.PathLike); its shaped pulses are looked up beside it.")
        .def(
            "write",
            [](const CodeSequence& s, const py::object& path) {
                require(util::writeTextFile(pathArgument(path), s.lines()));
            },
            py::arg("path"), "Writes the sequence file at path, as given.")
        .def("__eq__", [](const CodeSequence& a, const CodeSequence& b) { return a.lines() == b.lines(); })
        .def(py::pickle([](const CodeSequence& s) { return pickledText(s.lines()); },
                        [](const py::bytes& state) {
                            return CodeSequence::fromLines(textLines(state), "the pickled sequence", {});
                        }));
}

void bindWorkbenchModel(py::class_<PythonSession>& workbench)
{
    workbench
        .def(
            "open_molecule",
            [](PythonSession& session, const py::object& molecule) {
                if (py::isinstance<CodeSpinSystem>(molecule))
                    session.setSpinSystem(molecule.cast<const CodeSpinSystem&>().lines());
                else
                    session.openMolecule(nameOrPath(molecule));
            },
            py::arg("molecule"),
            "Reads a molecule file: a name (str) is a file of the working directory, an absolute os.PathLike "
            "(pathlib.Path) any file; a SpinSystem is taken as its file would be read. Raises VelmoraError with the reader's "
            "message when it cannot be read.")
        .def(
            "open_sequence",
            [](PythonSession& session, const py::object& sequence) {
                if (py::isinstance<CodeSequence>(sequence))
                    session.setSequence(sequence.cast<const CodeSequence&>().lines());
                else
                    session.openSequence(nameOrPath(sequence));
            },
            py::arg("sequence"),
            "Reads a sequence file (a name in the working directory, or an absolute pathlib.Path) or takes a Sequence; "
            "shaped pulses are those of the working directory. Raises VelmoraError with the reader's message.")
        .def(
            "set_spin_system",
            [](PythonSession& session, const CodeSpinSystem& spins) { session.setSpinSystem(spins.lines()); },
            py::arg("spin_system"), "Takes a SpinSystem built in code, as open_molecule takes a file.")
        .def(
            "set_sequence",
            [](PythonSession& session, const CodeSequence& sequence) { session.setSequence(sequence.lines()); },
            py::arg("sequence"), "Takes a Sequence built in code, as open_sequence takes a file.")
        .def(
            "spin_system", [](const PythonSession& session) { return CodeSpinSystem::of(session.idleBench().spinSystem()); },
            "A copy of the current spin system as a SpinSystem.")
        .def(
            "sequence",
            [](const PythonSession& session) {
                const workbench::Workbench& bench = session.idleBench();
                CodeSequence copy;
                copy.sequence = bench.sequence();
                copy.controls.replaceValues(bench.controls());
                copy.exchange = bench.exchange();
                return copy;
            },
            "A copy of the current sequence and its boxes as a Sequence.")
        .def(
            "save_molecule",
            [](PythonSession& session, const py::object& name) { session.saveMolecule(nameOrPath(name)); },
            py::arg("name"),
            "Writes the spin system as a molecule file: a name in the working directory, or an absolute pathlib.Path; "
            ".mol is added when missing, as the window's Save does.")
        .def(
            "save_sequence",
            [](PythonSession& session, const py::object& name) { session.saveSequence(nameOrPath(name)); },
            py::arg("name"), "Writes the sequence as a sequence file; .psq is added when missing.")
        .def(
            "set",
            [](PythonSession& session, const std::string& control, const py::object& value) {
                session.setControl(control, valueText(value));
            },
            py::arg("control"), py::arg("value"),
            "Sets a box by its readable name (np, sw, ni, lb, field-mhz, relax-t2, ...: velmora-cli controls) or "
            "control name (Text14(12)), to a number or a text, through the box's own handler. The value is checked "
            "against the box's range here, and refused with the box's message. 'phase0' and 'phase1' set the "
            "zero-order and first-order phase in degrees (the bars autophase moves; phase1 spans the spectrum, "
            "pivot at its centre point).")
        .def(
            "set_element",
            [](PythonSession& session, const std::string& name, const py::object& value) {
                const std::string text = valueText(value);
                const std::optional<double> number = util::parseNumber(text);
                if (!number)
                    throw SessionError("the element " + name + " takes a number, not \"" + text + "\"");
                session.setElement(name, *number);
            },
            py::arg("name"), py::arg("value"),
            "Sets an element of the sequence by name to a number (or its text) in the element's own unit (p2 in us, "
            "d1 in ms, ...), as velmora-cli --element does; a negative pulse length, delay or cycle count is refused.")
        .def(
            "get",
            [](const PythonSession& session, const std::string& control) -> py::object {
                bool firstOrder = false;
                if (control == "phase0" || (firstOrder = control == "phase1"))
                    return py::float_(session.phaseDegrees(firstOrder));
                model::ControlId id;
                const std::string text = session.control(control, &id);
                return boxValue(text, id);
            },
            py::arg("control"),
            "A box's value by readable or control name: a number for numeric boxes (np 1024, sw 1000.0), True or "
            "False for a switch, else the text (the caption of a label or button, the comma-joined items of a list); "
            "'phase0'/'phase1' in degrees.");
}

}  // namespace velmora::python
