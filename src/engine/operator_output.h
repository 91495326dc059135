// The product operators that carry amplitude at the point step, and their table "prodop.dat":
// one column per operator whose coefficient exceeds 10000 in magnitude (0.1 % of a fully polarised
// proton) in at least one run, against the arrayed value, with two flip angles of spin 0.
#pragma once

#include "engine/run_records.h"
#include "util/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::engine {

// "xH0zC2" for 2 I(0)x I(2)z: per spin in ascending order, the component letter and the spin label.
std::string operatorName(int operatorIndex, const std::vector<std::string>& labels);

struct OperatorTable {
    std::vector<int> listed;  // operator indices in listing order
    std::vector<std::string> names;
    int leftOut = 0;  // significant operators beyond the first 400
};

// Significant operators ordered by the number of spins in the product, then by index.
OperatorTable significantOperators(const OperatorRecord& record, const std::vector<std::string>& labels);

// flip_z: the angle arccos z in degrees, z the last listed operator's coefficient / 1e7 (0 when none
// is listed), clamped to -1..1 so that z = 1 gives 0 and z = -1 gives 180 degrees.
double flipZDegrees(double z);
// flip_xy: arcsin r in degrees, r the transverse magnitude of spin 0 / 1e7, clamped to 0..1.
double flipXyDegrees(double r);

// Writes "prodop.dat": header (arrayed name, operator names, "flip_z", "flip_xy") and one line per
// run, tab separated, values / 1000 in "#.000". Returns the header line through `header`. With
// `runCount` at 0 or more only runs 0..runCount - 1 get a line (the runs a stopped experiment did:
// the others hold no result, and a line of zeros would read as one).
util::Outcome writeOperatorTable(const std::filesystem::path& path, const OperatorTable& table,
                                 const OperatorRecord& record, const std::string& arrayedName,
                                 const std::vector<double>& arrayedValues, std::string& header,
                                 int runCount = -1);

}  // namespace velmora::engine
