// Co-adding the runs of an array-from-file experiment in groups of G consecutive runs: group g is
// the sum of runs gG .. gG + G - 1 and becomes run g.
#pragma once

#include "engine/run_records.h"

namespace velmora::processing {

struct CoAddedSize {
    int lastRun = 0;    // last run / G, to the nearest integer (ties to even)
    int arraySize = 0;  // Ni / G, likewise
};

// Adds components 1..3 of points 1..np of every run into its group's slot and returns the new run
// count and array size. A group size below 2 leaves the record as it is.
CoAddedSize coAddRuns(engine::SampleRecord& record, int pointCount, int lastRun, int arraySize,
                      int groupSize);

}  // namespace velmora::processing
