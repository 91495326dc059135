#include "workbench/file_commands.h"

#include "model/controls.h"
#include "model/molecule_file.h"
#include "model/sequence_file.h"
#include "util/text_file.h"
#include "workbench/control_handlers.h"
#include "workbench/remembered_options.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <cctype>
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

std::string_view extensionOf(FileList kind)
{
    return kind == FileList::Molecules ? ".mol" : ".psq";
}

bool endsWithIgnoringCase(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
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
        readRememberedOptions(bench, optionsBeside(bench.pathOf(fileName)));
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
    const std::filesystem::path path = bench.pathOf(fileName);
    if (!reported(bench, model::writeSequence(path, bench.sequence(), bench.controls(), bench.exchange())))
        return false;
    // The automatic copy's options are written with the copies of an accepted Start (rem.options).
    const std::filesystem::path options = optionsBeside(path);
    if (path.filename() == kAutomaticSequence ||
        (!bench.controls().checked(model::ctl::StrongCoupling) && !util::fileExists(options)))
        return true;
    return reported(bench, saveRememberedOptions(bench, options));
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
    if (result.wasRead())
        markDocumentSaved(bench, list, name);
    return !result.wasRefused();
}

bool savePickedFile(Workbench& bench, FileList list)
{
    const std::string name = bench.controls().text(nameBox(list));
    if (name.empty()) {
        bench.messages().show(kUnknownFileMessage);
        return false;
    }
    return saveDocument(bench, list, name);
}

std::string savedFileName(std::string_view typed, FileList kind, std::string& why)
{
    const std::string_view own = extensionOf(kind);
    const FileList otherKind = kind == FileList::Molecules ? FileList::Sequences : FileList::Molecules;
    const std::string_view other = extensionOf(otherKind);
    const char* what = kind == FileList::Molecules ? "molecule" : "sequence";
    if (typed.empty() || typed == "." || typed == "..") {
        why = std::string("a ") + what + " file needs a name";
        return {};
    }
    if (typed.find_first_of("/\\") != std::string_view::npos) {
        why = "\"" + std::string(typed) + "\": a " + what +
              " is saved in the working directory, under a name without a folder";
        return {};
    }
    if (endsWithIgnoringCase(typed, other)) {
        why = "\"" + std::string(typed) + "\" is the name of a " +
              (otherKind == FileList::Molecules ? "molecule" : "sequence") + " file: a " + what +
              " is saved as " + std::string(own);
        return {};
    }
    std::string name(typed);
    if (!endsWithIgnoringCase(name, own))
        name += own;
    return name;
}

bool saveDocument(Workbench& bench, FileList kind, std::string_view typed)
{
    std::string why;
    const std::string name = savedFileName(typed, kind, why);
    if (name.empty()) {
        bench.messages().show(why, kErrorTitle);
        return false;
    }
    const bool saved = kind == FileList::Molecules ? saveMolecule(bench, name) : saveSequence(bench, name);
    if (saved)
        markDocumentSaved(bench, kind, name);
    return saved;
}

std::vector<std::string> documentText(const Workbench& bench, FileList kind)
{
    if (kind == FileList::Molecules)
        return model::moleculeLines(bench.spinSystem());
    std::vector<std::string> lines;
    if (!model::composeSequence(bench.sequence(), bench.controls(), bench.exchange(), lines))
        lines.clear();
    return lines;
}

bool documentEdited(const Workbench& bench, FileList kind)
{
    return bench.documents().edited(kind, documentText(bench, kind));
}

void markDocumentSaved(Workbench& bench, FileList kind, std::string name)
{
    bench.documents().markSaved(kind, std::move(name), documentText(bench, kind));
}

void keepingUnedited(Workbench& bench, const std::function<void()>& change)
{
    const bool moleculeEdited = documentEdited(bench, FileList::Molecules);
    const bool sequenceEdited = documentEdited(bench, FileList::Sequences);
    change();
    if (!moleculeEdited)
        bench.documents().rebase(FileList::Molecules, documentText(bench, FileList::Molecules));
    if (!sequenceEdited)
        bench.documents().rebase(FileList::Sequences, documentText(bench, FileList::Sequences));
}

}  // namespace velmora::workbench
