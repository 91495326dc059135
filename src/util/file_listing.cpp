// Directory listing through the error_code forms of std::filesystem, so that nothing throws.
#include "util/file_listing.h"

#include "util/text_compare.h"

#include <algorithm>
#include <system_error>

namespace velmora::util {

namespace fs = std::filesystem;

std::vector<std::string> listFilesWithExtension(const fs::path& directory, std::string_view extension)
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(directory, ec);
    const fs::directory_iterator end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        const fs::path name = it->path().filename();
        if (equalsIgnoreCase(name.extension().string(), extension))
            names.push_back(name.string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isBareFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace velmora::util
