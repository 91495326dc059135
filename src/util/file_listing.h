// Lists the files of one kind in a directory, such as the molecule or shaped-pulse files of the
// working directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::util {

// Names (without directory) of the regular files in `directory` whose extension, as
// std::filesystem::path::extension defines it, equals `extension` without regard to case.
// `extension` includes the dot (".rf"); a name that is only an extension, like ".rf", has none.
// The names are sorted in byte order ("B.rf" before "a.RF"). A missing or unreadable directory
// gives an empty list.
std::vector<std::string> listFilesWithExtension(const std::filesystem::path& directory,
                                                std::string_view extension);

// True for a plain file name that stays inside the directory it is appended to: not empty, no
// directory separator, not "." or "..". Names read from files must pass this before they are used.
bool isBareFileName(std::string_view name);

}  // namespace velmora::util
