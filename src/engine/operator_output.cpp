#include "engine/operator_output.h"

#include "engine/operator_basis.h"
#include "util/number_format.h"
#include "util/text_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <span>
#include <vector>

namespace velmora::engine {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kFullPolarisation = 1e7;

std::string scaled(double coefficient)
{
    return util::formatPattern(coefficient / 1000.0, "#.000");
}

}  // namespace

std::string operatorName(int operatorIndex, const std::vector<std::string>& labels)
{
    static const char kComponent[] = {'E', 'x', 'y', 'z'};
    std::string name;
    for (std::size_t k = 0; k < labels.size() && k < static_cast<std::size_t>(kSpinSlots); ++k) {
        const int d = (operatorIndex / kStride[k]) % 4;
        if (d != 0)
            name += kComponent[d] + labels[k];
    }
    return name;
}

OperatorTable significantOperators(const OperatorRecord& record, const std::vector<std::string>& labels)
{
    std::vector<std::int32_t> significant = record.significant();
    std::sort(significant.begin(), significant.end(),
              [](std::int32_t a, std::int32_t b) { return listingKey(a) < listingKey(b); });
    OperatorTable table;
    const int kept = std::min(static_cast<int>(significant.size()), kMostListedOperators);
    table.leftOut = static_cast<int>(significant.size()) - kept;
    table.listed.assign(significant.begin(), significant.begin() + kept);
    for (int index : table.listed)
        table.names.push_back(operatorName(index, labels));
    return table;
}

double flipZDegrees(double z)
{
    return std::acos(std::clamp(z, -1.0, 1.0)) * 180.0 / kPi;
}

double flipXyDegrees(double r)
{
    return std::asin(std::clamp(r, 0.0, 1.0)) * 180.0 / kPi;
}

util::Outcome writeOperatorTable(const std::filesystem::path& path, const OperatorTable& table,
                                 const OperatorRecord& record, const std::string& arrayedName,
                                 const std::vector<double>& arrayedValues, std::string& header, int runCount)
{
    header = arrayedName;
    for (const std::string& name : table.names)
        header += "\t" + name;
    header += "\tflip_z\tflip_xy";

    std::vector<std::string> lines = {header};
    const int lastRun = runCount < 0 ? record.lastRun() : std::min(runCount - 1, record.lastRun());
    for (int r = 0; r <= lastRun; ++r) {
        const double value =
            r < static_cast<int>(arrayedValues.size()) ? arrayedValues[static_cast<std::size_t>(r)] : 0.0;
        std::string line = util::formatPattern(value, "#.000");
        for (int index : table.listed)
            line += "\t" + scaled(record.at(index, r));
        const double z = table.listed.empty() ? 0.0 : record.at(table.listed.back(), r) / kFullPolarisation;
        const double transverse =
            record.operatorCount() > 2 ? std::hypot(record.at(1, r), record.at(2, r)) : 0.0;
        line += "\t" + util::formatPattern(flipZDegrees(z), "#.000");
        line += "\t" + util::formatPattern(flipXyDegrees(transverse / kFullPolarisation), "#.000");
        lines.push_back(std::move(line));
    }
    return util::writeTextFile(path, lines);
}

}  // namespace velmora::engine
