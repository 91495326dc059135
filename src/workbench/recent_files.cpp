#include "workbench/recent_files.h"

#include "util/text_compare.h"
#include "util/text_file.h"

#include <algorithm>

namespace velmora::workbench {

namespace {

// A list of eight paths is a few kilobytes; anything far larger is not this list.
constexpr std::uintmax_t kMaxListBytes = 64 * 1024;

bool isDocumentPath(const std::filesystem::path& path)
{
    const std::string extension = path.extension().string();
    const std::string text = path.string();
    return text.find_first_of("\r\n") == std::string::npos && path.is_absolute() && path.has_filename() &&
           (util::equalsIgnoreCase(extension, ".mol") || util::equalsIgnoreCase(extension, ".psq"));
}

}  // namespace

RecentFiles::RecentFiles(std::filesystem::path file) : file_(std::move(file))
{
    const util::TextFileContent read = util::readTextLines(file_, kMaxListBytes);
    if (!read.ok)
        return;
    for (const std::string& line : read.lines) {
        const std::filesystem::path path(line);
        if (paths_.size() < kLength && isDocumentPath(path) &&
            std::find(paths_.begin(), paths_.end(), path) == paths_.end())
            paths_.push_back(path);
    }
}

std::filesystem::path RecentFiles::locationFor(const model::Workspace& workspace,
                                               const std::filesystem::path& workingDirectory)
{
    if (workspace.namedOnCommandLine || workspace.settingsFile.empty())
        return workingDirectory / kRecentFilesName;
    return workspace.settingsFile.parent_path() / kRecentFilesName;
}

bool RecentFiles::note(const std::filesystem::path& path)
{
    const std::filesystem::path normal = path.lexically_normal();
    if (!isDocumentPath(normal))
        return false;
    std::erase(paths_, normal);
    paths_.insert(paths_.begin(), normal);
    if (paths_.size() > kLength)
        paths_.resize(kLength);
    std::vector<std::string> lines;
    for (const std::filesystem::path& p : paths_)
        lines.push_back(p.string());
    return static_cast<bool>(util::writeTextFile(file_, lines));
}

}  // namespace velmora::workbench
