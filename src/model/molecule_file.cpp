#include "model/molecule_file.h"

#include "model/comma_fields.h"
#include "model/model_file_parser.h"
#include "util/number_format.h"
#include "util/text_file.h"

#include <cctype>
#include <string>
#include <vector>

namespace velmora::model {

namespace {

constexpr int kFormatMark = 14;            // the second field of line 1
constexpr std::size_t kMoleculeLines = 7;  // lines 8 to 10 are not read

std::string spinName(int k)
{
    return "spin " + std::to_string(k);
}

// A stored label is a nucleus letter followed by a number; it is renamed after its slot. Empty
// labels are refused: every spin the file announces must be there, so the spins fill slots 0..N-1.
std::optional<std::string> labelForSlot(std::string_view stored, int slot)
{
    if (stored.empty() || !nucleusFromLetter(stored.front()))
        return std::nullopt;
    for (char c : stored.substr(1)) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    }
    return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(stored.front())))) +
           std::to_string(slot);
}

std::string numbersLine(int count, auto valueOf)
{
    std::vector<std::string> fields;
    for (int k = 0; k < count; ++k)
        fields.push_back(util::formatGeneral(valueOf(k)));
    return joinFields(fields);
}

}  // namespace

std::vector<std::string> moleculeLines(const SpinSystem& system)
{
    const int n = system.spinCount();
    std::vector<std::string> labels;
    for (int k = 0; k < n; ++k)
        labels.push_back(system.label(k));

    std::vector<std::string> couplings;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            couplings.push_back(util::formatGeneral(system.couplingHz(i, j)));

    const std::vector<std::string> lines = {
        joinFields({std::to_string(n), std::to_string(kFormatMark), std::to_string(n)}),
        joinFields(labels),
        joinFields(labels),
        numbersLine(n, [&](int k) { return system.shiftPpm(k); }),
        joinFields(couplings),
        numbersLine(n, [&](int k) { return system.t1Ms(k); }),
        numbersLine(n, [&](int k) { return system.t2Ms(k); }),
        "spare,",
        "spare,",
        "spare,",
    };
    return lines;
}

util::Outcome writeMolecule(const std::filesystem::path& path, const SpinSystem& system)
{
    return util::writeTextFile(path, moleculeLines(system));
}

FileReadResult readMolecule(const std::filesystem::path& path, SpinSystem& system)
{
    if (!util::fileExists(path))
        return FileReadResult::missing();
    util::TextFileContent content = util::readTextLines(path, kLargestModelFile, kMoleculeLines);
    if (!content.ok)
        return FileReadResult::refused(content.error);
    return readMoleculeLines(std::move(content.lines), path.string(), system);
}

std::optional<std::string> spinCountProblem(int count)
{
    if (count >= 1 && count <= SpinSystem::kMaxSpins)
        return std::nullopt;
    return "the spin count " + std::to_string(count) + " is outside 1 to " + std::to_string(SpinSystem::kMaxSpins);
}

FileReadResult readMoleculeLines(std::vector<std::string> lines, const std::string& source, SpinSystem& system)
{
    if (lines.size() > kMoleculeLines)
        lines.resize(kMoleculeLines);
    ModelFileParser file(std::move(lines));
    SpinSystem next = system;
    for (int k = 0; k < SpinSystem::kSlots; ++k) {
        (void)next.setLabel(k, "");
        for (int j = 0; j < SpinSystem::kSlots; ++j)
            next.setCouplingHz(k, j, 0.0);
    }

    int n = 0;
    if (file.beginLine(1, "spin count"))
        n = file.wholeNumber("spin count").value_or(0);
    if (const std::optional<std::string> problem = spinCountProblem(n); problem && !file.failed())
        file.fail("line 1: " + *problem);

    if (file.beginLine(2, "spin labels")) {
        for (int k = 0; k < n; ++k) {
            const std::optional<std::string_view> stored = file.text("label of " + spinName(k));
            if (!stored)
                break;
            const std::optional<std::string> label = labelForSlot(*stored, k);
            if (!label) {
                file.fail("line 2, field " + std::to_string(k + 1) + ": \"" +
                          std::string(stored->substr(0, 20)) +
                          "\" is not a spin label (H, C or N followed by the spin number)");
                break;
            }
            (void)next.setLabel(k, *label);
        }
    }
    file.beginLine(3, "spin labels, second copy");

    if (file.beginLine(4, "chemical shifts"))
        for (int k = 0; k < n; ++k)
            if (auto v = file.singleNumber("shift of " + spinName(k)))
                next.setShiftPpm(k, *v);

    // J(j, i) follows J(i, j) for i < j, so the value at row j, column i is the one kept.
    if (file.beginLine(5, "J couplings"))
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (auto v = file.singleNumber("J(" + std::to_string(i) + ", " + std::to_string(j) + ")"))
                    next.setCouplingHz(i, j, *v);

    if (file.beginLine(6, "T1 times"))
        for (int k = 0; k < n; ++k)
            if (auto v = file.singleNumber("T1 of " + spinName(k)))
                next.setT1Ms(k, *v);
    if (file.beginLine(7, "T2 times"))
        for (int k = 0; k < n; ++k)
            if (auto v = file.singleNumber("T2 of " + spinName(k)))
                next.setT2Ms(k, *v);

    if (file.failed())
        return FileReadResult::refused("Cannot read the molecule file " + source + ": " +
                                       file.problem() + ".");
    next.rebuild();
    system = next;
    return FileReadResult::read();
}

}  // namespace velmora::model
