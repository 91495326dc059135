#include "workbench/file_commands.h"

#include "model/molecule_file.h"
#include "model/sequence_file.h"
#include "workbench/control_handlers.h"
#include "workbench/workbench.h"

#include <string>

namespace velmora::workbench {

namespace {

constexpr std::string_view kErrorTitle = "Error!";

model::ControlId nameBox(FileList list)
{
    return list == FileList::Molecules ? model::ctl::MoleculeFileName : model::ctl::SequenceFileName;
}

model::FileReadResult reported(Workbench& bench, model::FileReadResult result)
{
    if (result.wasRefused())
        bench.messages().show(result.message, kErrorTitle);
    return result;
}

bool reported(Workbench& bench, const util::Outcome& outcome)
{
    if (!outcome)
        bench.messages().show(outcome.message(), kErrorTitle);
    return outcome.ok();
}

}  // namespace

model::FileReadResult openMolecule(Workbench& bench, std::string_view fileName)
{
    return reported(bench, model::readMolecule(bench.pathOf(fileName), bench.spinSystem()));
}

model::FileReadResult openSequence(Workbench& bench, std::string_view fileName)
{
    model::SequenceDocument document{bench.sequence(), bench.controls(), bench.exchange()};
    const model::FileReadResult result =
        reported(bench, model::readSequence(bench.pathOf(fileName), bench.workingDirectory(), document));
    if (result.wasRead()) {
        applyStoredBoxes(bench);
        bench.runPreparationOnly();
    }
    return result;
}

bool saveMolecule(Workbench& bench, std::string_view fileName)
{
    return reported(bench, model::writeMolecule(bench.pathOf(fileName), bench.spinSystem()));
}

bool saveSequence(Workbench& bench, std::string_view fileName)
{
    return reported(bench, model::writeSequence(bench.pathOf(fileName), bench.sequence(), bench.controls(),
                                                bench.exchange()));
}

bool pickFile(Workbench& bench, FileList list, std::string_view entry)
{
    if (entry.find('.') == std::string_view::npos) {
        bench.messages().show(kUnknownFileMessage);
        return false;
    }
    bench.controls().setText(nameBox(list), std::string(entry));
    return true;
}

bool openPickedFile(Workbench& bench, FileList list)
{
    const std::string name = bench.controls().text(nameBox(list));
    if (name.empty()) {
        bench.messages().show(kUnknownFileMessage);
        return false;
    }
    const model::FileReadResult result =
        list == FileList::Molecules ? openMolecule(bench, name) : openSequence(bench, name);
    return !result.wasRefused();
}

bool savePickedFile(Workbench& bench, FileList list)
{
    const std::string name = bench.controls().text(nameBox(list));
    if (name.empty()) {
        bench.messages().show(kUnknownFileMessage);
        return false;
    }
    return list == FileList::Molecules ? saveMolecule(bench, name) : saveSequence(bench, name);
}

}  // namespace velmora::workbench
