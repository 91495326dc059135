// The object-profile weighting of sampled runs: with one run its values are scaled by 1/1000;
// with several, the last run becomes the weighted sum of all the others, each run standing for one
// position along the object and weighted by the profile chosen in the object-profile box.
#pragma once

#include "engine/run_records.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora::processing {

// Weight of run r of R (R = last run index) for the profile "square", "shape1", "shape2" or
// "gauss"; any other name weighs every run 1.
double profileWeight(std::string_view profile, int r, int R);

// Applies the weighting to components 1..3 of points 1..np and returns the lines of
// "modDens.dat": run index, tab, weight, one line per weighted run.
std::vector<std::string> weightByObjectProfile(engine::SampleRecord& record, int pointCount, int lastRun,
                                               std::string_view profile);

}  // namespace velmora::processing
