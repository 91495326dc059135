#include "workbench/start_up.h"

#include "workbench/file_commands.h"
#include "workbench/remembered_options.h"
#include "workbench/workbench.h"

namespace velmora::workbench {

util::Outcome startUp(Workbench& bench, const model::WorkspaceRoots& roots, model::Workspace& workspace)
{
    if (util::Outcome opened = model::openWorkspace(roots, workspace); !opened)
        return opened;
    startUpIn(bench, workspace.workingDirectory);
    return util::Outcome::success();
}

void startUpIn(Workbench& bench, const std::filesystem::path& directory)
{
    bench.setWorkingDirectory(directory);
    bench.resetToDefaults();
    // Before the sequence: its preparation-only run saves the automatic copies, these options too.
    readRememberedOptions(bench, bench.pathOf(kRememberedOptions));
    openMolecule(bench, kAutomaticMolecule);
    openSequence(bench, kAutomaticSequence);
    bench.sequence().enforceAcquisitionRule();
    bench.spinSystem().rebuild();
    // The remembered model has no file name of its own; it starts unedited.
    markDocumentSaved(bench, FileList::Molecules, "");
    markDocumentSaved(bench, FileList::Sequences, "");
}

util::Outcome changeDirectory(Workbench& bench, model::Workspace& workspace,
                              const std::filesystem::path& directory)
{
    if (util::Outcome changed = model::changeWorkingDirectory(workspace, directory); !changed)
        return changed;
    bench.setWorkingDirectory(workspace.workingDirectory);
    return util::Outcome::success();
}

}  // namespace velmora::workbench
