#include "python_session.h"

#include "model/controls.h"
#include "util/file_listing.h"
#include "util/number_format.h"
#include "model/molecule_file.h"
#include "model/sequence_file.h"
#include "util/numeric_text.h"
#include "util/text_compare.h"
#include "workbench/automatic_phase.h"
#include "workbench/control_handlers.h"
#include "workbench/control_names.h"
#include "workbench/control_override.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/file_commands.h"
#include "workbench/remembered_options.h"
#include "workbench/result_tables.h"
#include "workbench/start_up.h"

#include <cmath>

namespace velmora::python {

namespace {

// Clears the busy flag, the claim and the progress listeners however the run ends.
class RunScope {
public:
    RunScope(std::atomic<bool>& busy, workbench::Workbench& bench) : busy_(busy), bench_(bench) {}
    ~RunScope()
    {
        bench_.setProgressListener({});
        bench_.setPhaseListener({});
        bench_.runControl().release();
        busy_.store(false);
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    std::atomic<bool>& busy_;
    workbench::Workbench& bench_;
};

std::filesystem::path existingDirectory(const std::filesystem::path& directory)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec))
        throw SessionError("the working directory " + directory.string() + " does not exist");
    return std::filesystem::absolute(directory, ec);
}

}  // namespace

PythonSession::PythonSession(const std::filesystem::path& workingDirectory)
    : bench_(messages_, existingDirectory(workingDirectory))
{
    workbench::startUpIn(bench_, bench_.workingDirectory());
}

const workbench::Workbench& PythonSession::idleBench() const
{
    if (busy_.load())
        throw SessionBusy("a run is already in progress");
    return bench_;
}

workbench::Workbench& PythonSession::idleBench()
{
    if (busy_.load())
        throw SessionBusy("a run is already in progress");
    return bench_;
}

std::string PythonSession::messagesSince(std::size_t first) const
{
    std::string text;
    for (std::size_t k = first; k < messages_.entries.size(); ++k) {
        if (!text.empty())
            text += "\n";
        text += messages_.entries[k].text;
    }
    return text;
}

void PythonSession::checkRead(bool read, std::size_t first, const std::string& what)
{
    if (read)
        return;
    const std::string said = messagesSince(first);
    throw SessionError(said.empty() ? what : said);
}

// The files a session reads are those of its working directory, as the command line's --mol and
// --psq take them: a name with a folder or ".." would read outside it.
namespace {
void requireBareName(const std::string& name)
{
    if (!util::isBareFileName(name))
        throw SessionError("\"" + name + "\": name a file of the working directory, without a folder");
}
}  // namespace

namespace {
// A bare name stays in the working directory; an absolute path is used as it is.
bool isAbsoluteArgument(const std::filesystem::path& name)
{
    if (name.is_absolute())
        return true;
    requireBareName(name.string());
    return false;
}

void requireRead(const model::FileReadResult& result, const std::filesystem::path& path)
{
    if (result.status == model::FileReadResult::Status::Missing)
        throw SessionError("there is no file " + path.string());
    if (result.wasRefused())
        throw SessionError(result.message);
}
}  // namespace

void PythonSession::openMolecule(const std::filesystem::path& name)
{
    if (isAbsoluteArgument(name)) {
        requireRead(model::readMolecule(name, idleBench().spinSystem()), name);
        return;
    }
    const std::size_t first = messages_.entries.size();
    checkRead(workbench::openMolecule(idleBench(), name.string()).wasRead(), first, "cannot read " + name.string());
    workbench::markDocumentSaved(bench_, workbench::FileList::Molecules, name.string());  // for the manifest
}

void PythonSession::openSequence(const std::filesystem::path& name)
{
    if (isAbsoluteArgument(name)) {
        workbench::Workbench& bench = idleBench();
        requireRead(model::readSequence(name, bench.workingDirectory(),
                                        {bench.sequence(), bench.controls(), bench.exchange()}),
                    name);
        workbench::applyStoredBoxes(bench);
        workbench::readRememberedOptions(bench, workbench::optionsBeside(name));
        bench.runPreparationOnly();
        return;
    }
    const std::size_t first = messages_.entries.size();
    checkRead(workbench::openSequence(idleBench(), name.string()).wasRead(), first, "cannot read " + name.string());
    workbench::markDocumentSaved(bench_, workbench::FileList::Sequences, name.string());  // for the manifest
}

void PythonSession::setSpinSystem(const std::vector<std::string>& moleculeLines)
{
    requireRead(model::readMoleculeLines(moleculeLines, "built in code", idleBench().spinSystem()), "built in code");
}

