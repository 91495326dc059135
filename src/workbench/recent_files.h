// The molecules and sequences opened or saved lately, newest first, so that the File frame can
// offer them again across sessions and folders. They are remembered as full paths, one a line
// with CR LF ends, in "recent-files.txt" beside the settings file, or in the working directory
// when the program was started in a directory the user named (nothing is made in the home
// folder then). A damaged list loses only its bad lines: a line that is not the path of a
// molecule or sequence file is left out, and no more than the list's length is kept.
#pragma once

#include "model/workspace.h"

#include <filesystem>
#include <vector>

namespace velmora::workbench {

inline constexpr const char* kRecentFilesName = "recent-files.txt";

class RecentFiles {
public:
    static constexpr std::size_t kLength = 8;

    // The list kept at `file`, read at once (missing or unreadable: empty).
    explicit RecentFiles(std::filesystem::path file);

    // Where the list of this workspace is kept, the program having started in `workingDirectory`.
    static std::filesystem::path locationFor(const model::Workspace& workspace,
                                             const std::filesystem::path& workingDirectory);

    // Newest first; files that have gone since are still listed (opening one says so).
    const std::vector<std::filesystem::path>& paths() const { return paths_; }

    // Puts `path` first (once) and writes the list whole; false when it could not be written.
    bool note(const std::filesystem::path& path);

private:
    std::filesystem::path file_;
    std::vector<std::filesystem::path> paths_;
};

}  // namespace velmora::workbench
