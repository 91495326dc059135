#include "workbench/remembered_options.h"

#include "model/controls.h"
#include "util/text_file.h"
#include "workbench/workbench.h"

#include <string>
#include <vector>

namespace velmora::workbench {

namespace {

constexpr std::string_view kStrongCoupling = "strong-coupling,";

}  // namespace

util::Outcome saveRememberedOptions(const Workbench& bench, const std::filesystem::path& path)
{
    const bool strong = bench.controls().checked(model::ctl::StrongCoupling);
    return util::writeTextFile(path, {std::string(kStrongCoupling) + (strong ? "1," : "0,")});
}

void readRememberedOptions(Workbench& bench, const std::filesystem::path& path)
{
    if (!util::fileExists(path))
        return;
    const util::TextFileContent content = util::readTextLines(path, 1u << 16, 64);
    if (!content.ok)
        return;
    for (const std::string& line : content.lines) {
        if (line == std::string(kStrongCoupling) + "1,")
            bench.controls().setChecked(model::ctl::StrongCoupling, true);
        else if (line == std::string(kStrongCoupling) + "0,")
            bench.controls().setChecked(model::ctl::StrongCoupling, false);
    }
}

std::filesystem::path optionsBeside(const std::filesystem::path& sequenceFile)
{
    std::filesystem::path options = sequenceFile;
    options.replace_extension(".options");
    return options;
}

}  // namespace velmora::workbench