void PythonSession::setSequence(const std::vector<std::string>& sequenceLines)
{
    workbench::Workbench& bench = idleBench();
    requireRead(model::readSequenceLines(sequenceLines, "built in code", bench.workingDirectory(),
                                         {bench.sequence(), bench.controls(), bench.exchange()}),
                "built in code");
    workbench::applyStoredBoxes(bench);
    bench.runPreparationOnly();
}

namespace {
// Writes into another folder under the name the window's Save would give the file.
void saveElsewhere(workbench::Workbench& bench, workbench::FileList kind, const std::filesystem::path& path)
{
    std::string why;
    const std::string name = workbench::savedFileName(path.filename().string(), kind, why);
    if (name.empty())
        throw SessionError(why);
    const std::filesystem::path target = path.parent_path() / name;
    const util::Outcome written =
        kind == workbench::FileList::Molecules
            ? model::writeMolecule(target, bench.spinSystem())
            : model::writeSequence(target, bench.sequence(), bench.controls(), bench.exchange());
    if (!written)
        throw SessionError(written.message());
}
}  // namespace

void PythonSession::saveMolecule(const std::filesystem::path& name)
{
    if (isAbsoluteArgument(name)) {
        saveElsewhere(idleBench(), workbench::FileList::Molecules, name);
        return;
    }
    const std::size_t first = messages_.entries.size();
    checkRead(workbench::saveDocument(idleBench(), workbench::FileList::Molecules, name.string()), first,
              "cannot write " + name.string());
}

void PythonSession::saveSequence(const std::filesystem::path& name)
{
    if (isAbsoluteArgument(name)) {
        saveElsewhere(idleBench(), workbench::FileList::Sequences, name);
        return;
    }
    const std::size_t first = messages_.entries.size();
    checkRead(workbench::saveDocument(idleBench(), workbench::FileList::Sequences, name.string()), first,
              "cannot write " + name.string());
}

namespace {
constexpr model::ControlId kFirstOrderBar{"HScroll2", 0};
constexpr model::ControlId kZeroOrderBar{"HScroll2", 1};

bool isPhaseName(const std::string& name, bool& firstOrder)
{
    firstOrder = util::equalsIgnoreCase(name, "phase1");
    return firstOrder || util::equalsIgnoreCase(name, "phase0");
}

int pointCount(const model::Controls& controls)
{
    return static_cast<int>(controls.number(model::ctl::PointCount).value_or(0.0));
}
}  // namespace

double PythonSession::phaseDegrees(bool firstOrder) const
{
    const model::Controls& controls = idleBench().controls();
    if (firstOrder)
        return controls.at(kFirstOrderBar).value * static_cast<double>(pointCount(controls)) / 10.0;
    return 10.0 * controls.at(kZeroOrderBar).value;
}

void PythonSession::setControl(const std::string& name, const std::string& text)
{
    bool firstOrder = false;
    if (isPhaseName(name, firstOrder)) {
        const std::optional<double> degrees = util::parseNumber(text);
        if (!degrees || !std::isfinite(*degrees))
            throw SessionError(name + " takes a phase in degrees, not \"" + text + "\"");
        workbench::Workbench& bench = idleBench();
        const int np = pointCount(bench.controls());
        if (firstOrder && np <= 0)
            throw SessionError("phase1 needs the point count np");
        processing::PhaseSetting phase{bench.controls().at(kFirstOrderBar).value,
                                       bench.controls().at(kZeroOrderBar).value};
        const double bar = firstOrder ? std::round(*degrees * 10.0 / np) : std::round(*degrees / 10.0);
        if (std::abs(bar) > 1e9)
            throw SessionError(name + " " + text + " is beyond the phase bars");
        (firstOrder ? phase.rp : phase.lp) = static_cast<int>(bar);
        workbench::setPhase(bench, phase);
        return;
    }
    if (const util::Outcome applied = workbench::applyControlOverride(idleBench(), name + "=" + text); !applied)
        throw SessionError(applied.message());
    overrides_.push_back("set " + name + "=" + text);
}

std::string PythonSession::control(const std::string& name, model::ControlId* box) const
{
    const model::Controls& controls = idleBench().controls();
    const std::optional<model::ControlId> id = workbench::controlByName(controls, name);
    if (!id)
        throw SessionError(workbench::unknownControlMessage(name));
    if (box)
        *box = *id;
    const model::ControlState& state = controls.at(*id);
    if (id->array.starts_with("Check"))
        return state.value != 0 ? "1" : "0";
    if (id->array.starts_with("Label") || id->array.starts_with("Command"))
        return state.caption;
    if (id->array.starts_with("List")) {
        std::string items;
        for (const std::string& item : state.items)
            items += (items.empty() ? "" : ",") + item;
        return items;
    }
    return state.text;
}

void PythonSession::setElement(const std::string& name, double value)
{
    if (const util::Outcome applied =
            workbench::applyElementOverride(idleBench(), name + "=" + util::formatGeneral(value));
        !applied)
        throw SessionError(applied.message());
    overrides_.push_back("set_element " + name + "=" + util::formatGeneral(value));
}

double PythonSession::element(const std::string& name) const
{
    const model::ElementTable& elements = idleBench().sequence().elements();
    const std::optional<int> index = elements.find(name, 0, model::element::kDecoupling - 1);
    if (!index)
        throw SessionError("there is no element \"" + name + "\"");
    return elements.value(*index);
}

processing::PhaseSetting PythonSession::autophase()
{
    workbench::Workbench& bench = idleBench();
    if (const util::Outcome phased = workbench::phaseAutomatically(bench); !phased)
        throw SessionError(phased.message());
    const model::Controls& controls = bench.controls();
    return {controls.at({"HScroll2", 0}).value, controls.at({"HScroll2", 1}).value};
}

void PythonSession::claimRun()
{
    if (busy_.exchange(true))
        throw SessionBusy("a run is already in progress");
    // From here a stop() is kept for the run, whenever its thread gets to start it.
    if (!bench_.runControl().claim()) {
        busy_.store(false);
        throw SessionBusy("a run is already in progress");
    }
}

void PythonSession::runClaimed(bool twoD, const RunChoice& choice)
{
    const RunScope scope(busy_, bench_);
    bench_.setProgressListener(choice.progress);
    bench_.setPhaseListener(choice.phases);
    const std::size_t first = messages_.entries.size();
    workbench::OutputChoice outputs = !choice.writeFiles ? workbench::OutputChoice::nothing()
                                                         : choice.outputs.value_or(workbench::OutputChoice{});
    outputs.resultSet = choice.writeFiles;
    outputs.pictures = false;  // a session draws nothing
    outputs.jcamp = false;     // write_jcamp() writes them after the run, outside its result set
    // Without a list the run writes the files the window writes; a list may name the tables too.
    const workbench::ExtraResults tables = [&](workbench::StartOutcome ended,
                                               const std::filesystem::path& staging) {
        if (!choice.outputs || ended != workbench::StartOutcome::Completed ||
            !bench_.records().spectraComputed)
            return;
        if (outputs.spectra)
            (void)workbench::writeSpectraTable(bench_, staging / "spectra.tsv");
        if (outputs.map && bench_.records().map)
            (void)workbench::writeMapTable(bench_, staging / "map2d.tsv");
    };
#ifdef VELMORA_VERSION
    const std::string program = std::string("velmora Python module ") + VELMORA_VERSION;
#else
    const std::string program = "velmora Python module";
#endif
    const workbench::RunRequestNote note{program, choice.call, overrides_};
    const workbench::StartOutcome outcome = workbench::startExperiment(
        bench_, twoD, choice.outputs ? tables : workbench::ExtraResults{}, outputs, note);
    switch (outcome) {
    case workbench::StartOutcome::Completed:
        return;
    case workbench::StartOutcome::Stopped:
        throw RunStopped("the run " + bench_.records().ended);
    case workbench::StartOutcome::Refused: {
        const std::string said = messagesSince(first);
        throw SessionError(said.empty() ? "the sequence was refused; nothing was run" : said);
    }
    case workbench::StartOutcome::StepRefused:
        throw SessionError("the runs were done, but a processing step refused: " +
                           bench_.records().chainRefusal);
    case workbench::StartOutcome::Failed: {
        if (!bench_.records().ended.empty())
            throw SessionError("the run ended " + bench_.records().ended);
        const std::string said = messagesSince(first);
        throw SessionError(said.empty() ? "the run failed" : said);
    }
    case workbench::StartOutcome::Busy:
        break;
    }
    throw SessionBusy("a run is already in progress");
}

std::vector<std::string> PythonSession::takeMessages()
{
    std::vector<std::string> texts;
    (void)idleBench();
    for (const util::RecordedMessages::Entry& entry : messages_.entries)
        texts.push_back(entry.title.empty() ? entry.text : entry.title + ": " + entry.text);
    messages_.entries.clear();
    return texts;
}

}  // namespace velmora::python
